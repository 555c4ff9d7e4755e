#include "cli/rule_tests.h"

#include <algorithm>
#include <filesystem>
#include <initializer_list>

#include <toml++/toml.h>

#include "cli/lookup.h"
#include "cli/process.h"
#include "rules/toml_precheck.h"
#include "runtime/error_kind.h"
#include "runtime/fetch.h"

namespace sharelink::cli {
namespace {

/// Thrown inside the reader only, to leave it at the first problem.
struct refusal {
  rule_problem problem;
};

[[noreturn]] void refuse(const toml::node& at, std::string what) {
  throw refusal{{static_cast<int>(at.source().begin.line), static_cast<int>(at.source().begin.column),
                 std::move(what)}};
}

std::string text_of(const toml::node& node, std::string_view key) {
  const auto* value = node.as_string();
  if (value == nullptr) refuse(node, "'" + std::string(key) + "' must be a text");
  return value->get();
}

void only_keys(const toml::table& table, std::string_view where, std::initializer_list<std::string_view> known) {
  for (const auto& [key, value] : table)
    if (std::find(known.begin(), known.end(), key.str()) == known.end())
      refuse(value, "unknown key '" + std::string(key.str()) + "' in " + std::string(where));
}

/// The error kinds a test may expect: every word the command's JSON gives (login
/// is the last kind).
std::vector<std::string_view> error_kind_names() {
  std::vector<std::string_view> names;
  for (int k = 0; k <= static_cast<int>(error_kind::login); ++k)
    names.push_back(error_kind_name(static_cast<error_kind>(k)));
  return names;
}

void read_steps(const toml::node& node, const service_rule& rule, rule_test& test) {
  const toml::table* table = node.as_table();
  if (table == nullptr) refuse(node, "a test's 'steps' is a table of step names and saved answers");
  for (const auto& [key, value] : *table) {
    const std::string step(key.str());
    if (std::none_of(rule.steps.begin(), rule.steps.end(), [&](const step_rule& s) { return s.name == step; }))
      refuse(value, "the test gives an answer for the step " + step + ", which the rule does not have");
    if (const toml::array* pages = value.as_array()) {
      if (pages->empty()) refuse(value, "the step " + step + " is given no answer");
      for (const toml::node& page : *pages) test.steps.emplace_back(step, text_of(page, step));
    } else {
      test.steps.emplace_back(step, text_of(value, step));
    }
  }
}

void read_expect(const toml::node& node, rule_test& test) {
  const toml::table* table = node.as_table();
  if (table == nullptr) refuse(node, "a test's 'expect' is a table");
  only_keys(*table, "a test's expect",
            {"download_url", "file_name", "file_type", "size", "md5", "files", "error_kind"});
  for (const auto& [key, value] : *table) {
    const std::string name(key.str());
    if (name == "files" || (name == "size" && value.is_integer())) {
      const auto* number = value.as_integer();
      if (number == nullptr || number->get() < 0) refuse(value, "'" + name + "' is a number, 0 or more");
      test.expect.push_back({name, number->get()});
      continue;
    }
    std::string text = text_of(value, name);
    if (name == "error_kind") {
      const std::vector<std::string_view> kinds = error_kind_names();
      if (std::find(kinds.begin(), kinds.end(), text) == kinds.end()) {
        std::string known;
        for (std::string_view kind : kinds) known += (known.empty() ? "" : ", ") + std::string(kind);
        refuse(value, "'" + text + "' is no error kind (" + known + ")");
      }
    }
    test.expect.push_back({name, std::move(text)});
  }
}

rule_test read_test(const toml::node& node, const service_rule& rule, std::size_t number) {
  const toml::table* table = node.as_table();
  if (table == nullptr) refuse(node, "a test is a table ([[tests]])");
  only_keys(*table, "[[tests]]", {"name", "address", "page", "steps", "password", "expect"});
  rule_test test;
  test.line = static_cast<int>(node.source().begin.line);
  test.name = "test " + std::to_string(number);
  if (const toml::node* name = table->get("name")) test.name = text_of(*name, "name");
  if (const toml::node* address = table->get("address")) test.address = text_of(*address, "address");
  const toml::node* page = table->get("page");
  if (page == nullptr) refuse(node, "a test needs a 'page': the saved share page it reads");
  test.page = text_of(*page, "page");
  if (const toml::node* steps = table->get("steps")) read_steps(*steps, rule, test);
  if (const toml::node* password = table->get("password")) test.password = text_of(*password, "password");
  if (const toml::node* expect = table->get("expect")) read_expect(*expect, test);
  return test;
}

/// The file at `path` relative to `folder`, read as --page reads a saved answer;
/// nothing, with the reason in `error`, when it cannot be read.
std::optional<std::string> saved_answer(const std::string& folder, const std::string& path, std::string& error) {
  const std::u8string full = (std::filesystem::u8path(folder) / std::filesystem::u8path(path)).u8string();
  std::string reason;
  bool cut = false;
  std::optional<std::string> bytes =
      read_whole_file(std::string(full.begin(), full.end()), fetch_options{}.body_cap, cut, reason);
  if (!bytes) error = "cannot read " + path + ": " + reason;
  if (cut) {
    // A fetched answer would have been cut there too, and the reading said so.
    error = path + ": larger than " + std::to_string(fetch_options{}.body_cap) + " bytes, the most of an answer read";
    return std::nullopt;
  }
  return bytes;
}

/// A value as a failure line quotes it.
std::string quoted(const std::variant<std::string, std::int64_t>& value) {
  if (const auto* number = std::get_if<std::int64_t>(&value)) return std::to_string(*number);
  return "\"" + std::get<std::string>(value) + "\"";
}

/// What the reading gave for `expected.key`, in the form the test wrote it in.
std::variant<std::string, std::int64_t> actual_value(const resolution& r, const rule_expectation& expected) {
  using value = std::variant<std::string, std::int64_t>;
  const std::string& key = expected.key;
  if (key == "files") return value(static_cast<std::int64_t>(r.files.size()));
  if (key == "size" && std::holds_alternative<std::int64_t>(expected.value))
    return r.fields.size_bytes ? value(static_cast<std::int64_t>(*r.fields.size_bytes)) : value(r.fields.size);
  if (key == "download_url") return r.fields.download_url;
  if (key == "file_name") return r.fields.file_name;
  if (key == "file_type") return r.fields.file_type;
  if (key == "size") return r.fields.size;
  if (key == "md5") return r.fields.md5;
  return std::string();
}

}  // namespace

std::variant<std::vector<rule_test>, rule_problem> read_rule_tests(std::string_view toml_text,
                                                                   const service_rule& rule) {
  // The rule read well, so neither the check nor the reader refuses the text.
  const toml_precheck checked = precheck_toml(toml_text);
  toml::table root;
  try {
    root = toml::parse(checked.text);
  } catch (const toml::parse_error& error) {
    return rule_problem{static_cast<int>(error.source().begin.line), static_cast<int>(error.source().begin.column),
                        std::string(error.description())};
  }
  std::vector<rule_test> tests;
  const toml::node* node = root.get("tests");
  if (node == nullptr) return tests;
  try {
    const toml::array* list = node->as_array();
    if (list == nullptr) refuse(*node, "'tests' is a list of tables ([[tests]])");
    for (const toml::node& item : *list) tests.push_back(read_test(item, rule, tests.size() + 1));
  } catch (const refusal& r) {
    return r.problem;
  }
  return tests;
}

std::optional<std::string> run_rule_test(const rule_test& test, const service_entry& which,
                                         const std::string& folder) {
  std::string error;
  const std::optional<std::string> page = saved_answer(folder, test.page, error);
  if (!page) return error;
  std::vector<std::pair<std::string, std::string>> answers;
  for (const auto& [step, path] : test.steps) {
    std::optional<std::string> answer = saved_answer(folder, path, error);
    if (!answer) return error;
    answers.emplace_back(step, std::move(*answer));
  }
  saved_reading more;
  more.address = test.address.value_or("");
  more.password = test.password;
  resolution r = resolve_saved_page(*page, which, answers, nullptr, more);
  if (r.error && !r.failure_kind) r.failure_kind = error_kind::page;

  std::string differs;
  const auto add = [&](const std::string& what) { differs += (differs.empty() ? "" : "; ") + what; };
  const auto kind = std::find_if(test.expect.begin(), test.expect.end(),
                                 [](const rule_expectation& e) { return e.key == "error_kind"; });
  const std::string got_error =
      r.error ? std::string(error_kind_name(*r.failure_kind)) + " (" + *r.error + ")" : std::string("no error");
  if (kind == test.expect.end() && r.error) add("expected no error, got " + got_error);
  for (const rule_expectation& expected : test.expect) {
    if (expected.key == "error_kind") {
      if (!r.error || std::get<std::string>(expected.value) != error_kind_name(*r.failure_kind))
        add("expected error_kind " + std::get<std::string>(expected.value) + ", got " + got_error);
      continue;
    }
    const auto actual = actual_value(r, expected);
    if (actual != expected.value) add("expected " + expected.key + " " + quoted(expected.value) + ", got " + quoted(actual));
  }
  if (differs.empty()) return std::nullopt;
  return differs;
}

}  // namespace sharelink::cli
