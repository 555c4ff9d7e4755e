// Reads the GB18030 tables out of iconv, one code at a time.
#include <iconv.h>

#include <memory>
#include <type_traits>

#include "codec/gb18030_tables.h"

namespace sharelink::gb18030 {
namespace {

struct IconvCloser {
  void operator()(iconv_t cd) const { iconv_close(cd); }
};
using Iconv = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

/// The code point that `code` stands for, or 0 when iconv refuses it.
std::uint32_t decode(iconv_t cd, const unsigned char* code, std::size_t length) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(reinterpret_cast<const char*>(code));
  unsigned char out[8];
  char* out_ptr = reinterpret_cast<char*>(out);
  std::size_t in_left = length, out_left = sizeof out;
  if (iconv(cd, &in, &in_left, &out_ptr, &out_left) == static_cast<std::size_t>(-1) || in_left != 0 ||
      sizeof out - out_left != 4) {
    return 0;
  }
  return std::uint32_t{out[0]} << 24 | std::uint32_t{out[1]} << 16 | std::uint32_t{out[2]} << 8 | out[3];
}

}  // namespace

tables read_from_iconv() {
  tables t;
  iconv_t opened = iconv_open("UTF-32BE", "GB18030");
  if (opened == reinterpret_cast<iconv_t>(-1)) return t;
  const Iconv cd(opened);

  t.two_byte.assign(kLeadCount * kTrailCount, 0);
  for (unsigned lead = kFirstLead; lead <= kLastLead; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail_index(trail) < 0) continue;
      const unsigned char code[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
      t.two_byte[(lead - kFirstLead) * kTrailCount + static_cast<unsigned>(trail_index(trail))] =
          decode(cd.get(), code, 2);
    }
  }

  std::uint32_t expected = 1;  // the code point that would continue the current run
  for (std::uint32_t n = 0; n < kFourByteCount; ++n) {
    const unsigned char code[4] = {
        static_cast<unsigned char>(kFirstLead + n / 12600), static_cast<unsigned char>(0x30 + n / 1260 % 10),
        static_cast<unsigned char>(kFirstLead + n / 10 % kLeadCount), static_cast<unsigned char>(0x30 + n % 10)};
    const std::uint32_t cp = decode(cd.get(), code, 4);
    const bool continues = t.four_byte.empty() ? false : (cp == 0 ? expected == 0 : cp == expected);
    if (!continues) t.four_byte.push_back({n, cp});
    expected = cp == 0 ? 0 : cp + 1;
  }
  return t;
}

}  // namespace sharelink::gb18030
