#include "codec/gb18030.h"

#include <algorithm>
#include <cstdint>

#include "codec/gb18030_tables.h"
#include "codec/utf8.h"

namespace sharelink {

namespace {

using gb18030::kFirstLead;
using gb18030::kLastLead;

bool is_lead(unsigned b) { return b >= kFirstLead && b <= kLastLead; }
bool is_digit(unsigned b) { return b >= 0x30 && b <= 0x39; }

/// The code point of four-byte code number `n`, or 0 when it stands for nothing.
char32_t four_byte_code_point(std::uint32_t n) {
  const gb18030::range* begin = gb18030::built_in_four_byte;
  const gb18030::range* end = begin + gb18030::built_in_four_byte_count;
  // The last run that begins at or before n.
  const gb18030::range* run =
      std::upper_bound(begin, end, n, [](std::uint32_t value, const gb18030::range& r) { return value < r.first; });
  if (run == begin) return 0;
  --run;
  return run->code_point == 0 ? 0 : run->code_point + (n - run->first);
}

}  // namespace

std::optional<std::string> gb18030_to_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  const auto byte = [&](std::size_t i) -> unsigned {
    return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100;  // 0x100: past the end
  };
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned lead = byte(i);
    char32_t cp = 0;
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      i += 1;
      continue;
    }
    if (!is_lead(lead)) return std::nullopt;
    const unsigned second = byte(i + 1);
    if (const int trail = gb18030::trail_index(second); trail >= 0) {
      cp = gb18030::built_in_two_byte[(lead - kFirstLead) * gb18030::kTrailCount + static_cast<unsigned>(trail)];
      i += 2;
    } else if (is_digit(second) && is_lead(byte(i + 2)) && is_digit(byte(i + 3))) {
      const std::uint32_t n = (((lead - kFirstLead) * 10 + (second - 0x30)) * gb18030::kLeadCount +
                               (byte(i + 2) - kFirstLead)) * 10 + (byte(i + 3) - 0x30);
      cp = four_byte_code_point(n);
      i += 4;
    }
    if (cp == 0) return std::nullopt;
    append_utf8(out, cp);
  }
  return out;
}

}  // namespace sharelink
