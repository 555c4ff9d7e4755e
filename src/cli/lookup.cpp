#include "cli/lookup.h"

#include "codec/codepage.h"
#include "resolve/page_reading.h"

namespace sharelink::cli {
namespace {

page_reading read_page(service s, std::string_view page_text) {
  return s == service::kuaichuan ? read_kuaichuan_page(page_text) : read_pan_page(page_text);
}

file_entry entry_as_utf8(const file_record& local) {
  file_entry f;
  f.download_url = local_to_utf8(local.download_url);
  f.file_name = local_to_utf8(local.file_name);
  f.file_type = local_to_utf8(local.file_type);
  f.extension = local_to_utf8(local.extension);
  f.size = local_to_utf8(local.size);
  f.size_bytes = local.size_bytes;
  f.md5 = local_to_utf8(local.md5);
  f.local_download_url = local.download_url;
  return f;
}

void fill_from_page(resolution& r, service which, std::string_view page_bytes) {
  const page_reading reading = read_page(which, to_text(page_bytes));
  const resolved_file& local = reading.fields;
  r.fields = {local_to_utf8(local.download_url), local_to_utf8(local.file_name),
              local_to_utf8(local.file_type), local_to_utf8(local.size), local_to_utf8(local.md5)};
  r.extension = local_to_utf8(reading.extension);
  r.size_bytes = reading.size_bytes;
  r.files.reserve(reading.files.size());
  for (const file_record& record : reading.files) r.files.push_back(entry_as_utf8(record));
  r.more_files = reading.more_files;
}

/// `r` with the files left out of its reading, if any, added to its error.
void note_files_left_out(resolution& r) {
  if (!r.more_files) return;
  const std::string reason =
      "the page lists more than " + std::to_string(most_files) + " files; the rest are left out";
  r.error = r.error ? *r.error + "; " + reason : reason;
}

constexpr const char* no_download_address = "the page holds no download address";

}  // namespace

std::optional<std::string> address_refusal(std::string_view address) {
  if (!has_scheme(address)) return "the address has no scheme (http:// or https://)";
  // The fetcher takes local text: a character the code page lacks would be sent as
  // '?', which asks for another page (a '?' starts the query).
  if (local_to_utf8(utf8_to_local(address)) != address)
    return "the address holds characters the local code page cannot carry; "
           "percent-encode them (%XX) and try again";
  return std::nullopt;
}

std::optional<std::string> fetch_verdict(const fetch_outcome& outcome, bool has_download_url) {
  std::string verdict;
  const auto add = [&](const std::string& reason) {
    verdict += (verdict.empty() ? "" : "; ") + reason;
  };
  if (outcome.status != 0 && (outcome.status < 200 || outcome.status > 299)) {
    std::string status = "HTTP " + std::to_string(outcome.status);
    const std::string phrase = one_line(outcome.status_text);
    const auto first = phrase.find_first_not_of(' ');
    if (first != std::string::npos)
      status += " " + phrase.substr(first, phrase.find_last_not_of(' ') + 1 - first);
    add(status);
  }
  if (!outcome.fetched) {
    // The reason may quote the address, which the fetcher saw as local text.
    std::string reason = one_line(local_to_utf8(outcome.error));
    if (reason.find_first_not_of(' ') == std::string::npos) reason = "the page could not be fetched";
    if (outcome.cut != fetch_cut::none) {
      const std::string count = std::to_string(outcome.body.size());
      if (reason.find(count) == std::string::npos)
        reason += " (" + count + (outcome.body.size() == 1 ? " byte" : " bytes") + " read)";
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
  if (auto refused = address_refusal(address)) {
    r.error = std::move(refused);
    return r;
  }
  const std::optional<service> which =
      settings.forced_service ? settings.forced_service : service_of_address(address);
  if (!which) {
    r.error = "cannot tell the service from the address (give --service)";
    return r;
  }
  r.service = service_name(*which);
  const fetch_outcome outcome = fetch_page_reporting(utf8_to_local(address), settings.fetch);
  if (outcome.status != 0) r.http_status = outcome.status;
  // The page is read whatever happened: an error page or a cut-short transfer
  // still yields what it holds.
  fill_from_page(r, *which, outcome.body);
  r.error = fetch_verdict(outcome, !r.fields.download_url.empty());
  note_files_left_out(r);
  return r;
}

resolution resolve_saved_page(std::string_view page_bytes, service which) {
  resolution r;
  r.service = service_name(which);
  fill_from_page(r, which, page_bytes);
  if (r.fields.download_url.empty()) r.error = no_download_address;
  note_files_left_out(r);
  return r;
}

}  // namespace sharelink::cli
