#include "cli/downloads.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "cli/archive.h"
#include "cli/lookup.h"
#include "runtime/polite_fetch.h"
#include "cli/session.h"
#include "download/download.h"
#include "download/md5.h"
#include "download/files.h"
#include "download/safe_name.h"
#include "resolve/share_access.h"

namespace sharelink::cli {
namespace {

// A page's file name goes into error lines: kept to one line without control
// characters, so that it cannot split the line or steer the terminal.
std::string file_label(const file_entry& f, std::size_t index) {
  return f.file_name.empty() ? "file " + std::to_string(index + 1) : one_line(f.file_name);
}

// The address of the file `owner` names on the share page of `r` read again, when
// the page still lists it (its name, size and content MD5, and its place among
// files that share them).
std::optional<local_text> fresh_address(const resolution& r, const std::string& owner, session& run) {
  const resolution again = run.resolve(r.address);
  // Taken as the first reading was: a last file without an address leaves the others.
  const auto has_address = [](const file_entry& f) { return !f.download_url.empty(); };
  if (again.error &&
      !(*again.error == no_download_address && std::any_of(again.files.begin(), again.files.end(), has_address)))
    return std::nullopt;
  const std::vector<std::string> owners = file_owners(again);
  for (std::size_t j = 0; j < again.files.size(); ++j)
    if (owners[j] == owner && !download_address_refusal(again.files[j])) return again.files[j].download_url;
  return std::nullopt;
}

// The name the helper threads of downloads are counted under among the run's places.
const std::string helper_threads = "helper threads";

// The files of a page choose their names one after another, in page order, so that
// two of one name get the same names in every run (and the ones the --aria2 list
// gives them): a run that resumes finds each .part under its own file's name.
class name_turns {
 public:
  /// Waits until the files before `k` have chosen their names; false once `cancel`
  /// turned true.
  bool wait(std::size_t k, const std::atomic<bool>* cancel) {
    std::unique_lock lock(mutex_);
    while (next_ < k) {
      if (cancel->load()) return false;
      changed_.wait_for(lock, std::chrono::milliseconds(20));
    }
    return true;
  }
  /// File `k` has chosen its name (or will not choose one).
  void done(std::size_t k) {
    std::lock_guard lock(mutex_);
    next_ = std::max(next_, k + 1);
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;
};

// Downloads file `i` of `r` into its `download`, once its turn to choose a name, a
// place and its host let it and no other download of the same file runs; leaves it
// without one when the run is interrupted first.
void download_one(resolution& r, std::size_t i, const std::string& owner, std::size_t turn, name_turns& turns,
                  session& run) {
  struct turn_done {  // whatever happens, the next file's turn comes
    name_turns& turns;
    std::size_t turn;
    ~turn_done() { turns.done(turn); }
  } done_at_the_latest{turns, turn};
  file_entry& f = r.files[i];
  const settings& chosen = run.chosen;
  const std::atomic<bool>* cancel = &run.interrupted;
  // In this order, so that nothing waited for waits in turn: a download holding a
  // place or a host's pass waits for neither a turn nor another download.
  if (!turns.wait(turn, cancel)) return;
  const auto only_download_of_the_file = run.one_download_per_file.enter(owner, cancel);
  if (!only_download_of_the_file) return;
  const auto place = run.download_places.enter({}, cancel);
  if (!place) return;
  // The host the file is fetched from, until a fresh address moves it, and the waits
  // for its pauses (Retry-After), all counted against --retry-max-wait.
  std::string host = host_and_port(f.download_url);
  wait_budget budget(chosen.retry.most_wait_s);
  run.gate.limit(host, r.limits);  // the service's own, if it has any
  std::optional<host_gate::pass> host_pass = run.gate.enter(host, cancel, &budget);
  if (!host_pass) {
    if (budget.refusal().empty()) return;
    f.download = download_report::failed(budget.refusal(), error_kind::http);
    return;
  }
  download_job job;
  job.url = f.download_url;
  job.referer = r.share();
  job.file_name = f.file_name;
  job.fallback_name = f.download_url;
  job.expected_size = f.size_bytes;
  // Only a Pan record's own md5 key is a hash of the content.
  if (r.md5_is_content_hash && is_md5_hex(f.md5)) job.expected_md5 = f.md5;
  // A file in a folder of the share goes into that folder under the output folder.
  const std::string folder = safe_folder_path(f.folder, native_name_units);
  job.output_dir = folder.empty() ? chosen.output_dir : join_path(chosen.output_dir.empty() ? "." : chosen.output_dir, folder);
  // The user's cookies go to the hosts of the share's own site, as its page's did.
  job.fetch = for_share(r.share(), chosen.lookup.fetch);
  // The rule's request settings go to the host its answer names for the file.
  job.fetch.user_agent = f.user_agent;
  job.fetch.headers.insert(job.fetch.headers.end(), r.request_headers.begin(), r.request_headers.end());
  // A large file takes as long as it takes; the stall limit still applies.
  job.fetch.total_timeout_ms = 0;
  job.retry.most_wait_s = chosen.retry.most_wait_s;
  job.waits = &budget;
  // A Retry-After leaves the host alone meanwhile, for every request of the run. The
  // download waits it out itself, counted in its budget.
  job.host_asks_to_wait = [&](std::chrono::steady_clock::time_point until) { run.gate.pause(host, until); };
  job.claims = run.name_claims;
  job.owner = owner;
  job.name_chosen = [&] { turns.done(turn); };
  // An expired download address: the share page is read again for a fresh one. The
  // host's place is given back meanwhile, as the page may be on the same host; the
  // file's host is then the fresh address's.
  job.refresh = [&]() -> std::optional<local_text> {
    host_pass.reset();
    std::optional<local_text> fresh = fresh_address(r, owner, run);
    if (fresh) host = host_and_port(*fresh);
    run.gate.limit(host, r.limits);
    auto entered = run.gate.enter(host, cancel, &budget);
    if (!entered) return std::nullopt;
    host_pass.emplace(std::move(*entered));
    return fresh;
  };

  const int id = run.display.download_begun();
  download_report report(download_file(job, [&](const download_progress& p) {
    run.display.download_moved(id, p.name, p.bytes, p.total);
  }));
  report.md5_missing = r.md5_is_content_hash && job.expected_md5.empty();
  if (report.error) report.error = one_line(*report.error);
  note_in_archive(run.archive, r, f, report);
  run.display.download_ended(id, f.file_name, report);
  f.download = std::move(report);
}

// download_one, and when it fails in itself (out of memory), the file fails: the
// other files and the run go on.
void download_one_safely(resolution& r, std::size_t i, const std::string& owner, std::size_t turn,
                         name_turns& turns, session& run) {
  std::string reason;  // short enough to need no memory of its own
  try {
    download_one(r, i, owner, turn, turns, run);
    return;
  } catch (const std::bad_alloc&) {
    reason = "out of memory";
  } catch (...) {
    reason = "download failed";
  }
  if (r.files[i].download) return;
  try {
    r.files[i].download = download_report::failed(std::move(reason), error_kind::download);
  } catch (...) {  // left without a report: counted as never started
  }
}

}  // namespace

std::vector<std::string> file_owners(const resolution& r) {
  std::vector<std::string> owners;
  owners.reserve(r.files.size());
  std::map<std::string, std::size_t> seen;  // how often each name, size and MD5 came
  for (const file_entry& f : r.files) {
    // The content MD5 only: another page's MD5 text may be a key that changes with
    // each visit.
    // A file in a folder is told apart by its folder too (a file at the top keeps
    // the owner it had before shares had folders).
    std::string identity = f.folder.empty() ? std::string() : f.folder + '\0';
    for (const std::string& part : {f.file_name, f.size_bytes ? std::to_string(*f.size_bytes) : std::string("-"),
                                    r.md5_is_content_hash ? f.md5 : std::string()})
      identity += part + '\0';
    const std::size_t same_before = seen[identity]++;
    owners.push_back(md5_hex(r.share() + '\0' + identity + std::to_string(same_before)));
  }
  return owners;
}

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

void download_files(resolution& r, session& run) {
  std::vector<std::size_t> kept;
  for (std::size_t i = 0; i < r.files.size(); ++i) {
    file_entry& f = r.files[i];
    // Every record gets its report, so that each has its line: one left out says why.
    if (const auto refused = download_address_refusal(f)) {
      f.download = download_report::failed(one_line(*refused) + "; left out", f.error ? f.error->kind : error_kind::page);
    } else if (auto archived = archived_report(run.archive, r, f)) {
      f.download = std::move(archived);
    } else {
      kept.push_back(i);
    }
  }
  // Threads take the files in page order; the run's places bound how many download.
  std::atomic<std::size_t> next{0};
  name_turns turns;
  const std::vector<std::string> owners = file_owners(r);
  const auto take_files = [&] {
    for (std::size_t k; (k = next++) < kept.size();) download_one_safely(r, kept[k], owners[kept[k]], k, turns, run);
  };
  // This thread takes files, and so do helpers while the page has files for them:
  // at most --jobs helpers in the whole run (counted among the download places under
  // a name of their own), so that pages downloading at once start no more. A helper
  // that cannot be started leaves its files to the others.
  const std::size_t threads = std::min<std::size_t>(kept.size(), static_cast<std::size_t>(run.chosen.jobs));
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) {
    std::optional<host_gate::pass> helper_place = run.download_places.try_enter(helper_threads);
    if (!helper_place) break;
    try {
      helpers.emplace_back([&take_files, held = std::move(*helper_place)]() mutable {
        take_files();
        held.leave();
      });
    } catch (const std::exception&) {  // no thread: the place went with the lambda
      break;
    }
  }
  take_files();
  for (std::thread& helper : helpers) helper.join();

