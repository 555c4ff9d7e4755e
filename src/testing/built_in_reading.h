#pragma once
// Pages read by the built-in services' rules, as the program reads an answer.
#include <string_view>

#include "reading/rule_reading.h"
#include "resolve/named_services.h"
#include "rules/services.h"
#include "runtime/text.h"

namespace sharelink::testing {

/// The built-in rule of `service` ("kuaichuan" or "pan").
inline const service_rule& built_in_rule(std::string_view service) {
  static const service_registry registry = service_registry::built_in();
  return registry.find(service)->rule;
}

/// The page read by the rule as an answer that declares no character set is (up to
/// its first zero byte): every file the page lists and the window's fields.
inline page_reading read_built_in(const service_rule& rule, std::string_view page) {
  return read_with_rule(rule, {{"page", to_text(page)}}).reading;
}

inline page_reading read_built_in(std::string_view service, std::string_view page) {
  return read_built_in(built_in_rule(service), page);
}

/// The window's five fields the rule of `service` reads from the page as a whole
/// ([fields]), its records left aside.
inline resolved_file built_in_fields(std::string_view service, std::string_view page) {
  service_rule rule = built_in_rule(service);
  rule.records = {};
  return shown_fields(read_built_in(rule, page).fields);
}

}  // namespace sharelink::testing
