#pragma once
// The rules of the public suffix list, made at build time (public_suffix_gen.cpp):
// sorted, each in lower case with its labels in their ASCII ("xn--") form; a
// wildcard rule starts with "*.", an exception with "!".
#include <cstddef>
#include <string_view>

namespace sharelink {

extern const std::string_view public_suffix_rules[];
extern const std::size_t public_suffix_rule_count;

}  // namespace sharelink
