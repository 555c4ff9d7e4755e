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

/// Looks through a TOML text (UTF-8) for characters outside ASCII where the TOML
/// reader (toml++ 3.3) would ask its Unicode whitespace table about them: outside
/// strings and comments, where TOML allows none anyway, and first after a
/// line-ending backslash in a multi-line basic string (or right after a backslash
/// there). For some characters (U+02E0, U+2E80, ...) that table reaches a branch
/// its authors marked unreachable, so a text holding one must not be parsed.
/// Gives the first such place, or nothing. A byte-order mark at the start is
/// passed over; bytes that are not UTF-8 are left for the reader to refuse.
std::optional<toml_precheck_problem> precheck_toml(std::string_view text);

}  // namespace sharelink
