#pragma once
// Inside the rule reader: the helpers its parts share (rule.cpp reads the file and
// its fields and records, rule_steps.cpp the requests and what they read).
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <toml++/toml.h>

#include "rules/rule.h"

namespace sharelink::rule_toml {

/// Thrown inside the reader only, to leave it at the first problem.
struct refusal {
  rule_problem problem;
};

[[noreturn]] void refuse(const toml::node* at, std::string what);

/// Refuses every key of `table` that is not in `known`; `where` names the table
/// in the message ("steps" gives "in [steps]").
void only_keys(const toml::table& table, std::string_view where, std::initializer_list<std::string_view> known);

std::string text_of(const toml::node& node, std::string_view key);
std::optional<std::string> optional_text(const toml::table& table, std::string_view key);
const toml::table* optional_table(const toml::table& table, std::string_view key);
/// A whole number from `least` to `most`, or nothing when the key is not there.
std::optional<long long> optional_number(const toml::table& table, std::string_view key, long long least,
                                         long long most);
std::optional<bool> optional_bool(const toml::table& table, std::string_view key);

void check_pattern(const toml::node& at, const std::string& pattern);
void check_json_pointer(const toml::node& at, const std::string& pointer);
std::vector<decode_step> decode_steps(const toml::node& node);
bool is_name(std::string_view name);
/// A name a template can write in braces: a letter or "_", then letters, digits,
/// "_" and "-".
bool is_value_name(std::string_view name);

/// Where a template stands, which says the names it may use.
struct template_use {
  const toml::node* at = nullptr;
  std::string text;
  int step = -1;       ///< the step whose values and page counter it may use; -1 for none
  bool file = false;   ///< it may use {file.NAME}
  std::string value;   ///< a [values] template: the value it gives (for loops)
};

/// What the parts of the reader collect as they go, checked once all is read.
struct reading_context {
  std::vector<template_use> templates;
};

/// Refuses a template that cannot be read, and notes it for the check of its names.
void note_template(reading_context& context, const toml::node& at, const std::string& text, int step, bool file,
                   std::string value = {});

/// A value's table: pattern, json or template, decode, step, default; `more` keys
/// besides those are allowed (and read by the caller).
value_reading value_of(const toml::node& node, std::string_view where, reading_context& context, int step,
                       bool file, std::initializer_list<std::string_view> more = {});

/// A condition's table: json or pattern, and equals or present.
condition_rule condition_of(const toml::node& node, std::string_view where, reading_context& context, int step,
                            bool file, std::initializer_list<std::string_view> more = {});

/// [[fail]] or [[steps.fail]]: a list of conditions with kind and message.
std::vector<fail_rule> fails_of(const toml::node& node, reading_context& context, int step);

/// [[steps]], each checked; the names its templates use are checked later.
void read_steps(const toml::node& node, service_rule& rule, reading_context& context);

/// Every template's names are those it may use where it stands, and [values]
/// templates do not go round in a loop.
void check_template_names(const toml::table& root, const service_rule& rule, const reading_context& context);

}  // namespace sharelink::rule_toml
