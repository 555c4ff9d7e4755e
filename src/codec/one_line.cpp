#include "codec/one_line.h"

#include <ostream>

#include "codec/utf8.h"

namespace sharelink {
namespace {

/// Whether the character `c` is one that one_line replaces by a space.
constexpr bool steers(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

}  // namespace

std::string one_line(std::string_view text) {
  const std::string mended = repair_utf8(text);
  std::string line;
  line.reserve(mended.size());
  for (std::size_t at = 0; at < mended.size();) {
    const utf8_char c = read_utf8(mended, at);
    const std::size_t length = c.length == 0 ? 1 : c.length;  // never 0: the text is mended
    if (steers(c.code_point)) line += ' ';
    else line.append(mended, at, length);
    at += length;
  }
  return line;
}

void write_line(std::ostream& out, std::string_view text) { out << one_line(text) << '\n'; }

}  // namespace sharelink
