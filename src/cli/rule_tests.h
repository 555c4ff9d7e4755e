#pragma once
// The tests a rule file carries ([[tests]]): saved answers and what the command
// should make of them, run without a network.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "rules/rule.h"
#include "rules/services.h"

namespace sharelink::cli {

/// One thing a test expects, under the name its `expect` table gives it.
struct rule_expectation {
  std::string key;  ///< download_url, file_name, file_type, size, md5, files or error_kind
  std::variant<std::string, std::int64_t> value;
};

/// One [[tests]] entry of a rule file.
struct rule_test {
  std::string name;  ///< as given, else "test N"
  std::optional<std::string> address;   ///< the share address it pretends
  std::string page;                     ///< the share page's saved answer, relative to the rule file
  /// Each step's saved answers, relative to the rule file; a step named more than
  /// once is given its pages in turn.
  std::vector<std::pair<std::string, std::string>> steps;
  std::optional<std::string> password;
  std::vector<rule_expectation> expect;
  int line = 0;  ///< where it stands in the file
};

/// The [[tests]] of a rule file whose rule read well (`rule` is what read_rule made
/// of `toml_text`). Every key is checked as the rule's are: an unknown key, a value
/// of the wrong kind, a step the rule does not have, an error kind that is none is
/// the problem returned, at its place.
std::variant<std::vector<rule_test>, rule_problem> read_rule_tests(std::string_view toml_text,
                                                                   const service_rule& rule);

/// Runs `test` with the service `which` on its saved answers, read from the folder
/// `folder` (UTF-8; the rule file's). Nothing when the command's reading gives what
/// the test expects (and no error when it expects none); otherwise what differs,
/// "expected …, got …" for each expectation that failed, joined by "; ", or why
/// the test could not run (a saved answer that cannot be read).
std::optional<std::string> run_rule_test(const rule_test& test, const service_entry& which,
                                         const std::string& folder);

}  // namespace sharelink::cli
