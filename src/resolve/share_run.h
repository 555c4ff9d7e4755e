#pragma once
// Inside one resolution: what its parts share (share_run.cpp: values, requests and
// the failures a service reports; share_listing.cpp: steps, pages and folders;
// file_steps.cpp: the steps for each file).
#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "reading/record_listing.h"
#include "resolve/service_resolve.h"

namespace sharelink::share_engine {

/// One request of a step, its templates filled in.
struct step_request {
  http_method method = http_method::get;
  std::string address;
  std::optional<std::string> body;
  std::vector<std::string> headers;  ///< the step's own, "Name: value", its Content-Type among them
};

/// Why a resolution, or one of its files, failed.
struct run_failure {
  std::string message;  ///< one line, without the step's name
  std::optional<error_kind> kind;      ///< the kind the rule names, or the engine's (gone, password)
  std::optional<fetch_outcome> fetch;    ///< a fetch that failed, its body left out
  std::string step;                      ///< the step it failed at; empty for the share page
};

/// What one request gave.
struct step_answer {
  fetch_outcome outcome;  ///< its body moved into `answer`
  rule_answer answer;
  std::size_t body_size = 0;
  bool saved_none = false;  ///< reading saved answers: none is left for this request
  bool saved_missing = false;  ///< reading saved answers: there are none for the step
};

/// A step's answer that did not come, whole or well, as a failure; nothing when it
/// came well (fetched, status 200-299, or a saved answer).
std::optional<run_failure> fetch_failure(const step_answer& got, const std::string& step);

/// The most requests one resolution makes: pages, folders and steps for each file
/// together.
inline constexpr std::size_t most_requests = 3 * most_files;

/// One resolution under way.
class share_run {
 public:
  share_run(const service_rule& rule, std::string_view share, const resolve_settings& settings);
  ~share_run();
  share_run(const share_run&) = delete;
  share_run& operator=(const share_run&) = delete;

  const service_rule& rule;
  const resolve_settings& settings;
  const std::string share;  ///< the share address, local text
  /// The share page's answer and each listing step's (its last page), in order.
  /// Only the steps at the top add to it, before any folder is listed.
  rule_answers top;
  /// The address each answer of `top` came from, after redirects.
  std::vector<std::string> top_addresses;
  /// The room the records of the listing share.
  listing_room room;

  /// The value of `name` at the top: share, password, dir and [values] (read once,
  /// when first asked for). Nothing when it has none, `why` then saying why.
  std::optional<std::string> rule_value(std::string_view name, std::string* why = nullptr);

  /// What the templates of step `index` may use: `own` first (a file's values, a
  /// folder's dir, a page's counter), then the step's values (read from the answers
  /// at the top before it, once), then rule_value.
  template_values values_for(std::size_t index, const template_values& own);

  /// Step `index`'s request, its templates filled with `values`; a failure when a
  /// value is missing or a header would hold a control character.
  std::optional<step_request> request_of(std::size_t index, const template_values& values, run_failure& failed);

  /// The share page's request.
  step_request page_request() const;

  /// Makes the request (or reads the saved answer `saved_index` of `step`), tells
  /// it to the trace, and reads the body as the rule's answer named `step`.
  step_answer ask(const std::string& step, const step_request& request, std::size_t page, std::string_view folder,
                  std::size_t saved_index);

  /// The first of `fails` that holds on `answer`, as a failure; `values` fill their
  /// `equals`. `label` names them in the trace ("step list: fail").
  std::optional<run_failure> failure_told(const std::vector<fail_rule>& fails, const rule_answer& answer,
                                          const template_values& values, const std::string& label);

  /// A value that a template needs and has none, as a failure.
  run_failure missing_value(const std::string& step, const std::string& name);

  /// Ends the resolution with `failure` (a later one is dropped).
  void fail(run_failure failure);
  /// True once the resolution failed or was interrupted.
  bool stopped() const;
  std::optional<run_failure> failure() const;

  /// A reading scope for `what`, its templates filled from `values`.
  reading_scope scope(std::string what, template_values values);

  /// Where readings tell what they read; null when nobody listens.
  rule_trace* trace();
  const std::atomic<bool>* cancel() const { return settings.fetch.cancel; }

  /// The last fetch made, its body left out, and that body's size.
  fetch_outcome last_outcome;
  std::size_t last_body_size = 0;

 private:
  class locked_trace;
  std::optional<std::string> read_rule_value(const std::string& name, std::string* why);
  std::optional<std::string> step_value(std::size_t index, const std::string& name);

  std::recursive_mutex values_mutex_;
  std::map<std::string, std::optional<std::string>, std::less<>> rule_values_;
  std::map<std::pair<std::size_t, std::string>, std::optional<std::string>> step_values_;
  std::vector<std::string> reading_;  ///< [values] being read, against loops

  mutable std::mutex failure_mutex_;
  std::optional<run_failure> failure_;
  std::atomic<bool> stopped_{false};
  std::atomic<std::size_t> requests_{0};
  std::mutex outcome_mutex_;
  std::unique_ptr<locked_trace> trace_;
};

/// The password in `text` (as given, percent-escaped and as a form writes it)
/// shown as "***".
std::string without_password(std::string text, const std::optional<std::string>& password);


}  // namespace sharelink::share_engine
