// The rule reader's part for [[steps]]: requests, their pages, what per-file steps
// give, and the names every template of the rule may use.
#include <algorithm>
#include <set>

#include "codec/ascii_case.h"
#include "rules/rule_template.h"
#include "rules/rule_toml.h"
#include "runtime/fetch.h"

namespace sharelink::rule_toml {
namespace {

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

std::vector<std::pair<std::string, std::string>> templates_of(const toml::table& table, reading_context& context,
                                                              int step, bool file, bool header_names) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& [key, value] : table) {
    const std::string text = text_of(value, key.str());
    if (header_names && (has_control_character(key.str()) || key.str().find_first_of(":\r\n ") != std::string_view::npos))
      refuse(&value, "a header name holds a control character, a blank or ':'");
    note_template(context, value, text, step, file);
    out.emplace_back(std::string(key.str()), text);
  }
  return out;
}

pages_rule pages_of(const toml::table& table, reading_context& context, int step) {
  only_keys(table, "steps.pages", {"param", "start", "step", "cursor", "more", "max"});
  pages_rule pages;
  const toml::node* param = table.get("param");
  if (param == nullptr) refuse(&table, "[steps.pages] needs a 'param', the name the page goes by");
  pages.param = text_of(*param, "param");
  if (!is_value_name(pages.param)) refuse(param, "'param' is a name: a letter or '_', then letters, digits, '_' and '-'");
  if (const toml::node* cursor = table.get("cursor")) {
    pages.cursor = value_of(*cursor, "a page's cursor", context, step, false);
    if (pages.cursor->filled || !pages.cursor->step.empty())
      refuse(cursor, "a cursor is read from each answer of its step: 'pattern' or 'json', no 'step'");
    if (table.get("step") != nullptr) refuse(table.get("step"), "a cursor goes by no 'step'");
    if (const toml::node* start = table.get("start")) pages.cursor_start = text_of(*start, "start");
  } else {
    pages.start = optional_number(table, "start", -(1LL << 53), 1LL << 53).value_or(1);
    pages.step = optional_number(table, "step", -(1LL << 40), 1LL << 40).value_or(1);
    if (pages.step == 0) refuse(table.get("step"), "'step' of 0 would ask for one page for ever");
  }
  if (const toml::node* more = table.get("more")) pages.more = condition_of(*more, "'more'", context, step, false);
  pages.max = static_cast<std::size_t>(optional_number(table, "max", 1, most_pages).value_or(1000));
  return pages;
}

gives_rule gives_of(const toml::table& table, const step_rule& step, reading_context& context, int index) {
  only_keys(table, "steps.gives", {"json_array", "match", "download_url", "file_name", "size", "md5"});
  gives_rule gives;
  if (auto array = optional_text(table, "json_array")) {
    check_json_pointer(*table.get("json_array"), *array);
    gives.json_array = *array;
  }
  if (const toml::node* match = table.get("match")) gives.match = condition_of(*match, "'match'", context, index, true);
  const bool batch = step.batch > 0;
  if (batch && (gives.json_array.empty() || !gives.match))
    refuse(&table, "a batch's [steps.gives] needs 'json_array' and 'match' to tell each file's element");
  if (!batch && (!gives.json_array.empty() || gives.match))
    refuse(&table, "'json_array' and 'match' pair the elements of a batch's answer: give 'batch'");
  for (std::size_t i = 0; i < rule_field_names.size(); ++i) {
    const toml::node* node = table.get(rule_field_names[i]);
    if (node == nullptr) continue;
    value_reading field = value_of(*node, "a field of [steps.gives]", context, index, true);
    if (!field.step.empty()) refuse(node->as_table()->get("step"), "a step gives what its own answer holds: no 'step'");
    if (batch && !field.json && !field.filled) refuse(node, "a batch's fields are JSON pointers into each file's element");
    field.step = step.name;
    gives.fields[i] = std::move(field);
  }
  return gives;
}

/// A step's request: method, form or json_body, headers.
void read_request_of(const toml::table& table, step_rule& step, reading_context& context, int index) {
  if (auto method = optional_text(table, "method")) {
    if (equals_ignoring_case(*method, "GET")) step.method = http_method::get;
    else if (equals_ignoring_case(*method, "POST")) step.method = http_method::post;
    else refuse(table.get("method"), "'method' is GET or POST");
  }
  const bool file = step.for_each_file;
  if (const toml::table* form = optional_table(table, "form")) step.form = templates_of(*form, context, index, file, false);
  if (auto body = optional_text(table, "json_body")) {
    note_template(context, *table.get("json_body"), *body, index, file);
    step.json_body = *body;
  }
  if (table.get("form") != nullptr && step.json_body) refuse(table.get("json_body"), "give 'form' or 'json_body', not both");
  if ((table.get("form") != nullptr || step.json_body) && step.method != http_method::post)
    refuse(table.get("method") != nullptr ? table.get("method") : &table, "a body goes with method = \"POST\"");
  if (const toml::table* headers = optional_table(table, "headers"))
    step.headers = templates_of(*headers, context, index, file, true);
}

/// for_each, batch, join: how often the step runs.
void read_repeats(const toml::table& table, step_rule& step) {
  if (auto each = optional_text(table, "for_each")) {
    if (*each != "file") refuse(table.get("for_each"), "'for_each' is \"file\"");
    step.for_each_file = true;
  }
  if (auto batch = optional_number(table, "batch", 1, static_cast<long long>(most_batch))) {
    if (!step.for_each_file) refuse(table.get("batch"), "'batch' goes with for_each = \"file\"");
    step.batch = static_cast<std::size_t>(*batch);
  }
  if (auto join = optional_text(table, "join")) {
    if (step.batch == 0) refuse(table.get("join"), "'join' goes with 'batch'");
    step.join = *join;
  }
}

