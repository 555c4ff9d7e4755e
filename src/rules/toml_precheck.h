#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace sharelink {

/// Where a TOML text holds a character that must not reach the TOML reader.
struct toml_precheck_problem {
  int line = 0;    ///< 1-based
  int column = 0;  ///< 1-based, in characters, as the TOML reader counts them
  std::string what;
};

/// A TOML text (UTF-8) made safe for the TOML reader (toml++ 3.3), or where it
/// cannot be. That reader asks its Unicode whitespace table about characters
/// outside ASCII in some places, and for some characters (U+02E0, U+2E80, ...) the
/// table reaches a branch its authors marked unreachable. The places:
/// - outside strings and comments, where TOML allows no such character anyway:
///   the text is refused there (`problem`);
/// - right after a backslash in a multi-line basic string, or after a backslash
///   and blanks on the same line: refused too, since TOML allows neither;
/// - first after a line-ending backslash in a multi-line basic string, where TOML
///   allows it: `text` holds it as the escape \UXXXXXXXX instead, which means the
///   same character (columns after it on that line move on by a few).
/// And a table header whose "[" or "[[" and blanks are followed by anything but
/// a key's first character, a quote or "]" ("[[[", "[ ,"): the reader asserts
/// there, so it is refused too.
/// A byte-order mark at the start is passed over; bytes that are not UTF-8 are
/// left for the reader to refuse.
struct toml_precheck {
  std::string text;  ///< what to give the reader, when there is no problem
  std::optional<toml_precheck_problem> problem;
};
toml_precheck precheck_toml(std::string_view text);

}  // namespace sharelink
