#pragma once
// What the window program says about itself, without opening a window.
#include <optional>
#include <string>
#include <vector>

namespace sharelink::app {

/// The text `sharelink-gui` prints instead of opening its window: its version for
/// --version, a short summary for --help (or -h); nothing for other arguments,
/// which are left to the toolkit. `args` are the arguments after the program name.
std::optional<std::string> program_help(const std::vector<std::string>& args);

}  // namespace sharelink::app
