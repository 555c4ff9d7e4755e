#include "rules/rule_toml.h"

#include <algorithm>

#include "rules/rule_template.h"
#include "runtime/fetch.h"
#include "runtime/pattern.h"

namespace sharelink::rule_toml {

[[noreturn]] void refuse(const toml::node* at, std::string what) {
  rule_problem problem;
  if (at != nullptr) {
    problem.line = static_cast<int>(at->source().begin.line);
    problem.column = static_cast<int>(at->source().begin.column);
  }
  problem.what = std::move(what);
  throw refusal{std::move(problem)};
}

void only_keys(const toml::table& table, std::string_view where, std::initializer_list<std::string_view> known) {
  for (const auto& [key, value] : table) {
    if (std::find(known.begin(), known.end(), key.str()) != known.end()) continue;
    std::string what = "unknown key '" + std::string(key.str()) + "'";
    if (!where.empty()) what += " in [" + std::string(where) + "]";
    refuse(&value, what);
  }
}

std::string text_of(const toml::node& node, std::string_view key) {
  const auto* value = node.as_string();
  if (value == nullptr) refuse(&node, "'" + std::string(key) + "' must be a text");
  return value->get();
}

std::optional<std::string> optional_text(const toml::table& table, std::string_view key) {
  const toml::node* node = table.get(key);
  if (node == nullptr) return std::nullopt;
  return text_of(*node, key);
}

const toml::table* optional_table(const toml::table& table, std::string_view key) {
  const toml::node* node = table.get(key);
  if (node == nullptr) return nullptr;
  const toml::table* t = node->as_table();
  if (t == nullptr) refuse(node, "'" + std::string(key) + "' must be a table");
  return t;
}

std::optional<long long> optional_number(const toml::table& table, std::string_view key, long long least,
                                         long long most) {
  const toml::node* node = table.get(key);
  if (node == nullptr) return std::nullopt;
  const auto* number = node->as_integer();
  if (number == nullptr || number->get() < least || number->get() > most)
    refuse(node, "'" + std::string(key) + "' is a whole number from " + std::to_string(least) + " to " +
                     std::to_string(most));
  return number->get();
}

std::optional<bool> optional_bool(const toml::table& table, std::string_view key) {
  const toml::node* node = table.get(key);
  if (node == nullptr) return std::nullopt;
  if (!node->is_boolean()) refuse(node, "'" + std::string(key) + "' is true or false");
  return node->as_boolean()->get();
}

void check_pattern(const toml::node& at, const std::string& pattern) {
  if (pattern.find('\0') != std::string::npos) refuse(&at, "the pattern holds a zero character");
  pattern_object object = regex_create();
  pattern_error why;
  if (regex_compile(object, pattern, true, &why)) return;
  // The engine's reason ends in a full stop; the place follows it.
  std::string reason = why.reason;
  if (reason.ends_with('.')) reason.pop_back();
  const std::string place = why.position >= pattern.size() ? "at the end of '" + pattern + "'"
                                                           : "at byte " + std::to_string(why.position + 1) + " of '" +
                                                                 pattern + "'";
  refuse(&at, "the pattern does not compile: " + reason + ", " + place);
}

void check_json_pointer(const toml::node& at, const std::string& pointer) {
  if (!pointer.empty() && pointer.front() != '/') refuse(&at, "a JSON pointer must start with '/'");
}

std::vector<decode_step> decode_steps(const toml::node& node) {
  const toml::array* list = node.as_array();
  if (list == nullptr) refuse(&node, "'decode' must be a list of steps");
  std::vector<decode_step> steps;
  for (const toml::node& item : *list) {
    const std::string name = text_of(item, "decode");
    const auto* found = std::find(decode_step_names.begin(), decode_step_names.end(), name);
    if (found == decode_step_names.end()) {
      std::string known;
      for (std::string_view step : decode_step_names) known += (known.empty() ? "" : ", ") + std::string(step);
      refuse(&item, "unknown decode step '" + name + "' (" + known + ")");
    }
    steps.push_back(static_cast<decode_step>(found - decode_step_names.begin()));
  }
  return steps;
}

bool is_name(std::string_view name) {
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
  });
}

bool is_value_name(std::string_view name) {
  return name.find('.') == std::string_view::npos && !template_names("{" + std::string(name) + "}").empty();
}

