#pragma once
// Writing code points as UTF-8.
#include <string>

namespace sharelink {

/// Appends `code_point` to `out` as UTF-8 (one to four bytes). The caller passes a
/// Unicode scalar value; nothing is checked.
void append_utf8(std::string& out, char32_t code_point);

}  // namespace sharelink
