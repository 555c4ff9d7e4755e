#pragma once
// Conversion between UTF-8 and local text. Local text is UTF-8 on every
// platform (the Windows build turns it into UTF-16 at the system's edges), so
// both directions only make sure the result is well formed.
#include <string>
#include <string_view>

#include "codec/local_text.h"

namespace sharelink {

/// UTF-8 bytes to local text, read leniently: the bytes up to the first zero
/// byte (U+0000 ends the text), with one U+FFFD for each maximal run of bytes
/// that is not well-formed UTF-8.
local_text utf8_to_local(std::string_view utf8);

/// Local text to UTF-8 (for terminals, JSON and widgets): the same repair, so
/// that what leaves the program is always well-formed UTF-8.
std::string local_to_utf8(std::string_view local);

}  // namespace sharelink
