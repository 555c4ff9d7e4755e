#include "resolve/share_run.h"

#include <algorithm>
#include <chrono>

#include <nlohmann/json.hpp>

#include "codec/ascii_case.h"

namespace sharelink::share_engine {
namespace {

/// The header `name: value` in `headers` in place of any of that name.
void set_header(std::vector<std::string>& headers, const std::string& name, const std::string& value) {
  std::erase_if(headers, [&](const std::string& header) { return starts_with_ignoring_case(header, name + ":"); });
  headers.push_back(name + ": " + value);
}

/// The default words of a failure the rule names without a message.
std::string default_message(error_kind kind) {
  switch (kind) {
    case error_kind::password: return "the extraction code was not accepted";
    case error_kind::gone: return "the share is gone";
    case error_kind::login: return "the share needs a login (give --cookies FILE)";
    default: break;
  }
  return "the service says the share cannot be read";
}

std::string_view method_name(http_method method) { return method == http_method::post ? "POST" : "GET"; }

}  // namespace

/// The listener a resolution was given, told one thing at a time.
class share_run::locked_trace final : public rule_trace {
 public:
  explicit locked_trace(rule_trace& sink) : sink_(sink) {}
  void request(const traced_request& request) override {
    std::lock_guard lock(mutex_);
    sink_.request(request);
  }
  void reading(const traced_reading& reading) override {
    std::lock_guard lock(mutex_);
    sink_.reading(reading);
  }

