#include "resolve/service_resolve.h"

#include <algorithm>

#include "codec/hex_escape.h"

namespace sharelink {
namespace {

bool answered_well(const fetch_outcome& outcome) {
  return outcome.fetched && (outcome.status == 0 || (outcome.status >= 200 && outcome.status <= 299));
}

}  // namespace

fetch_options with_request(const service_rule& rule, fetch_options options) {
  if (rule.request.user_agent) options.user_agent = *rule.request.user_agent;
  options.service_max_per_host = rule.limits.max_per_host;
  options.service_interval_ms = rule.limits.interval_ms;
  for (const auto& [name, value] : rule.request.headers) options.headers.push_back(name + ": " + value);
  return options;
}

std::string fill_step_address(std::string_view address_template,
                              const std::vector<std::pair<std::string, std::string>>& values) {
  // Everything but the unreserved characters of an address is escaped.
  const auto escaped = [](unsigned char c) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                       c == '.' || c == '_' || c == '~';
    return !plain;
  };
  std::string address;
  for (std::size_t i = 0; i < address_template.size(); ++i) {
    const std::size_t close = address_template.find('}', i);
    if (address_template[i] != '{' || close == std::string_view::npos) {
      address.push_back(address_template[i]);
      continue;
    }
    const std::string_view name = address_template.substr(i + 1, close - i - 1);
    const auto value = std::find_if(values.begin(), values.end(), [&](const auto& v) { return v.first == name; });
    if (value != values.end()) address += percent_escape(value->second, escaped);
    i = close;
  }
  return address;
}

service_resolution resolve_service(const service_rule& rule, std::string_view address, const fetch_options& options,
                                   const page_fetcher& fetch, std::string_view password) {
  service_resolution result;
  if ((result.read.error = refuse_access(rule, address, options))) return result;
  const fetch_options settings = with_request(rule, for_share(address, options));
  fetch_options step_settings = settings;
  step_settings.same_host_redirects_only = true;
  const auto fetch_page = [&](std::string_view at, const fetch_options& with) {
    return fetch ? fetch(at, with) : fetch_page_reporting(at, with);
  };
  rule_answers answers;
  // Each body becomes its answer, then goes: an answer of 8 MiB is held once.
  const auto take_answer = [&](std::string step) {
    result.body_size = result.outcome.body.size();
    answers.push_back({std::move(step), take_answer_text(rule, std::move(result.outcome.body), result.outcome.content_type)});
    result.outcome.body = byte_string();
  };
  result.outcome = fetch_page(address, settings);
  take_answer("page");
  bool stopped = !answered_well(result.outcome);
  for (const step_rule& step : rule.steps) {
    if (stopped) break;
    std::vector<std::pair<std::string, std::string>> values;
    for (const auto& [name, reading] : step.values) {
      std::optional<local_text> value = read_value(reading, answers, result.read.error, options.cancel);
      if (!value || value->empty()) {
        result.failed_step = step.name;
        if (!result.read.error)
          result.read.error = {error_kind::page, "step " + step.name + ": the value " + name + " is not in the answer"};
        stopped = true;
        break;
      }
      values.emplace_back(name, std::move(*value));
    }
    if (stopped) break;
    if (step.address.find("{password}") != std::string::npos) {
      if (password.empty()) {
        result.failed_step = step.name;
        result.read.error = {error_kind::password, "this share needs an extraction code: give --password CODE (or "
                                                   "paste the share text with its code)"};
        break;
      }
      values.emplace_back("password", std::string(password));
    }
    // The template's scheme and host are checked when the rule is read, every value
    // is escaped, and no redirect leaves the host: the request goes nowhere the rule
    // did not name.
    result.outcome = fetch_page(fill_step_address(step.address, values), step_settings);
    take_answer(step.name);
    if (!answered_well(result.outcome)) {
      result.failed_step = step.name;
      stopped = true;
    }
  }
  std::optional<failure> error = std::move(result.read.error);
  result.read = read_with_rule(rule, answers, options.cancel);
  if (error) result.read.error = std::move(error);
  return result;
}

}  // namespace sharelink
