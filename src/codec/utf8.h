#pragma once
// UTF-8: writing code points, and reading bytes that may not be well formed.
#include <cstddef>
#include <string>
#include <string_view>

#include "codec/local_text.h"

namespace sharelink {

/// Appends `code_point` to `out` as UTF-8 (one to four bytes). The caller passes a
/// Unicode scalar value; nothing is checked.
void append_utf8(std::string& out, char32_t code_point);

/// A character read from UTF-8: its code point and how many bytes it took.
struct utf8_char {
  char32_t code_point;
  std::size_t length;  ///< 1 to 4; 0 when no well-formed character begins there
};

/// The character that begins at byte `at` of `text` (which must lie inside it).
/// Well formed means the shortest form of a scalar value: no surrogates, nothing
/// above U+10FFFF, no overlong forms, and the sequence complete within `text`.
utf8_char read_utf8(std::string_view text, std::size_t at);

/// Whether every byte of `text` belongs to a well-formed character.
bool is_utf8(std::string_view text);

/// `text` with each maximal run of bytes that cannot begin or continue a
/// well-formed character (as Unicode describes the substitution) replaced by
/// U+FFFD; well-formed characters are kept as they are.
std::string repair_utf8(std::string_view text);

/// Bytes from outside the program as local text, where they come in (a page's
/// bytes, a widget's text, what percent escapes spell): the bytes up to the first
/// zero byte, repaired as repair_utf8 does.
local_text utf8_to_local(std::string_view utf8);

}  // namespace sharelink
