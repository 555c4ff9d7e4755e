// The rule-file reader on arbitrary text, and a rule that reads applied to the
// same bytes as a page, and as the saved answer of each of its steps.
#include <cstdint>
#include <string>
#include <map>
#include <variant>
#include <vector>

#include "check.h"
#include "reading/file_type.h"
#include "rules/rule.h"
#include "reading/rule_reading.h"
#include "resolve/service_resolve.h"

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
  // The whole path, pages and steps for files included, offline: each step reads
  // the same bytes, a paged one twice.
  std::map<std::string, std::vector<std::string>> saved = {{"page", {std::string(text)}}};
  for (const step_rule& step : rule.steps) saved[step.name] = {std::string(text), std::string(text)};
  resolve_settings settings;
  settings.saved = &saved;
  settings.password = "pw";
  const service_resolution found = resolve_service(rule, "https://share.example/s/1", settings);
  check(found.read.reading.files.size() <= most_files, "more files than most_files");
  for (const file_record& f : found.read.reading.files)
    check(f.error || f.download_url.empty() || f.download_url.find("://") != std::string::npos ||
              f.download_url.starts_with("http"),
          "a relative download address that was not made absolute");
  return 0;
}
