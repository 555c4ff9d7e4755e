// The rule-file reader on arbitrary text, and a rule that reads applied to the
// same bytes as a page.
#include <cstdint>
#include <string>
#include <variant>

#include "check.h"
#include "reading/file_type.h"
#include "rules/rule.h"
#include "reading/rule_reading.h"

using namespace sharelink;
using fuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto read = read_rule(text);
  if (auto* problem = std::get_if<rule_problem>(&read)) {
    check(problem->line >= 0 && problem->column >= 0, "a negative place");
    const std::string line = describe(*problem, "f.toml");
    check(line.starts_with("f.toml"), "the problem does not name the file");
    return 0;
  }
  const service_rule& rule = std::get<service_rule>(read);
  check(!rule.name.empty() && rule.steps.size() <= most_steps, "a rule read with no name or too many steps");
  for (const step_rule& step : rule.steps)
    check(step.address.starts_with("http://") || step.address.starts_with("https://"), "a step that is not http");
  const rule_reading reading = read_with_rule(rule, {{"page", to_text(text)}});
  check(reading.reading.files.size() <= most_files, "more files than most_files");
  for (const file_record& f : reading.reading.files)
    check(f.file_type == classify_file_type(f.file_name), "a file type that does not follow from the name");
  return 0;
}
