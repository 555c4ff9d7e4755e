#include "resolve/rule.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>

#include <toml++/toml.h>

#include "resolve/toml_precheck.h"
#include "runtime/fetch.h"
#include "runtime/pattern.h"

namespace sharelink {
namespace {

/// Thrown inside the reader only, to leave it at the first problem.
struct refusal {
  rule_problem problem;
};

[[noreturn]] void refuse(const toml::node* at, std::string what) {
  rule_problem problem;
  if (at != nullptr) {
    problem.line = static_cast<int>(at->source().begin.line);
    problem.column = static_cast<int>(at->source().begin.column);
  }
  problem.what = std::move(what);
  throw refusal{std::move(problem)};
}

/// Refuses every key of `table` that is not in `known`.
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
    static constexpr std::pair<std::string_view, decode_step> names[] = {
        {"char_refs", decode_step::char_refs},     {"percent", decode_step::percent},
        {"json_string", decode_step::json_string}, {"backslashes", decode_step::backslashes},
        {"trim", decode_step::trim}};
    const std::string name = text_of(item, "decode");
    const auto* found = std::find_if(std::begin(names), std::end(names), [&](const auto& n) { return n.first == name; });
    if (found == std::end(names))
      refuse(&item, "unknown decode step '" + name + "' (char_refs, percent, json_string, backslashes, trim)");
    steps.push_back(found->second);
  }
  return steps;
}

/// A value's table: pattern or json, decode, step.
value_reading value_of(const toml::node& node, std::string_view where, std::initializer_list<std::string_view> more = {}) {
  const toml::table* table = node.as_table();
  if (table == nullptr) refuse(&node, std::string(where) + " must be a table");
  std::vector<std::string_view> known = {"pattern", "json", "decode", "step"};
  known.insert(known.end(), more.begin(), more.end());
  for (const auto& [key, value] : *table)
    if (std::find(known.begin(), known.end(), key.str()) == known.end())
      refuse(&value, "unknown key '" + std::string(key.str()) + "' in " + std::string(where));
  value_reading reading;
  if (auto pattern = optional_text(*table, "pattern")) {
    check_pattern(*table->get("pattern"), *pattern);
    reading.pattern = *pattern;
  }
  if (auto json = optional_text(*table, "json")) {
    check_json_pointer(*table->get("json"), *json);
    reading.json = *json;
  }
  if (!reading.pattern.empty() && reading.json) refuse(&node, std::string(where) + " has both 'pattern' and 'json'");
  if (!reading.given()) refuse(&node, std::string(where) + " needs 'pattern' or 'json'");
  if (const toml::node* decode = table->get("decode")) reading.decode = decode_steps(*decode);
  reading.step = optional_text(*table, "step").value_or("");
  return reading;
}

bool is_name(std::string_view name) {
  if (name.empty()) return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
  });
}

void read_request(const toml::table& table, service_rule& rule) {
  only_keys(table, "request", {"user_agent", "headers", "encoding"});
  rule.request.user_agent = optional_text(table, "user_agent");
  if (const auto& agent = rule.request.user_agent; agent && has_control_character(*agent))
    refuse(table.get("user_agent"), "'user_agent' holds a control character");
  if (const toml::table* headers = optional_table(table, "headers")) {
    for (const auto& [key, value] : *headers) {
      const std::string text = text_of(value, key.str());
      if (has_control_character(text) || key.str().find_first_of(":\r\n ") != std::string_view::npos)
        refuse(&value, "a header name or value holds a control character, a blank or ':'");
      rule.request.headers.emplace_back(std::string(key.str()), text);
    }
  }
  if (auto encoding = optional_text(table, "encoding")) {
    if (*encoding == "utf-8") rule.request.encoding = answer_encoding::utf8;
    else if (*encoding == "gbk") rule.request.encoding = answer_encoding::gbk;
    else if (*encoding == "auto") rule.request.encoding = answer_encoding::automatic;
    else refuse(table.get("encoding"), "'encoding' is utf-8, gbk or auto");
  }
}

void read_fields(const toml::table& table, service_rule& rule) {
  only_keys(table, "fields", {"download_url", "file_name", "size", "md5"});
  for (std::size_t i = 0; i < rule_field_names.size(); ++i) {
    const toml::node* node = table.get(rule_field_names[i]);
    if (node == nullptr) continue;
    const std::string where = "[fields." + std::string(rule_field_names[i]) + "]";
    const bool size = static_cast<rule_field>(i) == rule_field::size;
    rule.fields[i] = size ? value_of(*node, where, {"precision"}) : value_of(*node, where);
    if (size) {
      if (auto precision = optional_text(*node->as_table(), "precision")) {
        if (*precision != "single" && *precision != "double")
          refuse(node->as_table()->get("precision"), "'precision' is single or double");
        rule.single_precision_size = *precision == "single";
      }
    }
  }
}

