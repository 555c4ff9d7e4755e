#include "resolve/service_resolve.h"

#include <algorithm>

#include "resolve/file_steps.h"
#include "resolve/share_listing.h"
#include "resolve/share_run.h"
#include "runtime/relative_address.h"

namespace sharelink {
namespace {

using namespace share_engine;

/// The download addresses of the listing made absolute, each against the address
/// of the answer it was read from.
void make_absolute(share_listing& listing, field_values& fields, const share_run& run) {
  listed_records& files = listing.files;
  for (std::size_t i = 0; i < files.size(); ++i)
    if (files.marks[i].has[0])
      files.files[i].download_url = resolve_reference(files.marks[i].base, files.files[i].download_url);
  if (listing.last && listing.last->marks.has[0])
    listing.last->file.download_url = resolve_reference(listing.last->marks.base, listing.last->file.download_url);
  const rule_answer* from = answer_for(run.top, run.rule.field(rule_field::download_url).step);
  if (from != nullptr && !run.rule.field(rule_field::download_url).filled)
    fields.text[0] = resolve_reference(run.top_addresses[static_cast<std::size_t>(from - run.top.data())], fields.text[0]);
}

/// A file whose download address is no web address cannot be fetched: its error.
void refuse_other_schemes(std::vector<file_record>& files) {
  for (file_record& file : files) {
    if (file.error || file.download_url.empty() || is_web_address(file.download_url)) continue;
    file.error = {error_kind::page, "the download address is not http or https"};
  }
}

/// The failure of the run in the result.
void tell_failure(const share_run& run, service_resolution& result) {
  const std::optional<run_failure> failure = run.failure();
  result.outcome = run.last_outcome;
  result.body_size = run.last_body_size;
  // Ctrl+C between two requests ends the resolution as surely as during one.
  if (!failure && run.stopped() && !result.read.error) result.read.error = interrupted_reading();
  if (!failure) return;
  result.failed_step = failure->step;
  if (failure->fetch) {
    result.outcome = *failure->fetch;
    return;
  }
  result.failure = failure->kind.value_or(error_kind::page);
  result.read.error = {*result.failure, (failure->step.empty() ? "" : "step " + failure->step + ": ") + failure->message};
}

}  // namespace

fetch_options with_request(const service_rule& rule, fetch_options options) {
  if (rule.request.user_agent) options.user_agent = *rule.request.user_agent;
  options.service_max_per_host = rule.limits.max_per_host;
  options.service_interval_ms = rule.limits.interval_ms;
  for (const auto& [name, value] : rule.request.headers) options.headers.push_back(name + ": " + value);
  return options;
}

service_resolution resolve_service(const service_rule& rule, std::string_view address, const fetch_options& options,
                                   const page_fetcher& fetch, std::string_view password) {
  resolve_settings settings;
  settings.fetch = options;
  settings.fetcher = fetch;
  if (!password.empty()) settings.password = std::string(password);
  return resolve_service(rule, address, settings);
}

service_resolution resolve_service(const service_rule& rule, std::string_view address,
                                   const resolve_settings& settings) {
  service_resolution result;
  // Saved answers send nothing: there is no access to refuse.
  if (settings.saved == nullptr && (result.read.error = refuse_access(rule, address, settings.fetch))) {
    result.failure = result.read.error->kind;
    return result;
  }
  share_run run(rule, address, settings);
  share_listing listing = list_share(run);
  std::optional<failure> error = std::move(listing.error);
  field_values fields = read_field_values(
      rule, run.top, run.scope("field", [&run](std::string_view name) { return run.rule_value(name); }), error);
  make_absolute(listing, fields, run);
  result.read = finish_listing(rule, fields, std::move(listing.files), listing.last, listing.files_read, run.room);
  if (error) result.read.error = std::move(error);
  page_reading& reading = result.read.reading;
  const bool file_steps = std::any_of(rule.steps.begin(), rule.steps.end(), [](const step_rule& s) { return s.for_each_file; });
  if (file_steps && !run.stopped()) {
    run_file_steps(run, reading.files);
    // The window shows the last file as its steps made it.
    if (!reading.files.empty() && !reading.more_files) {
      const file_record& last = reading.files.back();
      reading.fields = last;
    }
  }
  refuse_other_schemes(reading.files);
  tell_failure(run, result);
  return result;
}

}  // namespace sharelink
