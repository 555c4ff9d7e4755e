#include "cli/rule_check.h"

#include <filesystem>
#include <ostream>
#include <variant>

#include <toml++/toml.h>

#include "cli/process.h"
#include "cli/rule_tests.h"
#include "codec/one_line.h"
#include "rules/toml_precheck.h"

namespace sharelink::cli {
namespace {

/// A rule file that read well, with its tests.
struct checked_file {
  std::string path;
  std::string text;
  service_entry service;
  std::vector<rule_test> tests;
};

/// Where the top-level `key` of a TOML text that reads well stands; 0, 0 when
/// it is not there.
rule_problem place_of(std::string_view text, std::string_view key, std::string what) {
  rule_problem at{0, 0, std::move(what)};
  try {
    const toml::table root = toml::parse(precheck_toml(text).text);
    if (const toml::node* node = root.get(key)) {
      at.line = static_cast<int>(node->source().begin.line);
      at.column = static_cast<int>(node->source().begin.column);
    }
  } catch (const toml::parse_error&) {
  }
  return at;
}

/// The rule file at `path` read strictly, or the one line that says why not.
std::variant<checked_file, std::string> check_file(const std::string& path, std::vector<std::string>& warnings) {
  std::error_code error;
  if (std::filesystem::is_directory(std::filesystem::u8path(path), error)) return path + ": a folder, not a rule file";
  checked_file file{path, {}, {{}, path}, {}};
  std::string reason;
  bool cut = false;
  std::optional<std::string> text = read_whole_file(path, largest_rule_file, cut, reason);
  if (!text) return path + ": cannot be read: " + reason;
  if (cut) return path + ": larger than " + std::to_string(largest_rule_file) + " bytes; not a rule file";
  file.text = std::move(*text);
  std::vector<rule_problem> found;
  auto rule = read_rule(file.text, &found);
  if (const auto* problem = std::get_if<rule_problem>(&rule)) return describe(*problem, path);
  file.service.rule = std::move(std::get<service_rule>(rule));
  for (const rule_problem& warning : found) warnings.push_back(describe(warning, path));
  auto tests = read_rule_tests(file.text, file.service.rule);
  if (const auto* problem = std::get_if<rule_problem>(&tests)) return describe(*problem, path);
  file.tests = std::move(std::get<std::vector<rule_test>>(tests));
  return file;
}

/// An address a service's tests pretend to read.
struct example_address {
  std::string service;
  std::string address;
};

std::vector<example_address> examples_of(const service_rule& rule, const std::vector<rule_test>& tests) {
  std::vector<example_address> examples;
  for (const rule_test& test : tests)
    if (test.address) examples.push_back({rule.name, *test.address});
  return examples;
}

/// The example addresses of the built-in services.
std::vector<example_address> built_in_examples() {
  std::vector<example_address> examples;
  for (const built_in_rule& built_in : built_in_rules) {
    auto rule = read_rule(built_in.text);
    if (!std::holds_alternative<service_rule>(rule)) continue;
    auto tests = read_rule_tests(built_in.text, std::get<service_rule>(rule));
    if (!std::holds_alternative<std::vector<rule_test>>(tests)) continue;
    for (example_address& e : examples_of(std::get<service_rule>(rule), std::get<std::vector<rule_test>>(tests)))
      examples.push_back(std::move(e));
  }
  return examples;
}

/// The warnings that need every file: addresses that claim another service's
/// example, and two files of one service.
void warn_across(const std::vector<checked_file>& files, std::vector<std::string>& warnings) {
  std::vector<example_address> examples = built_in_examples();
  for (const checked_file& file : files)
    for (example_address& e : examples_of(file.service.rule, file.tests)) examples.push_back(std::move(e));
  for (std::size_t i = 0; i < files.size(); ++i) {
    const checked_file& file = files[i];
    service_registry alone;
    alone.add(file.service.rule, file.path);
    for (const example_address& e : examples) {
      if (e.service == file.service.rule.name || alone.for_address(e.address) == nullptr) continue;
      warnings.push_back(describe(place_of(file.text, "addresses",
                                           "warning: 'addresses' also finds " + e.address + ", an example of the service " +
                                               e.service),
                                  file.path));
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (files[j].service.rule.name != file.service.rule.name) continue;
      warnings.push_back(describe(place_of(file.text, "name",
                                           "warning: " + files[j].path + " names the service " + file.service.rule.name +
                                               " too; this file takes its place"),
                                  file.path));
      break;
    }
    if (file.tests.empty())
      warnings.push_back(file.path + ": warning: no [[tests]]: a saved page and what it should give keep the rule working");
  }
}

}  // namespace

int check_rule_files(const std::vector<std::string>& files, std::ostream& out, std::ostream& err) {
  std::vector<checked_file> read;
  std::vector<std::string> warnings;
  bool unusable = false;
  for (const std::string& path : files) {
    auto file = check_file(path, warnings);
    if (const auto* problem = std::get_if<std::string>(&file)) {
      write_line(err, *problem);
      unusable = true;
    } else {
      read.push_back(std::move(std::get<checked_file>(file)));
    }
  }
  warn_across(read, warnings);
  for (const std::string& warning : warnings) write_line(err, warning);

  bool failed = false;
  for (const checked_file& file : read) {
    const std::u8string folder = std::filesystem::u8path(file.path).parent_path().u8string();
    for (const rule_test& test : file.tests) {
      const std::string name = file.service.rule.name + ": " + test.name;
      const std::optional<std::string> differs = run_rule_test(test, file.service, std::string(folder.begin(), folder.end()));
      out << one_line(differs ? "FAIL " + name + ": " + *differs : "ok " + name) << '\n';
      failed = failed || differs.has_value();
    }
  }
  out.flush();
  return unusable ? 2 : failed ? 1 : 0;
}

}  // namespace sharelink::cli