 private:
  rule_trace& sink_;
  std::mutex mutex_;
};

std::string without_password(std::string text, const std::optional<std::string>& password) {
  if (!password || password->empty()) return text;
  for (const std::string& form : {*password, escape_for_address(*password), escape_for_form(*password)})
    for (std::size_t at = text.find(form); at != std::string::npos; at = text.find(form, at + 3))
      text.replace(at, form.size(), "***");
  return text;
}

share_run::share_run(const service_rule& rule, std::string_view share, const resolve_settings& settings)
    : rule(rule), settings(settings), share(share) {
  if (settings.trace != nullptr) trace_ = std::make_unique<locked_trace>(*settings.trace);
}

share_run::~share_run() = default;

rule_trace* share_run::trace() { return trace_.get(); }

reading_scope share_run::scope(std::string what, template_values values) {
  reading_scope scope;
  scope.values = std::move(values);
  scope.trace = trace();
  scope.what = std::move(what);
  scope.cancel = cancel();
  return scope;
}

std::optional<std::string> share_run::rule_value(std::string_view name, std::string* why) {
  std::lock_guard lock(values_mutex_);
  if (const auto found = rule_values_.find(name); found != rule_values_.end()) {
    if (!found->second && why != nullptr) *why = "the value " + std::string(name) + " is not in the answer";
    return found->second;
  }
  const bool given = std::any_of(rule.values.begin(), rule.values.end(), [&](const auto& v) { return v.first == name; });
  if (!given) {
    if (name == "share") return share;
    if (name == "password") return settings.password;
    if (name == "dir") return std::string();
  }
  return read_rule_value(std::string(name), why);
}

std::optional<std::string> share_run::read_rule_value(const std::string& name, std::string* why) {
  const auto entry = std::find_if(rule.values.begin(), rule.values.end(), [&](const auto& v) { return v.first == name; });
  if (entry == rule.values.end()) return std::nullopt;
  const value_reading& reading = entry->second;
  // A value read from a step that has not answered yet is not read yet: asked again
  // later, it may be there.
  if (!reading.filled && answer_for(top, reading.step) == nullptr) {
    if (why != nullptr) *why = "the value " + name + " reads the answer of step " + reading.step + ", which has not come yet";
    return std::nullopt;
  }
  if (std::find(reading_.begin(), reading_.end(), name) != reading_.end()) return std::nullopt;
  reading_.push_back(name);
  reading_scope scope;
  scope.values = [this](std::string_view other) { return rule_value(other); };
  scope.trace = trace();
  scope.what = "value " + name;
  scope.cancel = cancel();
  std::optional<sharelink::failure> error;
  std::optional<std::string> problem;
  std::optional<std::string> value = read_value(reading, top, scope, error, &problem);
  reading_.pop_back();
  if (error) fail({error->message, error->kind, std::nullopt, {}});
  if (problem) fail({"the value " + name + ": " + *problem, error_kind::page, std::nullopt, {}});
  // An empty value is no value: a request made with it would ask for nothing.
  if (value && value->empty()) value.reset();
  rule_values_.emplace(name, value);
  if (!value && why != nullptr) *why = "the value " + name + " is not in the answer";
  return value;
}

std::optional<std::string> share_run::step_value(std::size_t index, const std::string& name) {
  std::lock_guard lock(values_mutex_);
  const auto key = std::make_pair(index, name);
  if (const auto found = step_values_.find(key); found != step_values_.end()) return found->second;
  const step_rule& step = rule.steps[index];
  const auto entry = std::find_if(step.values.begin(), step.values.end(), [&](const auto& v) { return v.first == name; });
  if (entry == step.values.end()) return std::nullopt;
  reading_scope scope;
  scope.values = [this](std::string_view other) { return rule_value(other); };
  scope.trace = trace();
  scope.what = "step " + step.name + ": value " + name;
  scope.cancel = cancel();
  std::optional<sharelink::failure> error;
  std::optional<std::string> problem;
  std::optional<std::string> value = read_value(entry->second, top, scope, error, &problem);
  if (error) fail({error->message, error->kind, std::nullopt, step.name});
  if (problem) fail({"the value " + name + ": " + *problem, error_kind::page, std::nullopt, step.name});
  if (value && value->empty()) value.reset();
  // A value that is a template is filled each time it is asked for: it may use a
  // page's counter or a file's values.
  if (!entry->second.filled) step_values_.emplace(key, value);
  return value;
}

template_values share_run::values_for(std::size_t index, const template_values& own) {
  return [this, index, own](std::string_view name) -> std::optional<std::string> {
    if (own)
      if (std::optional<std::string> value = own(name)) return value;
    const step_rule& step = rule.steps[index];
    const auto entry = std::find_if(step.values.begin(), step.values.end(), [&](const auto& v) { return v.first == name; });
    if (entry == step.values.end()) return rule_value(name);
    if (!entry->second.filled) return step_value(index, entry->first);
    // A template among the step's values fills in from the same values.
    reading_scope scope;
    scope.values = values_for(index, own);
    scope.trace = trace();
    scope.what = "step " + step.name + ": value " + entry->first;
    std::optional<sharelink::failure> error;
    return read_value(entry->second, top, scope, error);
  };
}

run_failure share_run::missing_value(const std::string& step, const std::string& name) {
  if (name == "password" && !settings.password)
    return {"this share needs an extraction code: give --password CODE (or paste the share text with its code)",
            error_kind::password, std::nullopt, step};
  std::string why = "the value " + name + " is not in the answer";
  if (!name.starts_with("file.")) rule_value(name, &why);
  else why = "the value " + name + " is not in the file's record";
  return {why, error_kind::page, std::nullopt, step};
}

std::optional<step_request> share_run::request_of(std::size_t index, const template_values& values,
                                                  run_failure& failed) {
  const step_rule& step = rule.steps[index];
  step_request request;
  request.method = step.method;
  std::optional<std::string> missing;
  const auto fill = [&](const std::string& text, template_place place) {
    filled_template filled = fill_template(text, place, values);
    if (filled.missing && !missing) missing = filled.missing;
    return std::move(filled.text);
  };
  request.address = fill(step.address, template_place::address);
  if (!step.form.empty()) {
    std::string body;
    for (const auto& [name, value] : step.form)
      body += (body.empty() ? "" : "&") + escape_for_form(name) + "=" + fill(value, template_place::form);
    request.body = std::move(body);
    set_header(request.headers, "Content-Type", "application/x-www-form-urlencoded");
  } else if (step.json_body) {
    request.body = fill(*step.json_body, template_place::json);
    set_header(request.headers, "Content-Type", "application/json");
  } else if (step.method == http_method::post) {
    request.body = std::string();
  }
  for (const auto& [name, value] : step.headers) {
    const std::string text = fill(value, template_place::plain);
    if (has_control_character(text)) {
      failed = {"the header " + name + " would hold a control character", error_kind::page, std::nullopt, step.name};
      return std::nullopt;
    }
    set_header(request.headers, name, text);
  }
  if (missing) {
    failed = missing_value(step.name, *missing);
    return std::nullopt;
  }
  if (step.json_body && !nlohmann::json::accept(*request.body)) {
    failed = {"its json_body is no JSON once filled in", error_kind::page, std::nullopt, step.name};
    return std::nullopt;
  }
  return request;
}

step_request share_run::page_request() const {
  step_request request;
  request.address = share;
  return request;
}

step_answer share_run::ask(const std::string& step, const step_request& request, std::size_t page,
                           std::string_view folder, std::size_t saved_index) {
  step_answer got;
  const auto started = std::chrono::steady_clock::now();
  if (settings.saved != nullptr) {
    const auto found = settings.saved->find(step);
    if (found == settings.saved->end() || found->second.empty()) {
      // Not a fetch's failure: nothing was asked.
      got.outcome.fetched = true;
      got.saved_missing = true;
    } else if (saved_index >= found->second.size()) {
      got.saved_none = true;
      return got;
    } else {
      got.outcome.fetched = true;
      got.outcome.body = found->second[saved_index];
      got.outcome.final_address = request.address;
    }
  } else if (++requests_ > most_requests) {
    got.outcome.error = "more than " + std::to_string(most_requests) + " requests for one share";
  } else {
    // The user's cookies go to the share's own site only.
    fetch_options options = with_request(rule, for_share(share, settings.fetch));
    options.same_host_redirects_only = step != "page";
    for (const std::string& header : request.headers) {
      const std::string name = header.substr(0, header.find(':'));
      set_header(options.headers, name, header.substr(header.find(':') + 2));
    }
    if (request.body) options.post_body = request.body;
    got.outcome = settings.fetcher ? settings.fetcher(request.address, options)
                                   : fetch_page_reporting(request.address, options);
    if (got.outcome.final_address.empty()) got.outcome.final_address = request.address;
  }
  got.body_size = got.outcome.body.size();
  if (rule_trace* sink = trace()) {
    const auto spent = std::chrono::steady_clock::now() - started;
    sink->request({step, std::string(method_name(request.method)), without_password(request.address, settings.password),
                   page, std::string(folder), got.outcome.status, got.body_size,
                   std::chrono::duration_cast<std::chrono::milliseconds>(spent).count(), got.outcome.error});
  }
  got.answer = {step, take_answer_text(rule, std::move(got.outcome.body), got.outcome.content_type)};
  got.outcome.body = byte_string();
  {
    std::lock_guard lock(outcome_mutex_);
    last_outcome = got.outcome;
    last_body_size = got.body_size;
  }
  return got;
}

std::optional<run_failure> share_run::failure_told(const std::vector<fail_rule>& fails, const rule_answer& answer,
                                                   const template_values& values, const std::string& label) {
  reading_scope scope;
  scope.values = values;
  scope.trace = trace();
  scope.cancel = cancel();
  for (std::size_t i = 0; i < fails.size(); ++i) {
    scope.what = label + " " + std::to_string(i + 1);
    std::optional<sharelink::failure> error;
    if (!condition_holds(fails[i].condition, answer, scope, error)) continue;
    const error_kind kind = fails[i].kind;
    std::string message = fails[i].message.empty() ? default_message(kind) : fails[i].message;
    if (kind == error_kind::password && !settings.password) return missing_value(answer.step, "password");
    return run_failure{std::move(message), kind, std::nullopt, answer.step == "page" ? "" : answer.step};
  }
  return std::nullopt;
}

std::optional<run_failure> fetch_failure(const step_answer& got, const std::string& step) {
  const fetch_outcome& outcome = got.outcome;
  if (outcome.fetched && (outcome.status == 0 || (outcome.status >= 200 && outcome.status <= 299))) return std::nullopt;
  return run_failure{{}, std::nullopt, outcome, step == "page" ? "" : step};
}

void share_run::fail(run_failure failure) {
  std::lock_guard lock(failure_mutex_);
  if (!failure_) failure_ = std::move(failure);
  stopped_ = true;
}

bool share_run::stopped() const { return stopped_.load() || (cancel() != nullptr && cancel()->load()); }

std::optional<run_failure> share_run::failure() const {
  std::lock_guard lock(failure_mutex_);
  return failure_;
}

}  // namespace sharelink::share_engine
