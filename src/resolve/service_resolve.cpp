#include "resolve/service_resolve.h"

#include "codec/codepage.h"
#include "resolve/services.h"

namespace sharelink {
namespace {

bool answered_well(const fetch_outcome& outcome) {
  return outcome.fetched && (outcome.status == 0 || (outcome.status >= 200 && outcome.status <= 299));
}

}  // namespace

fetch_options with_request(const service_rule& rule, fetch_options options) {
  if (rule.request.user_agent) options.user_agent = *rule.request.user_agent;
  for (const auto& [name, value] : rule.request.headers) options.headers.push_back(name + ": " + value);
  return options;
}

std::string fill_step_address(std::string_view address_template,
                              const std::vector<std::pair<std::string, std::string>>& values) {
  constexpr char hex[] = "0123456789ABCDEF";
  std::string address;
  for (std::size_t i = 0; i < address_template.size(); ++i) {
    const std::size_t close = address_template.find('}', i);
    if (address_template[i] != '{' || close == std::string_view::npos) {
      address.push_back(address_template[i]);
      continue;
    }
    const std::string_view name = address_template.substr(i + 1, close - i - 1);
    for (const auto& [key, value] : values) {
      if (key != name) continue;
      for (unsigned char c : value) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '.' || c == '_' || c == '~';
        if (plain) {
          address.push_back(static_cast<char>(c));
        } else {
          address += '%';
          address += hex[c >> 4];
          address += hex[c & 15];
        }
      }
      break;
    }
    i = close;
  }
  return address;
}

service_resolution resolve_service(const service_rule& rule, std::string_view address, const fetch_options& options,
                                   const page_fetcher& fetch) {
  resolve_settings settings;
  settings.fetch = options;
  settings.fetcher = fetch;
  return resolve_service(rule, address, settings);
}

service_resolution resolve_service(const service_rule& rule, std::string_view address,
                                   const resolve_settings& given) {
  const fetch_options& options = given.fetch;
  const page_fetcher& fetch = given.fetcher;
  service_resolution result;
  const fetch_options settings = with_request(rule, options);
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
        if (!result.read.error) result.read.error = "step " + step.name + ": the value " + name + " is not in the answer";
        stopped = true;
        break;
      }
      values.emplace_back(name, local_to_utf8(*value));
    }
    if (stopped) break;
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
  std::optional<std::string> error = std::move(result.read.error);
  result.read = read_with_rule(rule, answers, options.cancel);
  if (error) result.read.error = std::move(error);
  return result;
}

resolved_file resolve_named_service(std::string_view name, std::string_view address, const fetch_options& options) {
  return read_named_service(name, address, options).fields;
}

page_reading read_named_service(std::string_view name, std::string_view address, const fetch_options& options) {
  const service_entry* service = process_services().find(name);
  if (service == nullptr) {
    page_reading none;
    none.fields.size = "0B";
    return none;
  }
  return resolve_service(service->rule, address, options).read.reading;  // moved: a temporary's member
}

}  // namespace sharelink