/// A named group of a pattern, written (?<name>...).
bool has_group(const std::string& pattern, std::string_view name) {
  pattern_object object = regex_create();
  return regex_compile(object, pattern) && regex_group_number(object, name) >= 0;
}

void read_record_fields(const toml::table& table, service_rule& rule) {
  only_keys(table, "records.fields", {"download_url", "file_name", "size", "md5"});
  for (std::size_t i = 0; i < rule_field_names.size(); ++i) {
    const toml::node* node = table.get(rule_field_names[i]);
    if (node == nullptr) continue;
    record_field field;
    if (node->is_string()) {
      field.source = text_of(*node, rule_field_names[i]);
    } else if (const toml::table* t = node->as_table()) {
      only_keys(*t, "records.fields." + std::string(rule_field_names[i]), {"key", "attribute", "json", "after", "decode"});
      for (std::string_view key : {"key", "attribute", "json"})
        if (auto source = optional_text(*t, key)) field.source = *source;
      field.after = optional_text(*t, "after").value_or("");
      if (const toml::node* decode = t->get("decode")) field.decode = decode_steps(*decode);
    } else {
      refuse(node, "a record field is a text or a table");
    }
    // A named group of the same name is the default of a pattern's records.
    if (field.source.empty() && rule.records.reader == record_reader::pattern) field.source = rule_field_names[i];
    if (field.source.empty() && field.after.empty()) refuse(node, "a record field names nothing to read");
    if (rule.records.reader == record_reader::json_array) check_json_pointer(*node, field.source);
    rule.records.fields[i] = std::move(field);
  }
}

void read_records(const toml::table& table, service_rule& rule) {
  only_keys(table, "records", {"pattern", "json_array", "start_tags", "data_objects", "fields", "step"});
  record_rule& records = rule.records;
  int readers = 0;
  if (auto pattern = optional_text(table, "pattern")) {
    check_pattern(*table.get("pattern"), *pattern);
    records.reader = record_reader::pattern;
    records.pattern = *pattern;
    ++readers;
  }
  if (auto pointer = optional_text(table, "json_array")) {
    check_json_pointer(*table.get("json_array"), *pointer);
    records.reader = record_reader::json_array;
    records.json_array = *pointer;
    ++readers;
  }
  for (auto [key, reader] : {std::pair{"start_tags", record_reader::start_tags},
                             std::pair{"data_objects", record_reader::data_objects}}) {
    if (auto marker = optional_text(table, key)) {
      if (marker->empty()) refuse(table.get(key), std::string("'") + key + "' names the attribute or key marking a file");
      records.reader = reader;
      records.marker = *marker;
      ++readers;
    }
  }
  if (readers != 1) refuse(&table, "[records] needs exactly one of pattern, json_array, start_tags, data_objects");
  records.step = optional_text(table, "step").value_or("");
  if (const toml::table* fields = optional_table(table, "fields")) read_record_fields(*fields, rule);
  if (records.reader == record_reader::pattern) {
    for (std::size_t i = 0; i < rule_field_names.size(); ++i)
      if (has_group(records.pattern, rule_field_names[i]) && !records.fields[i])
        records.fields[i] = record_field{std::string(rule_field_names[i]), {}, std::nullopt};
  } else if (records.reader == record_reader::start_tags) {
    if (!records.fields[0]) records.fields[0] = record_field{records.marker, {}, std::nullopt};
  } else if (records.reader == record_reader::data_objects) {
    if (!records.fields[0]) records.fields[0] = record_field{records.marker, {}, std::nullopt};
  }
  if (!records.fields[0]) refuse(&table, "[records] gives no download_url");
}

/// The scheme and host of a step's address must stand in its template.
void check_step_address(const toml::node& at, const std::string& address) {
  std::string_view rest = address;
  if (rest.starts_with("https://")) rest.remove_prefix(8);
  else if (rest.starts_with("http://")) rest.remove_prefix(7);
  else refuse(&at, "a step's address starts with http:// or https://");
  const std::size_t host_end = std::min(rest.find_first_of("/?#"), rest.size());
  const std::string_view host = rest.substr(0, host_end);
  if (host.empty() || host.find_first_of("{}@\\") != std::string_view::npos)
    refuse(&at, "a step's host is written out in its address, without {values} or user info");
}

