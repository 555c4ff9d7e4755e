#pragma once
// Regex traits for POSIX systems: the C++ locale traits pinned to the classic
// locale, so that character classes, case folding and number parsing inside
// patterns never follow the process locale. Bytes of 0x80 and above belong to
// no class and have no case.
#include <locale>

#include <boost/regex.hpp>

namespace sharelink {

/// Traits of every compiled pattern: boost's locale traits imbued with the "C" locale.
class regex_traits : public boost::cpp_regex_traits<char> {
 public:
  regex_traits() { imbue(std::locale::classic()); }
};

}  // namespace sharelink
