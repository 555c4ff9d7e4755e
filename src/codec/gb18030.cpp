#include "codec/gb18030.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "codec/gb18030_tables.h"
#include "codec/hex_escape.h"
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

/// The character that begins at byte `i`: its code point and how many bytes it
/// takes, 0 when no character begins there.
struct gb_char {
  char32_t code_point;
  std::size_t length;
};

gb_char found(char32_t code_point, std::size_t length) {
  return code_point == 0 ? gb_char{0, 0} : gb_char{code_point, length};
}

gb_char read_gb18030(std::string_view bytes, std::size_t i) {
  const auto byte = [&](std::size_t k) -> unsigned {
    return k < bytes.size() ? static_cast<unsigned char>(bytes[k]) : 0x100;  // 0x100: past the end
  };
  const unsigned lead = byte(i);
  if (lead < 0x80) return {lead, 1};
  if (!is_lead(lead)) return {0, 0};
  const unsigned second = byte(i + 1);
  if (const int trail = gb18030::trail_index(second); trail >= 0)
    return found(gb18030::built_in_two_byte[(lead - kFirstLead) * gb18030::kTrailCount + static_cast<unsigned>(trail)], 2);
  if (is_digit(second) && is_lead(byte(i + 2)) && is_digit(byte(i + 3))) {
    const std::uint32_t n = (((lead - kFirstLead) * 10 + (second - 0x30)) * gb18030::kLeadCount +
                             (byte(i + 2) - kFirstLead)) * 10 + (byte(i + 3) - 0x30);
    return found(four_byte_code_point(n), 4);
  }
  return {0, 0};
}

/// How many bytes from `i` on are ASCII, which reads the same in both (most of a page).
std::size_t ascii_run(std::string_view bytes, std::size_t i) {
  std::size_t end = i;
  // Eight bytes at a time while none has its top bit set, then byte by byte.
  for (std::uint64_t eight; bytes.size() - end >= sizeof eight; end += sizeof eight) {
    std::memcpy(&eight, bytes.data() + end, sizeof eight);
    if ((eight & 0x8080808080808080u) != 0) break;
  }
  while (end < bytes.size() && static_cast<unsigned char>(bytes[end]) < 0x80) ++end;
  return end - i;
}

/// `bytes` read as GB18030 into UTF-8; a byte that begins no character becomes
/// U+FFFD when `replacing`, else ends the reading with nothing.
std::optional<std::string> read_as_gb18030(std::string_view bytes, bool replacing) {
  std::string out;
  out.reserve(bytes.size() * 3 / 2);
  for (std::size_t i = 0; i < bytes.size();) {
    if (const std::size_t ascii = ascii_run(bytes, i)) {
      out.append(bytes.substr(i, ascii));
      i += ascii;
      continue;
    }
    const gb_char c = read_gb18030(bytes, i);
    if (c.length == 0) {
      if (!replacing) return std::nullopt;
      out += "\xEF\xBF\xBD";
      i += 1;
    } else {
      append_utf8(out, c.code_point);
      i += c.length;
    }
  }
  return out;
}

}  // namespace

std::optional<std::string> gb18030_to_utf8(std::string_view bytes) { return read_as_gb18030(bytes, false); }

std::string gb18030_to_utf8_replacing(std::string_view bytes) { return *read_as_gb18030(bytes, true); }

std::string utf8_or_gb18030(std::string_view bytes, broken_bytes broken) {
  const std::string_view text = as_local(bytes);
  if (is_utf8(text)) return std::string(text);
  if (std::optional<std::string> read = gb18030_to_utf8(text)) return std::move(*read);
  if (broken == broken_bytes::replaced) return utf8_to_local(text);
  std::string escaped;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = read_utf8(text, i).length;
    if (length == 0) {
      append_percent_escape(escaped, static_cast<unsigned char>(text[i++]));
    } else {
      escaped.append(text.substr(i, length));
      i += length;
    }
  }
  return escaped;
}

}  // namespace sharelink
