#include <csignal>

#include "cli/process.h"

namespace sharelink::cli {

void prepare_standard_streams() { std::signal(SIGPIPE, SIG_IGN); }

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace sharelink::cli
