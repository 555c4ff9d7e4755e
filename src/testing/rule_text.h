#pragma once
// A rule file's text read for a test.
#include <string>
#include <variant>

#include <gtest/gtest.h>

#include "rules/rule.h"

namespace sharelink::testing {

/// The rule `text` describes; a test failure, and an empty rule, when it is none.
inline service_rule rule_of(const std::string& text) {
  auto read = read_rule(text);
  if (auto* problem = std::get_if<rule_problem>(&read)) ADD_FAILURE() << describe(*problem, "rule") << "\n" << text;
  return std::holds_alternative<service_rule>(read) ? std::get<service_rule>(read) : service_rule{};
}

}  // namespace sharelink::testing
