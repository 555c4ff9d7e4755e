#pragma once
// Character classes and case folding follow the Windows user locale.
#include <boost/regex.hpp>
// mingw does not get these traits from <boost/regex.hpp> alone.
#include <boost/regex/v5/w32_regex_traits.hpp>

namespace sharelink {
using regex_traits = boost::w32_regex_traits<char>;
}  // namespace sharelink
