#include "rules/rule.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>

#include <toml++/toml.h>

#include "rules/rule_template.h"
#include "rules/rule_toml.h"
#include "rules/toml_precheck.h"
#include "runtime/fetch.h"
#include "runtime/pattern.h"

namespace sharelink {
namespace {

using namespace rule_toml;

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

void read_fields(const toml::table& table, service_rule& rule, reading_context& context) {
  only_keys(table, "fields", {"download_url", "file_name", "size", "md5"});
  for (std::size_t i = 0; i < rule_field_names.size(); ++i) {
    const toml::node* node = table.get(rule_field_names[i]);
    if (node == nullptr) continue;
    const std::string where = "[fields." + std::string(rule_field_names[i]) + "]";
    const bool size = static_cast<rule_field>(i) == rule_field::size;
    rule.fields[i] = value_of(*node, where, context, -1, false, size ? std::initializer_list<std::string_view>{"precision"}
                                                                    : std::initializer_list<std::string_view>{});
    if (rule.fields[i].fallback) refuse(node->as_table()->get("default"), "a field has no 'default'; a value of [values] has");
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

/// One entry of [records.fields] (or a folder's path): a text naming what it
/// reads, or a table.
record_field record_field_of(const toml::node& node, std::string_view name, const service_rule& rule,
                             reading_context& context) {
  record_field field;
  if (node.is_string()) {
    field.source = text_of(node, name);
  } else if (const toml::table* t = node.as_table()) {
    only_keys(*t, "records.fields." + std::string(name), {"key", "attribute", "json", "after", "decode", "template"});
    for (std::string_view key : {"key", "attribute", "json"})
      if (auto source = optional_text(*t, key)) field.source = *source;
    field.after = optional_text(*t, "after").value_or("");
    if (const toml::node* decode = t->get("decode")) field.decode = decode_steps(*decode);
    if (auto filled = optional_text(*t, "template")) {
      if (!field.source.empty() || !field.after.empty()) refuse(&node, "a record field has a template or a source, not both");
      note_template(context, *t->get("template"), *filled, -1, true);
      field.filled = *filled;
    }
  } else {
    refuse(&node, "a record field is a text or a table");
  }
  // A named group of the same name is the default of a pattern's records.
  if (field.source.empty() && !field.filled && rule.records.reader == record_reader::pattern) field.source = name;
  if (field.source.empty() && field.after.empty() && !field.filled) refuse(&node, "a record field names nothing to read");
  if (rule.records.reader == record_reader::json_array && !field.filled) check_json_pointer(node, field.source);
  return field;
}

void read_record_fields(const toml::table& table, service_rule& rule, reading_context& context) {
  for (const auto& [key, node] : table) {
    const std::string name(key.str());
    record_field field = record_field_of(node, name, rule, context);
    const auto* known = std::find(rule_field_names.begin(), rule_field_names.end(), name);
    if (known != rule_field_names.end()) {
      rule.records.fields[static_cast<std::size_t>(known - rule_field_names.begin())] = std::move(field);
      continue;
    }
    if (!is_value_name(name) || name == "folder")
      refuse(&node, "a record value's name is a letter or '_', then letters, digits, '_' and '-'; not 'folder'");
    if (rule.records.reader == record_reader::data_objects)
      refuse(&node, "data_objects records read download_url, file_name, size and md5 only");
    rule.records.extra.emplace_back(name, std::move(field));
  }
}

void read_folders(const toml::table& table, service_rule& rule, reading_context& context) {
  only_keys(table, "records.folders", {"when", "path", "step", "max_depth"});
  if (rule.records.reader != record_reader::json_array && rule.records.reader != record_reader::pattern)
    refuse(&table, "[records.folders] goes with json_array or pattern records");
  folders_rule folders;
  const toml::node* when = table.get("when");
  const toml::node* path = table.get("path");
  if (when == nullptr || path == nullptr) refuse(&table, "[records.folders] needs 'when' and 'path'");
  folders.when = condition_of(*when, "'when'", context, -1, true);
  if (rule.records.reader == record_reader::pattern && folders.when.json)
    refuse(when, "a pattern's record is text: its 'when' reads it with a pattern");
  folders.path = record_field_of(*path, "path", rule, context);
  folders.step = optional_text(table, "step").value_or("");
  folders.max_depth = static_cast<int>(optional_number(table, "max_depth", 1, most_folder_depth).value_or(8));
  rule.records.folders = std::move(folders);
}

void read_records(const toml::table& table, service_rule& rule, reading_context& context) {
  only_keys(table, "records", {"pattern", "json_array", "start_tags", "data_objects", "fields", "step", "folders"});
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
  if (const toml::table* fields = optional_table(table, "fields")) read_record_fields(*fields, rule, context);
  if (records.reader == record_reader::pattern) {
    for (std::size_t i = 0; i < rule_field_names.size(); ++i)
      if (has_group(records.pattern, rule_field_names[i]) && !records.fields[i])
        records.fields[i] = record_field{std::string(rule_field_names[i]), {}, std::nullopt, std::nullopt};
  } else if (records.reader == record_reader::start_tags || records.reader == record_reader::data_objects) {
    if (!records.fields[0]) records.fields[0] = record_field{records.marker, {}, std::nullopt, std::nullopt};
  }
  if (const toml::table* folders = optional_table(table, "folders")) read_folders(*folders, rule, context);
}

void read_values(const toml::table& table, service_rule& rule, reading_context& context) {
  for (const auto& [key, node] : table) {
    const std::string name(key.str());
    if (!is_value_name(name))
      refuse(&node, "a value's name is a letter or '_', then letters, digits, '_' and '-'");
    const std::size_t before = context.templates.size();
    value_reading value = value_of(node, "a value of [values]", context, -1, false);
    if (value.filled && context.templates.size() > before) context.templates.back().value = name;
    if (!value.filled && value.step.empty()) value.step = "page";
    rule.values.emplace_back(name, std::move(value));
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

/// Every step a field, record or value names must be an answer read before it,
/// and one a listing reads: not a step for each file. A name that is not is refused
/// where it stands (`path`, as toml++ writes a path).
void check_step_names(const toml::table& root, const service_rule& rule) {
  std::vector<std::string> known = {"page"};
  auto check = [&](const std::string& step, const std::string& path) {
    if (step.empty() || std::find(known.begin(), known.end(), step) != known.end()) return;
    const toml::node* at = root.at_path(path + ".step").node();
    refuse(at != nullptr ? at : &root, "'step = \"" + step + "\"' names no step before it that lists");
  };
  for (std::size_t i = 0; i < rule.steps.size(); ++i) {
    const step_rule& step = rule.steps[i];
    const std::string path = "steps[" + std::to_string(i) + "]";
    for (const auto& [name, value] : step.values) check(value.step, path + ".values." + name);
    if (!step.for_each_file) known.push_back(step.name);
  }
  for (const auto& [name, value] : rule.values) check(value.step, "values." + name);
  for (std::size_t i = 0; i < rule.fields.size() && i < rule_field_names.size(); ++i)
    check(rule.fields[i].step, "fields." + std::string(rule_field_names[i]));
  check(rule.records.step, "records");
  if (!rule.records.folders) return;
  check(rule.records.folders->step, "records.folders");
  // A folder is listed by running a step again with its {dir}: never the share page.
  std::string lists = !rule.records.folders->step.empty() ? rule.records.folders->step : rule.records.step;
  if (lists.empty()) lists = known.back();
  if (lists == "page")
    refuse(root.at_path("records.folders").node(),
           "a folder is listed by a step run again with its {dir}: give [records.folders] a 'step'");
}

service_rule read_root(const toml::table& root) {
  // `tests` belong to --check-rules, which reads them itself.
  only_keys(root, "", {"name", "title", "addresses", "md5_is_content_hash", "request", "password", "values", "fail",
                       "fields", "records", "steps", "needs_login", "limits", "tests"});
  service_rule rule;
  reading_context context;
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
  if (auto hash = optional_bool(root, "md5_is_content_hash")) rule.md5_is_content_hash = *hash;
  if (const toml::table* request = optional_table(root, "request")) read_request(*request, rule);
  if (const toml::table* values = optional_table(root, "values")) read_values(*values, rule, context);
  if (const toml::node* fails = root.get("fail")) rule.fails = fails_of(*fails, context, -1);
  if (const toml::table* fields = optional_table(root, "fields")) read_fields(*fields, rule, context);
  if (const toml::table* records = optional_table(root, "records")) read_records(*records, rule, context);
  if (const toml::node* steps = root.get("steps")) read_steps(*steps, rule, context);
  read_access(root, rule);
  check_step_names(root, rule);
  check_template_names(root, rule, context);
  const bool given_later = std::any_of(rule.steps.begin(), rule.steps.end(), [](const step_rule& step) {
    return step.gives && step.gives->fields[0];
  });
  if (rule.records.reader != record_reader::none && !rule.records.fields[0] && !given_later)
    refuse(root.get("records"), "[records] gives no download_url, and no step for each file gives it");
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
  for (const auto& [name, value] : rule.values) check_group_one(value, "values." + name);

  if (rule.records.reader != record_reader::pattern) return warnings;
  pattern_object object = regex_create();
  if (!regex_compile(object, rule.records.pattern)) return warnings;
  const std::vector<std::string> groups = regex_group_names(object);
  // What the records read, by the path of its entry.
  std::vector<std::pair<std::string, const record_field*>> read;
  for (std::size_t i = 0; i < rule_field_names.size(); ++i)
    if (const auto& field = rule.records.fields[i]) read.emplace_back(std::string(rule_field_names[i]), &*field);
  for (const auto& [name, field] : rule.records.extra) read.emplace_back(name, &field);
  if (rule.records.folders) read.emplace_back("", &rule.records.folders->path);
  for (const std::string& group : groups) {
    const bool is_read = std::any_of(read.begin(), read.end(), [&](const auto& r) { return r.second->source == group; });
    if (!is_read)
      warn("records.pattern", "the group (?<" + group +
                                  ">...) is no field: download_url, file_name, size and md5 are, or "
                                  "[records.fields] names it");
  }
  for (const auto& [name, field] : read) {
    if (field->filled || std::find(groups.begin(), groups.end(), field->source) != groups.end()) continue;
    const std::string path = name.empty() ? "records.folders.path" : "records.fields." + name;
    warn(root.at_path(path + ".key") ? path + ".key" : path,
         "the pattern has no group (?<" + field->source + ">...) for " + (name.empty() ? "the folder's path" : name));
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
