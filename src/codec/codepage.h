#pragma once
// Conversion between UTF-8 and local text (code page 936 on Linux, the ANSI
// code page on Windows). The platform half lives in codepage_<platform>.cpp.
#include <string>
#include <string_view>

#include "runtime/text.h"

namespace sharelink {

/// UTF-8 bytes to local text, read leniently: one U+FFFD per maximal invalid
/// subsequence, characters the code page lacks become '?' (one per UTF-16 unit),
/// and the result ends at the first U+0000.
local_text utf8_to_local(std::string_view utf8);

/// Local text to UTF-8 (for terminals, JSON and widgets). Bytes that do not form a
/// character of the code page become U+FFFD. Stops at the first zero byte.
std::string local_to_utf8(std::string_view local);

}  // namespace sharelink
