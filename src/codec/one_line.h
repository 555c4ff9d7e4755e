#pragma once
#include <string>
#include <string_view>

namespace sharelink {

/// `text` with every control character replaced by a space, so that it stays on
/// one line and cannot steer a terminal: the bytes below 0x20 and 0x7F, and the C1
/// controls U+0080 to U+009F as UTF-8 writes them (one space for their two bytes),
/// which some terminals obey as they obey ESC.
std::string one_line(std::string_view text);

}  // namespace sharelink