void note_template(reading_context& context, const toml::node& at, const std::string& text, int step, bool file,
                   std::string value) {
  const parsed_template read = parse_template(text);
  if (read.problem) refuse(&at, *read.problem + " (at byte " + std::to_string(read.problem_at + 1) + ")");
  context.templates.push_back({&at, text, step, file, std::move(value)});
}

namespace {

/// Refuses keys of `table` outside `known` and `more`, naming `where`.
void only_keys_and(const toml::table& table, std::string_view where, std::initializer_list<std::string_view> known,
                   std::initializer_list<std::string_view> more) {
  for (const auto& [key, value] : table)
    if (std::find(known.begin(), known.end(), key.str()) == known.end() &&
        std::find(more.begin(), more.end(), key.str()) == more.end())
      refuse(&value, "unknown key '" + std::string(key.str()) + "' in " + std::string(where));
}

/// The `pattern` and `json` of a value's or condition's table, one of them at most.
void read_source(const toml::table& table, std::string& pattern, std::optional<std::string>& json) {
  if (auto text = optional_text(table, "pattern")) {
    check_pattern(*table.get("pattern"), *text);
    pattern = *text;
  }
  if (auto pointer = optional_text(table, "json")) {
    check_json_pointer(*table.get("json"), *pointer);
    json = *pointer;
  }
  if (!pattern.empty() && json) refuse(&table, "give 'pattern' or 'json', not both");
}

}  // namespace

value_reading value_of(const toml::node& node, std::string_view where, reading_context& context, int step,
                       bool file, std::initializer_list<std::string_view> more) {
  const toml::table* table = node.as_table();
  if (table == nullptr) refuse(&node, std::string(where) + " must be a table");
  only_keys_and(*table, where, {"pattern", "json", "template", "decode", "step", "default"}, more);
  value_reading reading;
  read_source(*table, reading.pattern, reading.json);
  if (auto filled = optional_text(*table, "template")) {
    if (!reading.pattern.empty() || reading.json) refuse(&node, std::string(where) + " has a template and a reading");
    note_template(context, *table->get("template"), *filled, step, file);
    reading.filled = *filled;
  }
  if (!reading.given()) refuse(&node, std::string(where) + " needs 'pattern', 'json' or 'template'");
  if (const toml::node* decode = table->get("decode")) reading.decode = decode_steps(*decode);
  reading.step = optional_text(*table, "step").value_or("");
  if (reading.filled && !reading.step.empty()) refuse(table->get("step"), "a template reads no answer: no 'step'");
  reading.fallback = optional_text(*table, "default");
  return reading;
}

condition_rule condition_of(const toml::node& node, std::string_view where, reading_context& context, int step,
                            bool file, std::initializer_list<std::string_view> more) {
  const toml::table* table = node.as_table();
  if (table == nullptr) refuse(&node, std::string(where) + " must be a table");
  only_keys_and(*table, where, {"pattern", "json", "equals", "present"}, more);
  condition_rule condition;
  read_source(*table, condition.pattern, condition.json);
  if (condition.pattern.empty() && !condition.json) refuse(&node, std::string(where) + " needs 'pattern' or 'json'");
  if (auto equals = optional_text(*table, "equals")) {
    note_template(context, *table->get("equals"), *equals, step, file);
    condition.equals = *equals;
  }
  if (auto present = optional_bool(*table, "present")) {
    if (condition.equals) refuse(table->get("present"), "give 'equals' or 'present', not both");
    condition.present = *present;
  }
  return condition;
}

std::vector<fail_rule> fails_of(const toml::node& node, reading_context& context, int step) {
  const toml::array* list = node.as_array();
  if (list == nullptr) refuse(&node, "'fail' is a list of tables ([[fail]])");
  std::vector<fail_rule> fails;
  for (const toml::node& item : *list) {
    fail_rule fail;
    fail.condition = condition_of(item, "a fail", context, step, false, {"kind", "message"});
    const toml::table& table = *item.as_table();
    if (auto kind = optional_text(table, "kind")) {
      bool known = false;
      for (const error_kind named : {error_kind::page, error_kind::password, error_kind::gone, error_kind::login})
        if (*kind == error_kind_name(named)) {
          fail.kind = named;
          known = true;
        }
      if (!known) refuse(table.get("kind"), "'kind' is page, password, gone or login");
    }
    // Shown as every error line is: control characters made harmless there.
    fail.message = optional_text(table, "message").value_or("");
    fails.push_back(std::move(fail));
  }
  return fails;
}

}  // namespace sharelink::rule_toml
