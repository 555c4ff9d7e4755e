#pragma once
// The command run inside the test's own process, as the tests of its options and
// output drive it.
#include <istream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli.h"

namespace sharelink::testing {

/// What a run of the command gave back.
struct command_run {
  int status;
  std::string out, err;
};

/// Runs the command with `args`, `input` as its standard input.
inline command_run run_command(const std::vector<std::string>& args, const std::string& input = {}) {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int status = cli::run(args, in, out, err);
  return {status, out.str(), err.str()};
}

/// The JSON objects of `out`, one a line.
inline std::vector<nlohmann::json> json_lines(const std::string& out) {
  std::vector<nlohmann::json> objects;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) objects.push_back(nlohmann::json::parse(line));
  return objects;
}

}  // namespace sharelink::testing