void read_steps(const toml::node& node, service_rule& rule) {
  const toml::array* list = node.as_array();
  if (list == nullptr) refuse(&node, "'steps' is a list of tables ([[steps]])");
  if (list->size() > most_steps) refuse(&node, "at most " + std::to_string(most_steps) + " steps");
  for (const toml::node& item : *list) {
    const toml::table* table = item.as_table();
    if (table == nullptr) refuse(&item, "a step is a table");
    only_keys(*table, "steps", {"name", "address", "values"});
    step_rule step;
    step.name = optional_text(*table, "name").value_or("step" + std::to_string(rule.steps.size() + 1));
    if (!is_name(step.name) || step.name == "page") refuse(&item, "a step's name is letters, digits and '-', not 'page'");
    const toml::node* address = table->get("address");
    if (address == nullptr) refuse(&item, "a step needs an 'address'");
    step.address = text_of(*address, "address");
    check_step_address(*address, step.address);
    if (const toml::table* values = optional_table(*table, "values")) {
      for (const auto& [key, value] : *values)
        step.values.emplace_back(std::string(key.str()), value_of(value, "a step's value"));
    }
    for (std::size_t open = step.address.find('{'); open != std::string::npos; open = step.address.find('{', open + 1)) {
      const std::size_t close = step.address.find('}', open);
      if (close == std::string::npos)
        refuse(address, "the address's '" + step.address.substr(open) + "' has no closing '}'");
      const std::string name = step.address.substr(open + 1, close - open - 1);
      // {password} is the share's extraction code ([password], --password).
      const bool known = name == "password" ||
                         std::any_of(step.values.begin(), step.values.end(), [&](const auto& v) { return v.first == name; });
      if (!known) refuse(address, "the address uses {" + name + "}, which [steps.values] does not give");
    }
    rule.steps.push_back(std::move(step));
  }
}

/// needs_login, [limits] and [password].
void read_access(const toml::table& root, service_rule& rule) {
  if (const toml::node* login = root.get("needs_login")) {
    if (!login->is_boolean()) refuse(login, "'needs_login' is true or false");
    rule.needs_login = login->as_boolean()->get();
  }
  if (const toml::table* limits = optional_table(root, "limits")) {
    only_keys(*limits, "limits", {"max_per_host", "interval"});
    if (const toml::node* most = limits->get("max_per_host")) {
      const std::optional<std::int64_t> n = most->value_exact<std::int64_t>();
      if (!n || *n < 1 || *n > 64) refuse(most, "'max_per_host' is a whole number from 1 to 64");
      rule.limits.max_per_host = static_cast<int>(*n);
    }
    if (const toml::node* interval = limits->get("interval")) {
      const std::optional<double> seconds = interval->is_number() ? interval->value<double>() : std::nullopt;
      if (!seconds || !(*seconds >= 0 && *seconds <= 3600))
        refuse(interval, "'interval' is a number of seconds from 0 to 3600");
      rule.limits.interval_ms = static_cast<long>(std::ceil(*seconds * 1000));
    }
  }
  if (const toml::table* password = optional_table(root, "password")) {
    only_keys(*password, "password", {"query", "text"});
    rule.password.query = optional_text(*password, "query").value_or("");
    if (rule.password.query.find_first_of("&=#? ") != std::string::npos)
      refuse(password->get("query"), "'query' is the name of a parameter of the share address");
    rule.password.text = optional_text(*password, "text").value_or("");
    if (!rule.password.text.empty()) check_pattern(*password->get("text"), rule.password.text);
  }
}

/// Every step a field, record or value names must be an answer read before it; a
/// name that is not is refused where it stands (`path`, as toml++ writes a path).
void check_step_names(const toml::table& root, const service_rule& rule) {
  std::vector<std::string> known = {"page"};
  auto check = [&](const std::string& step, const std::string& path) {
    if (step.empty() || std::find(known.begin(), known.end(), step) != known.end()) return;
    const toml::node* at = root.at_path(path + ".step").node();
    refuse(at != nullptr ? at : &root, "'step = \"" + step + "\"' names no step before it");
  };
  for (std::size_t i = 0; i < rule.steps.size(); ++i) {
    for (const auto& [name, value] : rule.steps[i].values)
      check(value.step, "steps[" + std::to_string(i) + "].values." + name);
    known.push_back(rule.steps[i].name);
  }
  for (std::size_t i = 0; i < rule.fields.size() && i < rule_field_names.size(); ++i)
    check(rule.fields[i].step, "fields." + std::string(rule_field_names[i]));
  check(rule.records.step, "records");
}

