#pragma once
// One run of the command past its options: the progress display, each result
// completed (checked for a downloader, downloaded) and printed in order, and the
// tally that makes the exit status.
#include <atomic>
#include <cstddef>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "cli/listed_names.h"
#include "cli/options.h"
#include "runtime/polite_fetch.h"
#include "cli/progress.h"
#include "cli/report.h"
#include "download/download.h"

namespace sharelink::cli {

class aria2_rpc;
class download_archive;

class session {
 public:
  /// `interrupted` turns true on Ctrl+C; `how` and `width` are the progress display's.
  session(const settings& chosen, const std::atomic<bool>& interrupted, std::ostream& out,
          std::ostream& err, progress_display::mode how, int width);

  const settings& chosen;
  const std::atomic<bool>& interrupted;
  std::ostream& out;
  std::ostream& err;
  progress_display display;
  /// Every request of the run passes here (--max-per-host, Retry-After pauses).
  host_gate gate;
  /// The places for downloads: --jobs of them, shared by all pages. (A gate used
  /// under one name only is a plain count of places.)
  host_gate download_places;
  /// One download at a time per file (its owner): an address given twice waits for
  /// the first download of its files, then finds them there.
  host_gate one_download_per_file{1};
  /// The file names the run's downloads have taken.
  std::shared_ptr<sharelink::name_claims> name_claims = std::make_shared<sharelink::name_claims>();
  /// What --aria2 has listed; used on the printing thread only.
  aria2_listing listed;
  /// The download archive (--archive), when the run keeps one.
  download_archive* archive = nullptr;
  /// aria2 over RPC (--aria2-rpc), when the run hands its files to it.
  aria2_rpc* rpc = nullptr;

  /// Fetches and reads the page behind `address`, waiting and retrying as
  /// --retries and --retry-max-wait say; its error's kind set. Called on worker
  /// threads, several at once.
  resolution resolve(const std::string& address);

  /// What happens to a resolution beyond reading its page: with --aria2 its files
  /// are checked for a downloader, with --download they are downloaded. Called on
  /// worker threads, several at once.
  resolution complete(resolution r);

  /// Prints `r` in the chosen form (and its error line) and counts it; false once
  /// standard output cannot be written. Called on one thread, in input order.
  bool emit(resolution&& r);

  /// The number of addresses, when it is known before the batch starts.
  void expect(std::size_t total) { total_ = total; }

  /// The progress display learns how far the batch is: `read` addresses so far, and
  /// whether that is all of them.
  void tick(std::size_t read, bool all_read);

  /// Ends the progress display; the exit status: `status`, or 1 when standard output
  /// could not be written (said on standard error).
  int finish(int status);

  /// True while every result emitted so far was without error.
  bool all_well() const { return failed_ == 0; }

 private:
  resolution completed(resolution r);  ///< complete() before it is counted
  std::optional<std::size_t> total_;  ///< the number of addresses, once known
  bool first_ = true;
  bool write_failed_ = false;
  std::size_t done_ = 0, failed_ = 0;  ///< emitted, for the exit status
  /// Completed on a worker, for the progress line: an address counts as done when it
  /// is, not once the slower ones before it have been printed.
  std::atomic<std::size_t> finished_{0}, finished_failed_{0};
};

}  // namespace sharelink::cli
