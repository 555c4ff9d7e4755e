// Reads the code page 936 tables out of iconv, one character at a time.
#include <iconv.h>

#include <memory>
#include <type_traits>

#include "codec/cp936_tables.h"

namespace sharelink::cp936 {
namespace {

struct IconvCloser {
  void operator()(iconv_t cd) const { iconv_close(cd); }
};
using Iconv = std::unique_ptr<std::remove_pointer_t<iconv_t>, IconvCloser>;

/// Opens a converter for code page 936 in the given direction. glibc knows the
/// code page as "CP936" (with the euro sign at 0x80); "GBK" is the fallback name.
Iconv open_cp936(bool to_cp936) {
  for (const char* name : {"CP936", "GBK"}) {
    iconv_t cd = to_cp936 ? iconv_open(name, "UTF-16LE") : iconv_open("UTF-16LE", name);
    if (cd != reinterpret_cast<iconv_t>(-1)) return Iconv(cd);
  }
  return nullptr;
}

/// Converts exactly `in_len` bytes; returns the number of bytes written, or 0
/// when iconv refused or left input over.
size_t convert(iconv_t cd, const char* in, size_t in_len, char* out, size_t out_len) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in_ptr = const_cast<char*>(in);
  char* out_ptr = out;
  size_t in_left = in_len, out_left = out_len;
  if (iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<size_t>(-1) || in_left != 0) {
    return 0;
  }
  return out_len - out_left;
}

}  // namespace

tables read_from_iconv() {
  tables t{};
  for (unsigned u = 1; u < 0x80; ++u) t.from_unit[u] = static_cast<uint16_t>(u);

  if (Iconv enc = open_cp936(true)) {
    for (unsigned u = 0x80; u < 0x10000; ++u) {
      if (u >= 0xD800 && u <= 0xDFFF) continue;
      const char in[2] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
      unsigned char out[8];
      const size_t n = convert(enc.get(), in, 2, reinterpret_cast<char*>(out), sizeof out);
      if (n == 1 && out[0] >= 0x80) {
        t.from_unit[u] = out[0];
      } else if (n == 2 && out[0] >= kFirstLead && out[0] <= kLastLead) {
        t.from_unit[u] = static_cast<uint16_t>(out[0] << 8 | out[1]);
      }
    }
  }

  if (Iconv dec = open_cp936(false)) {
    unsigned char out[8];
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
      const char in[1] = {static_cast<char>(b)};
      if (convert(dec.get(), in, 1, reinterpret_cast<char*>(out), sizeof out) == 2) {
        t.from_high_byte[b - 0x80] = static_cast<uint16_t>(out[0] | out[1] << 8);
      }
    }
    for (unsigned lead = kFirstLead; lead <= kLastLead; ++lead) {
      for (unsigned trail = kFirstTrail; trail <= kLastTrail; ++trail) {
        const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        if (convert(dec.get(), in, 2, reinterpret_cast<char*>(out), sizeof out) != 2) continue;
        const auto unit = static_cast<uint16_t>(out[0] | out[1] << 8);
        if (unit >= 0xD800 && unit <= 0xDFFF) continue;
        t.from_pair[(lead - kFirstLead) * kTrailCount + (trail - kFirstTrail)] = unit;
      }
    }
  }
  return t;
}

}  // namespace sharelink::cp936