step_rule step_of(const toml::node& item, service_rule& rule, reading_context& context) {
  const toml::table* table = item.as_table();
  if (table == nullptr) refuse(&item, "a step is a table");
  only_keys(*table, "steps", {"name", "address", "method", "form", "json_body", "headers", "values", "fail", "pages",
                              "for_each", "batch", "join", "gives"});
  const int index = static_cast<int>(rule.steps.size());
  step_rule step;
  step.name = optional_text(*table, "name").value_or("step" + std::to_string(index + 1));
  if (!is_name(step.name) || step.name == "page") refuse(&item, "a step's name is letters, digits and '-', not 'page'");
  for (const step_rule& before : rule.steps)
    if (before.name == step.name) refuse(&item, "two steps are named '" + step.name + "'");
  read_repeats(*table, step);
  if (!step.for_each_file && !rule.steps.empty() && rule.steps.back().for_each_file)
    refuse(&item, "a step for each file runs after the listing: the steps without for_each come first");
  const toml::node* address = table->get("address");
  if (address == nullptr) refuse(&item, "a step needs an 'address'");
  step.address = text_of(*address, "address");
  check_step_address(*address, step.address);
  note_template(context, *address, step.address, index, step.for_each_file);
  read_request_of(*table, step, context, index);
  if (const toml::table* values = optional_table(*table, "values"))
    for (const auto& [key, value] : *values) {
      if (!is_value_name(key.str())) refuse(&value, "a value's name is a letter or '_', then letters, digits, '_' and '-'");
      step.values.emplace_back(std::string(key.str()), value_of(value, "a step's value", context, index, step.for_each_file));
    }
  // A template among the step's values fills in from the values that read answers.
  for (const auto& [name, value] : step.values)
    for (const std::string& used : value.filled ? template_names(*value.filled) : std::vector<std::string>{})
      for (const auto& [other, other_value] : step.values)
        if (other == used && other_value.filled)
          refuse(table->get("values"), "the value " + name + " fills in {" + used +
                                           "}, another template: a step's templates use the values that read answers");
  if (const toml::node* fails = table->get("fail")) step.fails = fails_of(*fails, context, index);
  if (const toml::table* pages = optional_table(*table, "pages")) {
    if (step.for_each_file) refuse(pages, "a step for each file has no pages");
    step.pages = pages_of(*pages, context, index);
  }
  if (const toml::table* gives = optional_table(*table, "gives")) {
    if (!step.for_each_file) refuse(gives, "[steps.gives] is for a step for each file");
    step.gives = gives_of(*gives, step, context, index);
  }
  return step;
}

}  // namespace

void read_steps(const toml::node& node, service_rule& rule, reading_context& context) {
  const toml::array* list = node.as_array();
  if (list == nullptr) refuse(&node, "'steps' is a list of tables ([[steps]])");
  if (list->size() > most_steps) refuse(&node, "at most " + std::to_string(most_steps) + " steps");
  for (const toml::node& item : *list) rule.steps.push_back(step_of(item, rule, context));
}

namespace {

/// The names a template may use where `use` stands.
std::set<std::string> names_for(const service_rule& rule, const template_use& use) {
  std::set<std::string> names = {"share", "password", "dir"};
  for (const auto& [name, value] : rule.values) names.insert(name);
  if (use.step >= 0) {
    const step_rule& step = rule.steps[static_cast<std::size_t>(use.step)];
    for (const auto& [name, value] : step.values) names.insert(name);
    if (step.pages) names.insert(step.pages->param);
  }
  if (use.file) {
    for (std::string_view field : rule_field_names) names.insert("file." + std::string(field));
    names.insert("file.folder");
    for (const auto& [name, field] : rule.records.extra) names.insert("file." + name);
  }
  return names;
}

/// Refuses a [values] template that comes back to itself through others.
void check_loops(const service_rule& rule, const reading_context& context) {
  const auto uses_of = [&](const std::string& value) -> const template_use* {
    for (const template_use& use : context.templates)
      if (use.value == value) return &use;
    return nullptr;
  };
  for (const template_use& start : context.templates) {
    if (start.value.empty()) continue;
    // A walk along the names used, at most as long as there are values.
    std::vector<const template_use*> path = {&start};
    for (std::size_t i = 0; i < path.size() && path.size() <= rule.values.size() + 1; ++i)
      for (const std::string& name : template_names(path[i]->text)) {
        if (name == start.value) refuse(start.at, "the value " + start.value + " is made of itself");
        const template_use* next = uses_of(name);
        if (next != nullptr && std::find(path.begin(), path.end(), next) == path.end()) path.push_back(next);
      }
  }
}

}  // namespace

void check_template_names(const toml::table& root, const service_rule& rule, const reading_context& context) {
  (void)root;
  for (const template_use& use : context.templates) {
    const std::set<std::string> names = names_for(rule, use);
    for (const std::string& name : template_names(use.text)) {
      if (names.contains(name)) continue;
      std::string where = "here";
      if (name.starts_with("file.") && !use.file) where = "outside a step for each file and a record's condition";
      refuse(use.at, "the template uses {" + name + "}, which is no value " + where +
                         " (share, password, dir, [values], the step's values and page, file.NAME)");
    }
  }
  check_loops(rule, context);
}

}  // namespace sharelink::rule_toml
