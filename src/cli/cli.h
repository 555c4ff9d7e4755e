#pragma once
#include <iosfwd>
#include <string>
#include <vector>

namespace sharelink::cli {

/// Runs the sharelink command with `args` (without the program name), reading
/// addresses from `in` when none are given. Returns the exit status.
int run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err);

}  // namespace sharelink::cli
