#pragma once
// Downloading a resolved file: streamed to NAME.part, resumed, checked, renamed.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "runtime/fetch.h"
#include "runtime/retry_policy.h"
#include "runtime/text.h"

namespace sharelink {

/// The names the downloads of one run have taken in their folders, each with the
/// file it was taken for (its owner, else its address). Two files of one name (and
/// of one size, with no MD5 to tell them apart) get two names, and the second is
/// not taken for the first "already there". Safe to share between threads.
class name_claims {
 public:
  /// Takes `path`, with `path`.part and `path`.part.meta beside it, for file `who`:
  /// true when nobody had any of them, or `who` did (the same file, listed again);
  /// nothing is taken otherwise. Paths compare as the system's file names do
  /// (path_compare_key).
  bool claim(const std::string& path, const std::string& who);
  /// True when `path` was taken for `who`.
  bool held_by(const std::string& path, const std::string& who);

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> taken_;
};

/// One file to download.
struct download_job {
  local_text url;             ///< the file's download address, as resolved (local text)
  local_text referer;         ///< the share page's address, sent as Referer
  std::string file_name;      ///< UTF-8, as the page gives it; made safe before use
  std::string fallback_name;  ///< UTF-8 text a name is made from when file_name gives none
  std::optional<std::uint64_t> expected_size;  ///< the size the page states, when known
  std::string expected_md5;   ///< 32 hexadecimal digits to compare, or empty
  std::string output_dir;     ///< UTF-8; empty means the current directory
  fetch_options fetch;        ///< connect and stall limits, proxy, cancel flag
  /// How patient the download is: a connection that breaks off or stalls, or an
  /// answer that fails in passing, is tried again, resuming, up to retry.retries
  /// times after retry.pause_ms; a 429 or 503 with Retry-After is waited out while
  /// the waits stay within retry.most_wait_s in all, a longer wait ending the
  /// download with an error that says so (kind http).
  retry_policy retry{.retries = 4};
  /// The waits for the host counted for this file so far, others' Retry-After
  /// included (the caller's gate counts them); null: the download counts its own.
  wait_budget* waits = nullptr;
  /// Told that the host asks to wait until `until`, before it is waited out: the
  /// whole host may be left alone meanwhile.
  std::function<void(std::chrono::steady_clock::time_point until)> host_asks_to_wait;
  /// Asked, at most `refreshes` times, when the download address seems to have
  /// expired (an answer 403, 404 or 410, or a size other than the expected one): the
  /// address to continue from, or nothing when there is none. The .part is then
  /// continued from the new address.
  std::function<std::optional<local_text>()> refresh;
  int refreshes = 2;
  /// The names the other downloads of the run have taken; null when there are none.
  std::shared_ptr<name_claims> claims;
  /// Tells this file from others of its name across runs (one line, no control
  /// characters). Kept beside the .part from its start: a .part kept for another
  /// file, or one without that side file (a file of its own), is passed over, never
  /// continued. Empty: a .part is continued unless its side file names another owner.
  std::string owner;
  /// Called once, on the calling thread, when the file's name is chosen or the
  /// download ended before choosing one.
  std::function<void()> name_chosen;
};

/// Where a download stands; handed to the progress callback as bytes arrive.
struct download_progress {
  std::string name;  ///< the file's name in the output folder (UTF-8)
  std::uint64_t bytes = 0;
  std::optional<std::uint64_t> total;
  bool finished = false;
};

/// How a download ended.
struct download_result {
  std::string path;       ///< UTF-8 path of the file (or of the .part left for a resume)
  std::uint64_t bytes = 0;  ///< size of the file on disk
  /// true: the MD5 matched; false: it did not; nothing: there was none to compare.
  std::optional<bool> md5_checked;
  std::optional<std::string> error;  ///< one line; nothing on success
  error_kind kind = error_kind::download;  ///< what kind of failure `error` is
  bool already_present = false;      ///< the file was there already and counts as done
  int refreshed = 0;                 ///< how often the address was refreshed on the way
};

using download_progress_handler = std::function<void(const download_progress&)>;

/// Downloads one file into job.output_dir (created when missing). Never throws.
/// The bytes go to NAME.part, renamed to NAME when whole; an existing NAME is never
/// replaced: one of the same size (and MD5, when expected_md5 is given) counts as
/// done, otherwise the file gets the first free "NAME (n).ext". A NAME.part left
/// by an earlier run for this file (see `owner`) is resumed; a NAME.part or
/// NAME.part.meta that is not this file's is never changed. The fetch's total time
/// limit does not apply; its connect and stall limits and its cancel flag do.
/// Progress is reported from the calling thread, at most about every 100 ms, and
/// once when finished.
download_result download_file(const download_job& job, const download_progress_handler& progress);

}  // namespace sharelink
