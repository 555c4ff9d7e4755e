#include "cli/downloads.h"

#include <optional>
#include <utility>

#include "codec/codepage.h"
#include "download/download.h"

namespace sharelink::cli {
namespace {

// A page's file name goes into error lines: kept to one line without control
// characters, so that it cannot split the line or steer the terminal.
std::string file_label(const file_entry& f, std::size_t index) {
  return f.file_name.empty() ? "file " + std::to_string(index + 1) : one_line(f.file_name);
}

}  // namespace

void add_error(resolution& r, const std::string& reason) {
  r.error = r.error ? *r.error + "; " + reason : reason;
}

void check_files_for_download(resolution& r) {
  if (r.files.empty()) {
    add_error(r, "the page lists no file record");
    return;
  }
  for (std::size_t i = 0; i < r.files.size(); ++i)
    if (auto refused = download_address_refusal(r.files[i]))
      add_error(r, file_label(r.files[i], i) + ": " + *refused + "; left out");
}

void download_files(resolution& r, const settings& chosen, const std::atomic<bool>& interrupted,
                    progress_display& display) {
  for (std::size_t i = 0; i < r.files.size(); ++i) {
    file_entry& f = r.files[i];
    // Every record gets its report, so that each has its line: one left out says why.
    download_report skipped;
    if (const auto refused = download_address_refusal(f)) {
      skipped.error = one_line(*refused) + "; left out";
      f.download = std::move(skipped);
      continue;
    }
    if (interrupted.load()) {
      if (!r.error || !r.error->ends_with("interrupted")) add_error(r, "interrupted");
      skipped.error = "interrupted";
      f.download = std::move(skipped);
      continue;
    }
    download_job job;
    job.url = f.local_download_url;
    job.referer = utf8_to_local(r.address);
    job.file_name = f.file_name;
    job.fallback_name = f.download_url;
    job.expected_size = f.size_bytes;
    // Only a Pan record's own md5 key is a hash of the content.
    if (r.md5_is_content_hash && is_md5_hex(f.md5)) job.expected_md5 = f.md5;
    job.output_dir = chosen.output_dir;
    job.fetch = chosen.lookup.fetch;
    // A large file takes as long as it takes; the stall limit still applies.
    job.fetch.total_timeout_ms = 0;

    const int id = display.download_begun();
    const download_result got = download_file(job, [&](const download_progress& p) {
      display.download_moved(id, p.name, p.bytes, p.total);
    });
    download_report report{got.path, got.bytes, got.md5_checked, std::nullopt, got.already_present};
    if (got.error) report.error = one_line(*got.error);
    display.download_ended(id, f.file_name, report);
    if (report.error) add_error(r, file_label(f, i) + ": " + *report.error);
    f.download = std::move(report);
  }
}

std::string download_line(const file_entry& f, std::size_t index) {
  const download_report& d = *f.download;
  if (d.error) return "failed: " + one_line(file_label(f, index)) + ": " + one_line(*d.error) + "\n";
  std::string line = (d.already_present ? "already there: " : "saved: ") + one_line(d.path) + " (" +
                     std::to_string(d.bytes) + (d.bytes == 1 ? " byte" : " bytes");
  if (d.md5_checked) line += *d.md5_checked ? ", MD5 matched" : ", MD5 differs";
  return line + ")\n";
}

}  // namespace sharelink::cli