service_rule read_root(const toml::table& root) {
  // `tests` belong to --check-rules, which reads them itself.
  only_keys(root, "", {"name", "title", "addresses", "md5_is_content_hash", "request", "fields", "records", "steps",
                       "needs_login", "limits", "password", "tests"});
  service_rule rule;
  const toml::node* name = root.get("name");
  if (name == nullptr) refuse(&root, "the rule needs a 'name'");
  rule.name = text_of(*name, "name");
  if (!is_name(rule.name)) refuse(name, "a name is letters, digits and '-'");
  rule.title = optional_text(root, "title").value_or(rule.name);
  if (const toml::node* addresses = root.get("addresses")) {
    const toml::array* list = addresses->as_array();
    if (list == nullptr) refuse(addresses, "'addresses' is a list of patterns");
    for (const toml::node& item : *list) {
      rule.addresses.push_back(text_of(item, "addresses"));
      check_pattern(item, rule.addresses.back());
    }
  }
  if (const toml::node* hash = root.get("md5_is_content_hash")) {
    if (!hash->is_boolean()) refuse(hash, "'md5_is_content_hash' is true or false");
    rule.md5_is_content_hash = hash->as_boolean()->get();
  }
  if (const toml::table* request = optional_table(root, "request")) read_request(*request, rule);
  if (const toml::table* fields = optional_table(root, "fields")) read_fields(*fields, rule);
  if (const toml::table* records = optional_table(root, "records")) read_records(*records, rule);
  if (const toml::node* steps = root.get("steps")) read_steps(*steps, rule);
  read_access(root, rule);
  check_step_names(root, rule);
  if (!rule.field(rule_field::download_url).given() && rule.records.reader == record_reader::none)
    refuse(&root, "the rule reads no download_url: give [fields.download_url] or [records]");
  return rule;
}

/// What is read silently as nothing, said where it stands: a value's pattern
/// without a group (the value is group 1), a group of the records' pattern that
/// no field reads, and a field naming a group the pattern does not have.
std::vector<rule_problem> warnings_of(const toml::table& root, const service_rule& rule) {
  std::vector<rule_problem> warnings;
  const auto warn = [&](const std::string& path, std::string what) {
    const toml::node* at = root.at_path(path).node();
    const toml::source_position where = at != nullptr ? at->source().begin : toml::source_position{};
    warnings.push_back({static_cast<int>(where.line), static_cast<int>(where.column), "warning: " + std::move(what)});
  };
  const auto check_group_one = [&](const value_reading& reading, const std::string& path) {
    if (reading.pattern.empty()) return;
    pattern_object object = regex_create();
    if (regex_compile(object, reading.pattern) && regex_group_count(object) == 0)
      warn(path + ".pattern", "the pattern has no group: the value is what group 1 takes, as in 'id=(\\w+)'");
  };
  for (std::size_t i = 0; i < rule_field_names.size(); ++i)
    check_group_one(rule.fields[i], "fields." + std::string(rule_field_names[i]));
  for (std::size_t i = 0; i < rule.steps.size(); ++i)
    for (const auto& [name, value] : rule.steps[i].values)
      check_group_one(value, "steps[" + std::to_string(i) + "].values." + name);

  if (rule.records.reader != record_reader::pattern) return warnings;
  pattern_object object = regex_create();
  if (!regex_compile(object, rule.records.pattern)) return warnings;
  const std::vector<std::string> groups = regex_group_names(object);
  for (const std::string& group : groups) {
    const bool read = std::any_of(rule.records.fields.begin(), rule.records.fields.end(),
                                  [&](const std::optional<record_field>& f) { return f && f->source == group; });
    if (!read)
      warn("records.pattern", "the group (?<" + group +
                                  ">...) is no field: download_url, file_name, size and md5 are, or "
                                  "[records.fields] names it");
  }
  for (std::size_t i = 0; i < rule_field_names.size(); ++i) {
    const std::optional<record_field>& field = rule.records.fields[i];
    if (!field || std::find(groups.begin(), groups.end(), field->source) != groups.end()) continue;
    const std::string path = "records.fields." + std::string(rule_field_names[i]);
    warn(root.at_path(path + ".key") ? path + ".key" : path, "the pattern has no group (?<" + field->source + ">...) for " + std::string(rule_field_names[i]));
  }
  return warnings;
}

}  // namespace

std::variant<service_rule, rule_problem> read_rule(std::string_view toml_text, std::vector<rule_problem>* warnings) {
  toml_precheck checked = precheck_toml(toml_text);
  if (checked.problem) return rule_problem{checked.problem->line, checked.problem->column, std::move(checked.problem->what)};
  toml::table parsed;
  try {
    parsed = toml::parse(checked.text);
  } catch (const toml::parse_error& error) {
    return rule_problem{static_cast<int>(error.source().begin.line), static_cast<int>(error.source().begin.column),
                        std::string(error.description())};
  }
  try {
    service_rule rule = read_root(parsed);
    if (warnings != nullptr) *warnings = warnings_of(parsed, rule);
    return rule;
  } catch (const refusal& r) {
    return r.problem;
  }
}

std::string describe(const rule_problem& problem, std::string_view file) {
  std::string text(file);
  if (problem.line > 0) text += ":" + std::to_string(problem.line) + ":" + std::to_string(problem.column);
  return text + ": " + problem.what;
}

}  // namespace sharelink
