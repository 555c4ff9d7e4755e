#include "codec/char_refs.h"

#include <array>
#include <cstdint>
#include <string>

#include "codec/hex_escape.h"
#include "codec/utf8.h"

namespace sharelink {
namespace {

constexpr std::uint32_t kLastCodePoint = 0x10FFFF;

int digit_value(char c, bool hex) {
  if (hex) return hex_value(c);
  return c >= '0' && c <= '9' ? c - '0' : -1;
}

/// The code point of a numeric reference starting at `text[at]` (just after the
/// "&#") and the length of what follows the "&#" up to and including the ";".
/// Zero length when it is not a reference of an allowed value.
struct numeric_ref {
  std::uint32_t value = 0;
  std::size_t length = 0;
};

numeric_ref read_numeric(std::string_view text, std::size_t at) {
  std::size_t i = at;
  const bool hex = i < text.size() && (text[i] == 'x' || text[i] == 'X');
  if (hex) ++i;
  const std::size_t digits_start = i;
  std::uint32_t value = 0;
  bool too_large = false;
  for (int digit; i < text.size() && (digit = digit_value(text[i], hex)) >= 0; ++i) {
    // Past the last code point the value stays out of range however long the run.
    if (!too_large) value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    if (value > kLastCodePoint) too_large = true;
  }
  if (i == digits_start || i >= text.size() || text[i] != ';') return {};
  if (too_large || value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return {};
  return {value, i + 1 - at};
}


struct named_ref {
  std::string_view name;  // between "&" and ";"
  char character;
};
constexpr std::array<named_ref, 5> named_refs = {{
    {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''},
}};

}  // namespace

local_text decode_char_refs(std::string_view text) {
  const std::string_view in = as_local(text);
  local_text out;
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    // '&' is never the second byte of a double-byte character, so a byte walk is safe.
    const std::size_t amp = in.find('&', i);
    if (amp != i) {
      const std::size_t end = amp == std::string_view::npos ? in.size() : amp;
      out.append(in.substr(i, end - i));
      i = end;
      continue;
    }
    const std::string_view rest = in.substr(amp + 1);
    if (!rest.empty() && rest[0] == '#') {
      const numeric_ref ref = read_numeric(rest, 1);
      if (ref.length > 0) {
        append_utf8(out, ref.value);
        i = amp + 2 + ref.length;
        continue;
      }
    } else {
      bool matched = false;
      for (const named_ref& ref : named_refs) {
        if (rest.size() > ref.name.size() && rest.starts_with(ref.name) && rest[ref.name.size()] == ';') {
          out.push_back(ref.character);
          i = amp + 2 + ref.name.size();
          matched = true;
          break;
        }
      }
      if (matched) continue;
    }
    out.push_back('&');
    i = amp + 1;
  }
  return out;
}

}  // namespace sharelink
