#pragma once
#include <iosfwd>
#include <string>
#include <string_view>

namespace sharelink {

/// `text` made safe to show as one line of a terminal: every control character
/// becomes a space, so that it stays on one line and cannot steer the terminal (the
/// bytes below 0x20 and 0x7F; the C1 controls U+0080 to U+009F, which some
/// terminals obey as they obey ESC; the line and paragraph separators U+2028 and
/// U+2029), and so does each bidirectional embedding, override or isolate (U+202A
/// to U+202E, U+2066 to U+2069), which would show the text around it in another
/// order than it has ("exe.txt" for "txt.exe"). Bytes that are not UTF-8 become
/// U+FFFD, as utf8_to_local mends them. Everything else stays as it is.
std::string one_line(std::string_view text);

/// Writes one_line(`text`) and a line break to `out`: the way every line the
/// command writes to standard error about an address, a file, a rule file or its
/// configuration goes out.
void write_line(std::ostream& out, std::string_view text);

}  // namespace sharelink
