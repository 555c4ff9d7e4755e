#pragma once
// What the command needs from the platform around its process.
#include <string>
#include <vector>

namespace sharelink::cli {

/// Readies the standard streams: a write to a closed pipe fails as an error the
/// command can see instead of ending the process with a signal, and a console
/// takes UTF-8 in and out.
void prepare_standard_streams();

/// The command-line arguments after the program name, as UTF-8.
std::vector<std::string> utf8_arguments(int argc, char** argv);

}  // namespace sharelink::cli
