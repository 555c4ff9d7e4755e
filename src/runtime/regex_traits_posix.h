#pragma once
#include <boost/regex.hpp>
// STUB
namespace sharelink { using regex_traits = boost::regex_traits<char>; }
