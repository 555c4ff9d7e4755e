#include "cli/lookup.h"

#include <algorithm>
#include <iterator>
#include <map>

#include "cli/service.h"
#include "codec/utf8.h"
#include "reading/file_record.h"
#include "resolve/service_resolve.h"
#include "resolve/share_text.h"

namespace sharelink::cli {
namespace {

void take_reading(resolution& r, page_reading&& reading) {
  r.fields = std::move(reading.fields);
  r.files.assign(std::make_move_iterator(reading.files.begin()), std::make_move_iterator(reading.files.end()));
  r.more_files = reading.more_files;
}

// What a download of the files of `r` asks with: the rule's request settings.
void take_request(resolution& r, const service_rule& rule) {
  fetch_options asked = with_request(rule, {});
  r.request_headers = std::move(asked.headers);
  r.limits = {asked.service_max_per_host, std::chrono::milliseconds(asked.service_interval_ms)};
  for (file_entry& f : r.files) f.user_agent = asked.user_agent;
}

/// The error of `r` as `found` tells it, with its kind: the failure the rule names,
/// else the last fetch's verdict and the reading's error.
void take_verdict(resolution& r, const service_resolution& found) {
  if (found.failure && found.read.error) {
    r.error = found.read.error->message;
    r.failure_kind = found.read.error->kind;
    return;
  }
  r.error = fetch_verdict(found.outcome, !r.fields.download_url.empty(), found.body_size);
  if (r.error) r.failure_kind = failure_kind_of(found.outcome).value_or(error_kind::page);
  if (found.read.error) {
    r.error = found.read.error->message + (r.error ? "; " + *r.error : "");
    r.failure_kind = found.read.error->kind;
  } else if (r.error && !found.failed_step.empty()) {
    r.error = "step " + found.failed_step + ": " + *r.error;
  }
}

/// `r` with the files left out of its reading, if any, added to its error.
void note_files_left_out(resolution& r) {
  if (!r.more_files) return;
  const std::string reason =
      "the page lists more than " + std::to_string(most_files) + " files; the rest are left out";
  r.error = r.error ? *r.error + "; " + reason : reason;
  if (!r.failure_kind) r.failure_kind = error_kind::page;
}

/// `r` failed before anything was fetched, for `reason`.
resolution& refused(resolution& r, std::string reason) {
  r.error = std::move(reason);
  r.failure_kind = error_kind::address;
  return r;
}

}  // namespace

std::optional<std::string> address_refusal(std::string_view address) {
  if (!has_scheme(address)) return "the address has no scheme (http:// or https://)";
  // The fetcher takes local text, UTF-8: bytes that are not would be sent as
  // U+FFFD, which asks for another page.
  if (utf8_to_local(address) != address)
    return "the address holds bytes that are not UTF-8; percent-encode them (%XX) and try again";
  return std::nullopt;
}

std::optional<std::string> fetch_verdict(const fetch_outcome& outcome, bool has_download_url,
                                         std::optional<std::size_t> bytes_read) {
  std::string verdict;
  const auto add = [&](const std::string& reason) {
    verdict += (verdict.empty() ? "" : "; ") + reason;
  };
  if (outcome.status != 0 && (outcome.status < 200 || outcome.status > 299)) {
    std::string status = "HTTP " + std::to_string(outcome.status);
    const std::string phrase = one_line(outcome.status_text);
    if (const std::string_view words = trim(phrase, " "); !words.empty()) status += " " + std::string(words);
    add(status);
  }
  if (!outcome.fetched) {
    // The reason may quote the address, which the fetcher saw as local text.
    std::string reason = one_line(outcome.error);
    if (reason.find_first_not_of(' ') == std::string::npos) reason = "the page could not be fetched";
    if (outcome.cut != fetch_cut::none) {
      const std::size_t read = bytes_read.value_or(outcome.body.size());
      const std::string count = std::to_string(read);
      if (reason.find(count) == std::string::npos) reason += " (" + count + (read == 1 ? " byte" : " bytes") + " read)";
    }
    add(reason);
  }
  if (verdict.empty() && !has_download_url) add(no_download_address);
  if (verdict.empty()) return std::nullopt;
  return verdict;
}

resolution resolve_address(const std::string& address, const lookup_settings& settings) {
  resolution r;
  r.address = address;
  const service_registry& services = settings.registry();
  const service_entry* forced = settings.forced_service ? services.find(*settings.forced_service) : nullptr;
  const share_input share = read_share_text(address, services, forced);
  r.share_address = share.address;
  if (auto refusal = address_refusal(share.address)) return refused(r, std::move(*refusal));
  const service_entry* which = share.service;
  if (which == nullptr) return refused(r, "cannot tell the service from the address (give --service)");
  r.service = which->rule.name;
  r.md5_is_content_hash = which->rule.md5_is_content_hash;
  resolve_settings how;
  how.fetch = settings.fetch;
  how.fetcher = settings.fetch_page;
  const std::string password = settings.password.value_or(share.password);
  if (!password.empty()) how.password = password;
  how.trace = settings.trace;
  how.at_once = settings.at_once;
  service_resolution found = resolve_service(which->rule, share.address, how);
  if (found.outcome.status != 0) r.http_status = found.outcome.status;
  // The page is read whatever happened: an error page or a cut-short transfer
  // still yields what it holds.
  take_reading(r, std::move(found.read.reading));
  take_request(r, which->rule);
  take_verdict(r, found);
  note_files_left_out(r);
  return r;
}

resolution resolve_saved_page(std::string_view page_bytes, const service_entry& which,
                              const std::vector<std::pair<std::string, std::string>>& step_answers,
                              const std::atomic<bool>* cancel, const saved_reading& more) {
  resolution r;
  r.service = which.rule.name;
  r.md5_is_content_hash = which.rule.md5_is_content_hash;
  // Each answer as the step's next page.
  std::map<std::string, std::vector<std::string>> saved = {{"page", {std::string(page_bytes)}}};
  for (const auto& [step, bytes] : step_answers) saved[step].push_back(bytes);
  resolve_settings how;
  how.fetch.cancel = cancel;
  how.saved = &saved;
  how.trace = more.trace;
  // The address and its code as a fetch of it would take them.
  share_input share;
  if (!more.address.empty()) {
    service_registry alone;
    alone.add(which.rule, which.source);
    share = read_share_text(more.address, alone, &alone.entries().front());
    r.address = more.address;
  }
  const std::string password = more.password.value_or(share.password);
  if (!password.empty()) how.password = password;
  service_resolution found = resolve_service(which.rule, share.address, how);
  take_reading(r, std::move(found.read.reading));
  take_request(r, which.rule);
  if (found.read.error) {
    r.error = found.read.error->message;
    r.failure_kind = found.read.error->kind;
  } else if (r.fields.download_url.empty()) {
    r.error = no_download_address;
    r.failure_kind = error_kind::page;
  }
  note_files_left_out(r);
  return r;
}

}  // namespace sharelink::cli