  for (std::size_t i : kept) {
    file_entry& f = r.files[i];
    if (!f.download) {
      // Not started: the run was interrupted first.
      if (!r.error || !r.error->ends_with("interrupted")) add_error(r, "interrupted");
      f.download = download_report::failed("interrupted", error_kind::interrupted);
    } else if (f.download->error) {
      add_error(r, file_label(f, i) + ": " + *f.download->error);
    }
    if (!r.failure_kind && f.download->error) r.failure_kind = f.download->kind;
  }
}

std::string download_line(const file_entry& f, std::size_t index) {
  const download_report& d = *f.download;
  if (d.in_archive) return "in archive: " + one_line(d.path) + "\n";
  if (d.error)
    return "failed: " + one_line(file_label(f, index)) + ": " + one_line(*d.error) +
           (d.refreshed > 0 ? " (address re-resolved)" : "") + "\n";
  std::string line = (d.already_present ? "already there: " : "saved: ") + one_line(d.path) + " (" +
                     std::to_string(d.bytes) + (d.bytes == 1 ? " byte" : " bytes");
  if (d.md5_checked) line += *d.md5_checked ? ", MD5 matched" : ", MD5 differs";
  else if (d.md5_missing) line += ", not checked: the page gives no MD5";
  if (d.refreshed > 0) line += ", address re-resolved";
  return line + ")\n";
}

}  // namespace sharelink::cli
