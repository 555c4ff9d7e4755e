#include "download/download.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "codec/ascii_case.h"
#include "download/files.h"
#include "download/md5.h"
#include "download/part_writer.h"
#include "download/safe_name.h"
#include "runtime/retry_after.h"

namespace sharelink {
namespace {

using steady = std::chrono::steady_clock;

constexpr auto progress_interval = std::chrono::milliseconds(100);
/// How many taken names are passed over before giving up.

/// How one request of a download went.
struct attempt {
  std::uint64_t offset = 0;    ///< the first byte asked for; 0 asks for the whole file
  std::string stop;            ///< why we ended the transfer, when we did
  error_kind stop_kind = error_kind::download;  ///< what kind of failure `stop` is
  bool retry_status = false;   ///< `stop` is a status worth another try
  bool start_over = false;     ///< the .part cannot be continued: ask for the whole file
  bool whole_already = false;  ///< the range asked for starts at the end of the file
  std::optional<std::uint64_t> limit;  ///< the size the file may not pass
  std::optional<std::chrono::seconds> asked_wait;  ///< a 429 or 503's Retry-After
  bool expired = false;  ///< the answer says the address no longer serves the file
};

class downloader {
 public:
  downloader(const download_job& job, const download_progress_handler& progress)
      : job_(job),
        progress_(progress),
        options_(job.fetch),
        url_(job.url),
        own_waits_(job.retry.most_wait_s),
        waits_(job.waits ? *job.waits : own_waits_) {
    // A download takes as long as it takes; the stall limit catches a dead connection.
    options_.total_timeout_ms = 0;
    if (is_md5_hex(job.expected_md5)) expected_md5_ = ascii_lower(job.expected_md5);
    if (is_header_value(job.owner)) owner_ = job.owner;
  }
  ~downloader() { name_chosen(); }
  downloader(const downloader&) = delete;
  downloader& operator=(const downloader&) = delete;

  download_result run();

 private:
  bool cancelled() const { return job_.fetch.cancel && job_.fetch.cancel->load(); }
  /// Sets the error and its kind; false, for the caller to return.
  bool fail(error_kind kind, std::string error) {
    result_.error = std::move(error);
    result_.kind = kind;
    return false;
  }
  bool interrupted() { return fail(error_kind::interrupted, "interrupted"); }
  std::optional<std::uint64_t> probe_total();
  bool is_same_file(const std::string& path, std::uint64_t size, bool& compared_md5);
  bool choose_name(file_handle& part);
  bool claim_name();
  const std::string& claimant() const { return owner_.empty() ? job_.url : owner_; }
  bool side_files_are_mine(bool part_found);
  void name_chosen();
  void set_name(int number);
  bool accept_head(const response_head& head, attempt& now, part_writer& writer);
  bool transfer(part_writer& writer);
  std::optional<bool> wait_or_refresh(const attempt& now);
  bool whole_and_checked(part_writer& writer);
  void finish(part_writer& writer);
  void end_keeping_part(part_writer& writer, std::string error);
  /// What NAME.part.meta holds.
  struct side_file {
    /// foreign: not one this program writes; empty: no bytes (a write cut short)
    enum { missing, empty, foreign, kept } kind = missing;
    std::string owner;  ///< when kept: the owner it names; empty from a version that named none
  };
  side_file read_meta();
  bool write_meta();
  side_file side_file_read_;  ///< what read_meta last found
  void keep_validator(const response_head& head);
  void report(std::uint64_t bytes, bool finished);

  const download_job& job_;
  const download_progress_handler& progress_;
  fetch_options options_;
  local_text url_;             ///< the download address, refreshed when it expired
  wait_budget own_waits_;      ///< the waits for the host, when the job counts none
  wait_budget& waits_;
  std::string expected_md5_;  ///< lower case; empty when there is none to compare
  std::string dir_;
  std::string base_name_;     ///< the safe name before any numbering
  int number_ = 0;            ///< 0: base_name_, else numbered_file_name(base_name_, number_)
  std::string name_, path_, part_path_;
  /// Beside the .part: a line with the first answer's ETag or Last-Modified, sent as
  /// If-Range on a resume so that a file changed on the server starts over instead of
  /// being spliced, and a line with the job's owner. Empty when NAME.part.meta would
  /// be too long a name: such a .part resumes unchecked.
  std::string meta_path_;
  std::string validator_;
  std::string owner_;  ///< job.owner when it fits on a line, else empty
  bool name_told_ = false;
  bool fresh_ = false;  ///< the next request asks for the whole file
  std::optional<std::uint64_t> total_;         ///< the size the file must reach, once known
  std::optional<std::uint64_t> server_total_;  ///< the size the server last announced
  steady::time_point last_report_{};
  download_result result_;
};

void downloader::report(std::uint64_t bytes, bool finished) {
  if (!progress_) return;
  const auto now = steady::now();
  if (!finished && now - last_report_ < progress_interval) return;
  last_report_ = now;
  download_progress state;
  state.name = name_;
  state.bytes = bytes;
  state.total = total_;
  state.finished = finished;
  // Called from inside the fetch: nothing may be thrown through it.
  try {
    progress_(state);
  } catch (...) {
  }
}

// The size the server announces for the whole file, asked for when the page
// states none and a file of the same name is already there.
std::optional<std::uint64_t> downloader::probe_total() {
  std::optional<std::uint64_t> total;
  fetch_streaming(
      url_, options_, fetch_request{job_.referer, -1, {}},
      [&](const response_head& head) {
        if (head.status == 200 && head.content_length >= 0)
          total = static_cast<std::uint64_t>(head.content_length);
        return false;
      },
      [](std::string_view) { return false; });
  return total;
}

// True when the file at `path` is the one to download: the same size and, when an
// MD5 is expected, the same MD5 (read once to compare).
bool downloader::is_same_file(const std::string& path, std::uint64_t size, bool& compared_md5) {
  if (!total_ || *total_ != size) return false;
  compared_md5 = false;
  if (expected_md5_.empty()) return true;
  file_handle file;
  if (!file.open_read(path)) return false;
  md5 hash;
  std::string buffer(1u << 20, '\0');
  for (;;) {
    if (cancelled()) return false;
    const std::ptrdiff_t n = file.read(buffer.data(), buffer.size());
    if (n < 0) return false;
    if (n == 0) break;
    hash.update(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
  }
  compared_md5 = true;
  return md5::to_hex(hash.finish()) == expected_md5_;
}

void downloader::set_name(int number) {
  number_ = number;
  name_ = number == 0 ? base_name_ : numbered_file_name(base_name_, number, native_name_units);
  path_ = join_path(dir_, name_);
  part_path_ = path_ + ".part";
  meta_path_.clear();
  if (name_length(name_, native_name_units) + 10 <= 255) meta_path_ = part_path_ + ".meta";
}

bool downloader::claim_name() { return !job_.claims || job_.claims->claim(path_, claimant()); }

// True when the .part of the current name (just opened; `part_found`: it was there
// before) and its side file are this file's to use: the side file names this file's
// owner. Without a side file, only a new .part is (or an empty one, as a run stopped
// at its start leaves it; or any, for a caller that names no owner): a .part with
// bytes and no side file is a file of its own, such as a NAME.part a page lists. The
// side file of a version that named no owner lets its .part be continued, under its
// If-Range. Sets validator_.
bool downloader::side_files_are_mine(bool part_found) {
  validator_.clear();
  side_file_read_ = {};
  if (meta_path_.empty()) return true;  // no side file fits beside this name: unchecked
  const side_file kept = read_meta();
  const bool part_empty = stat_path(part_path_).size == 0;
  switch (kept.kind) {
    case side_file::missing: return !part_found || part_empty || owner_.empty();
    case side_file::empty: return part_empty;
    case side_file::foreign: return false;
    case side_file::kept: return kept.owner == owner_ || (part_found && kept.owner.empty());
  }
  return false;
}

void downloader::name_chosen() {
  if (name_told_ || !job_.name_chosen) return;
  name_told_ = true;
  try {
    job_.name_chosen();
  } catch (...) {
  }
}

// Picks the name: the first of NAME, "NAME (1).ext", ... that is not taken by another
// file (on disk, or by another download of the run) and whose .part no other
// download is writing. Opens that .part into `part`.
// False when the download ends here: already present, or an error.
bool downloader::choose_name(file_handle& part) {
  bool probed = false;
  // Lets go of the .part opened for a name not taken, removing it when this download
  // made it (it is empty then).
  bool part_found = false;
  const auto let_go = [&] {
    if (!part_found && stat_path(part_path_).size == 0) part.remove(part_path_);
    part.close();
  };
  int looks = 0;  // a name that appears while its .part is opened is looked at again
  for (int number = 0; number <= most_numbered_names && looks < 3 * most_numbered_names; ++looks) {
    set_name(number);
    const path_status existing = stat_path(path_);
    if (existing.kind == path_kind::file) {
      // Saved in this run for this very file (its address given twice): there, even
      // where no size tells it.
      const bool saved_in_this_run =
          job_.claims && job_.claims->held_by(path_, claimant()) && (!total_ || *total_ == existing.size);
      if (!saved_in_this_run && !total_ && !probed) {
        total_ = probe_total();
        probed = true;
      }
      bool compared_md5 = false;
      if (saved_in_this_run || (is_same_file(path_, existing.size, compared_md5) && claim_name())) {
        result_.path = path_;
        result_.bytes = existing.size;
        result_.already_present = true;
        if (compared_md5) result_.md5_checked = true;
        report(existing.size, true);
        return false;
      }
      if (cancelled()) break;
      ++number;
      continue;
    }
    if (existing.kind != path_kind::missing) {  // a folder or device of that name
      ++number;
      continue;
    }
    part_found = stat_path(part_path_).kind != path_kind::missing;
    switch (part.open_write(part_path_)) {
      case open_result::opened:
        // Another file of this run has the name (or NAME.part, NAME.part.meta), or
        // the .part or its side file on disk are not this file's.
        if (!side_files_are_mine(part_found) || !claim_name()) {
          let_go();
          ++number;
          continue;
        }
        // Another download may have finished this name meanwhile: look at it again.
        if (stat_path(path_).kind == path_kind::missing) return true;
        if (part.is_at(path_)) {
          // NAME is this very .part: the file system cut both names to one (Wine on
          // a Linux file system keeps 255 bytes of a name).
          let_go();
          result_.error = "the file system cannot hold a name this long: " + name_;
          return false;
        }
        let_go();
        continue;
      case open_result::busy:
        ++number;
        continue;
      case open_result::failed:
        if (stat_path(part_path_).kind == path_kind::directory) {  // a folder of that name, as for NAME
          ++number;
          continue;
        }
        result_.error = "cannot write " + part_path_ + ": " + part.error();
        return false;
    }
  }
  if (cancelled()) return interrupted();
  return fail(error_kind::download, "no free name for " + base_name_ + " in the folder");
}

// Reads the .part's side file, its validator into validator_: one line with the
// validator and one with the owner (only the first from a version that named no
// owner), nothing else.
downloader::side_file downloader::read_meta() {
  validator_.clear();
  side_file& kept = side_file_read_;
  kept = {};
  const path_status status = meta_path_.empty() ? path_status{} : stat_path(meta_path_);
  if (status.kind == path_kind::missing) return kept;
  kept.kind = status.kind == path_kind::file && status.size == 0 ? side_file::empty : side_file::foreign;
  file_handle meta;
  if (kept.kind == side_file::empty || !meta.open_read(meta_path_)) return kept;
  char text[2048];
  const std::ptrdiff_t n = meta.read(text, sizeof text);
  if (n <= 0 || static_cast<std::size_t>(n) == sizeof text || text[n - 1] != '\n') return kept;
  const std::string_view lines(text, static_cast<std::size_t>(n) - 1);
  const std::size_t end = lines.find('\n');
  const std::string_view validator = lines.substr(0, end);
  const std::string_view owner = end == std::string_view::npos ? std::string_view() : lines.substr(end + 1);
  if (!is_header_value(validator) || !is_header_value(owner)) return kept;  // a second line break too
  // A version that named no owner wrote the validator alone: a strong ETag or a date.
  if (end == std::string_view::npos && !(validator.size() >= 2 && validator.front() == '"' && validator.back() == '"') &&
      (validator.find_first_not_of("0123456789") == std::string_view::npos ||
       !retry_after_delay(validator, std::chrono::system_clock::now())))
    return kept;
  kept.kind = side_file::kept;
  kept.owner = owner;
  validator_ = validator;
  return kept;
}

// Keeps validator_ and the owner beside the .part (no meta when both are empty);
// false when they could not be kept.
bool downloader::write_meta() {
  if (meta_path_.empty()) return false;
  if (validator_.empty() && owner_.empty()) {
    remove_file(meta_path_);
    return true;
  }
  file_handle meta;
  return meta.open_write(meta_path_) == open_result::opened && meta.truncate() &&
         meta.write(validator_ + "\n" + owner_ + "\n");
}

// Keeps what tells this version of the file from another: a strong ETag, else the
// Last-Modified date (If-Range takes no weak ETag).
void downloader::keep_validator(const response_head& head) {
  validator_.clear();
  if (!head.etag.empty() && !head.etag.starts_with("W/") && is_header_value(head.etag))
    validator_ = head.etag;
  else if (!head.last_modified.empty() && is_header_value(head.last_modified))
    validator_ = head.last_modified;
  // Not kept: this run sends no If-Range either, as a later one could not.
  if (!meta_path_.empty() && !write_meta()) validator_.clear();
}

// Decides on the head of an answer: true when its body is the rest of the file (or
// the whole file, the .part then emptied). Nothing in the .part changes before that.
bool downloader::accept_head(const response_head& head, attempt& now, part_writer& writer) {
  if (head.status == 416 && now.offset > 0) {
    // Nothing from the offset on: whole when the server's total is the .part's size.
    std::optional<std::uint64_t> total = total_;
    if (head.range_total >= 0) total = static_cast<std::uint64_t>(head.range_total);
    if (total && *total == now.offset && (!job_.expected_size || *job_.expected_size == *total)) {
      total_ = total;
      now.whole_already = true;
    } else {
      now.start_over = true;
    }
    return false;
  }
  if (head.status != 200 && head.status != 206) {
    now.stop = "the server answered " + std::to_string(head.status) +
               (head.status_text.empty() ? "" : " " + head.status_text);
    now.stop_kind = error_kind::http;
    now.retry_status = is_transient_status(head.status);
    now.expired = head.status == 403 || head.status == 404 || head.status == 410;
    if (const auto wait = asked_wait(head.status, head.retry_after)) now.asked_wait = *wait;
    return false;
  }
  const std::int64_t first = head.status == 206 ? head.range_first : 0;
  if (head.status == 206 && (first < 0 || static_cast<std::uint64_t>(first) != now.offset)) {
    now.start_over = true;  // not the range asked for
    return false;
  }
  std::optional<std::uint64_t> announced;
  if (head.status == 206 && head.range_total >= 0)
    announced = static_cast<std::uint64_t>(head.range_total);
  else if (head.content_length >= 0)
    announced = static_cast<std::uint64_t>(first + head.content_length);
  if (announced && job_.expected_size && *announced != *job_.expected_size) {
    now.stop = "the server announces " + std::to_string(*announced) +
               " bytes but the page states " + std::to_string(*job_.expected_size);
    now.expired = true;
    return false;
  }
  const bool resumed = first > 0;
  if (resumed) {
    // The same file as the .part's? A validator or a total that differs says not.
    const std::string& sent = validator_.starts_with('"') ? head.etag : head.last_modified;
    if ((announced && (*announced < now.offset || (server_total_ && *server_total_ != *announced))) ||
        (!validator_.empty() && !sent.empty() && sent != validator_)) {
      now.start_over = true;
      return false;
    }
  } else {
    // The whole file (again): only now is what the .part held dropped.
    if (writer.size() > 0 && !writer.restart()) return false;
    keep_validator(head);
  }
  fresh_ = false;
  if (announced) server_total_ = total_ = announced;
  now.limit = total_;
  if (now.limit && writer.size() > *now.limit) {
    now.start_over = true;  // the .part is longer than the file
    return false;
  }
  report(writer.size(), false);
  return true;
}

// Fetches until the .part is whole. False, with the error set, when it cannot be.
bool downloader::transfer(part_writer& writer) {
  const int retries = std::max(0, job_.retry.retries);
  int retried = 0;
  int fresh_starts = 0;
  for (;;) {
    if (cancelled()) return interrupted();
    attempt now;
    now.offset = fresh_ ? 0 : writer.size();
    const auto on_body = [&](std::string_view bytes) {
      const std::uint64_t size = writer.size();
      if (now.limit && bytes.size() > (size < *now.limit ? *now.limit - size : 0)) {
        // Never trusted beyond what was announced: the bytes up to the announced end are
        // kept in the .part, the rest is dropped, and the download fails.
        if (size < *now.limit) writer.append(bytes.substr(0, *now.limit - size));
        now.stop = (server_total_ ? "the server sent more than it announced ("
                                  : "the server sent more than the page states (") +
                   std::to_string(*now.limit) + " bytes)";
        return false;
      }
      if (!writer.append(bytes)) return false;
      report(writer.size(), false);
      return true;
    };
    fetch_request request{job_.referer, now.offset > 0 ? std::int64_t(now.offset) : -1, {}};
    if (now.offset > 0) request.if_range = validator_;
    const fetch_outcome outcome = fetch_streaming(
        url_, options_, request,
        [&](const response_head& head) { return accept_head(head, now, writer); }, on_body);
    if (!writer.flush()) {
      result_.error = "cannot write " + part_path_ + ": " + writer.error();
      return false;
    }
    if (cancelled()) return interrupted();
    if (now.whole_already) return true;
    if (now.start_over) {
      if (++fresh_starts > 2) {
        result_.error = "the server does not send the part of the file asked for";
        return false;
      }
      fresh_ = true;
      continue;
    }
    if (const std::optional<bool> go_on = wait_or_refresh(now)) {
      if (!*go_on) return false;
      continue;
    }
    bool retry = false;
    if (!now.stop.empty()) {
      if (!now.retry_status) return fail(now.stop_kind, now.stop);
      retry = true;
    } else if (outcome.fetched) {
      if (!total_ || writer.size() == *total_) return true;
      retry = true;  // ended cleanly, but short of the announced size
    } else {
      retry = is_transient_cut(outcome.cut, true);
    }
    if (!retry || retried == retries) {
      if (!now.stop.empty()) fail(now.stop_kind, now.stop);
      else if (!outcome.error.empty()) fail(outcome.kind.value_or(error_kind::network), outcome.error);
      else fail(error_kind::download, "the server sent " + std::to_string(writer.size()) + " of " +
                                          std::to_string(total_.value_or(0)) + " bytes");
      if (retry && retries > 0) *result_.error += " (after " + std::to_string(retries) + " retries)";
      return false;
    }
    if (!wait_unless_cancelled(job_.retry.pause_ms(retried++), job_.fetch.cancel)) return interrupted();
  }
}

// An answer that asks to wait (Retry-After), or whose address seems to have expired:
// true when the download goes on (after the wait, or from a refreshed address),
// false when it ends here with the error set; nothing when neither applies.
std::optional<bool> downloader::wait_or_refresh(const attempt& now) {
  if (now.asked_wait && now.asked_wait->count() > 0) {
    const auto until = steady::now() + *now.asked_wait;
    if (!waits_.take_until(until)) return fail(error_kind::http, now.stop + "; " + waits_.refusal());
    if (job_.host_asks_to_wait) job_.host_asks_to_wait(until);
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(until - steady::now()).count();
    if (!wait_unless_cancelled(ms, job_.fetch.cancel)) return interrupted();
    return true;
  }
  if (!now.expired || !job_.refresh || result_.refreshed >= job_.refreshes) return std::nullopt;
  std::optional<local_text> fresh = job_.refresh();
  if (cancelled()) return interrupted();
  if (!fresh) return std::nullopt;
  ++result_.refreshed;
  url_ = std::move(*fresh);
  return true;
}

// Ends a download that did not finish: the .part keeps its bytes for a later run
// (one with none is removed, while still held).
void downloader::end_keeping_part(part_writer& writer, std::string error) {
  result_.error = std::move(error);
  writer.flush();
  const path_status part = stat_path(part_path_);
  if (part.kind == path_kind::file && part.size == 0 && writer.file().is_open()) {
    if (writer.file().remove(part_path_) && !meta_path_.empty()) remove_file(meta_path_);
  } else {
    result_.path = part_path_;
    result_.bytes = part.size;
  }
  writer.close();
}

// The .part is whole: written through to the disk and, where there is an MD5, the
// MD5 matches; a file whose MD5 differs is downloaded once more from the start. False,
// with the error set, when it is not.
bool downloader::whole_and_checked(part_writer& writer) {
  for (int tries = 1;; ++tries) {
    if (!writer.finish()) {
      result_.error = "cannot write " + part_path_ + ": " + writer.error();
      return false;
    }
    if (expected_md5_.empty() || writer.digest() == expected_md5_) return true;
    if (tries == 2) {
      result_.md5_checked = false;
      return fail(error_kind::checksum, "MD5 mismatch: the file's is " + writer.digest() + ", the page states " +
                                            expected_md5_ + " (downloaded twice; the bytes are kept in " +
                                            part_path_ + ")");
    }
    fresh_ = true;
    const std::string digest = writer.digest();
    if (!transfer(writer)) {
      result_.md5_checked = false;
      return fail(error_kind::checksum, "MD5 mismatch: the file's is " + digest + ", the page states " +
                                            expected_md5_ + "; downloading it again failed: " +
                                            result_.error.value_or(""));
    }
  }
}

// Renames the whole .part to its name (or, when that was taken meanwhile, the next
// free one) while it is still held, then writes the folder through to the disk.
void downloader::finish(part_writer& writer) {
  const std::uint64_t size = writer.size();
  // The side file goes once the file has its name: until then it names the .part's owner.
  const std::string part_path = part_path_, meta_path = meta_path_;
  for (;;) {
    std::string error;
    const rename_result renamed = writer.file().rename_to(part_path, path_, error);
    if (renamed == rename_result::renamed) break;
    if (renamed == rename_result::failed || number_ >= most_numbered_names) {
      part_path_ = part_path;
      end_keeping_part(writer, "cannot rename " + part_path + " to " + name_ + ": " +
                                   (error.empty() ? "no free name" : error));
      return;
    }
    set_name(number_ + 1);
  }
  if (!meta_path.empty()) remove_file(meta_path);
  sync_directory(dir_);
  writer.close();
  result_.path = path_;
  result_.bytes = size;
  if (!expected_md5_.empty()) result_.md5_checked = true;
  report(size, true);
}

download_result downloader::run() {
  dir_ = job_.output_dir;
  if (const std::string error = make_directories(dir_); !error.empty()) {
    result_.error = "cannot create the folder " + dir_ + ": " + error;
    return result_;
  }
  base_name_ = safe_file_name(job_.file_name, job_.fallback_name, native_name_units);
  total_ = job_.expected_size;
  file_handle part;
  const bool chosen = choose_name(part);
  name_chosen();
  if (!chosen) return result_;
  // A .part with bytes in it is from an earlier run: resumed, checked by what was
  // kept beside it. The side file names this file as the owner from the start, so
  // that whatever this run leaves is known as this file's by the next one.
  const bool resume = stat_path(part_path_).size > 0;
  if (!resume) validator_.clear();
  if (!(resume && side_file_read_.kind == side_file::kept && side_file_read_.owner == owner_)) write_meta();
  // The MD5 is computed only when there is one to compare it with.
  part_writer writer(std::move(part), resume, !expected_md5_.empty(), job_.fetch.cancel);
  if (!writer.error().empty()) {
    if (writer.interrupted()) interrupted();
    else fail(error_kind::download, "cannot read " + part_path_ + ": " + writer.error());
    end_keeping_part(writer, *result_.error);
    return result_;
  }
  if (!transfer(writer) || !whole_and_checked(writer)) {
    end_keeping_part(writer, result_.error.value_or("failed"));
    return result_;
  }
  finish(writer);
  return result_;
}

}  // namespace

download_result download_file(const download_job& job, const download_progress_handler& progress) {
  try {
    return downloader(job, progress).run();
  } catch (const std::exception& error) {
    download_result result;
    result.error = std::string("download failed: ") + error.what();
    return result;
  } catch (...) {
    download_result result;
    result.error = "download failed";
    return result;
  }
}

bool name_claims::claim(const std::string& path, const std::string& who) {
  // NAME.part and NAME.part.meta are the download's while it runs: a file named so
  // is numbered as any file whose name is taken.
  const std::string keys[] = {path_compare_key(path), path_compare_key(path + ".part"),
                              path_compare_key(path + ".part.meta")};
  std::lock_guard lock(mutex_);
  for (const std::string& key : keys)
    if (const auto at = taken_.find(key); at != taken_.end() && at->second != who) return false;
  for (const std::string& key : keys) taken_.emplace(key, who);
  return true;
}

bool name_claims::held_by(const std::string& path, const std::string& who) {
  std::lock_guard lock(mutex_);
  const auto at = taken_.find(path_compare_key(path));
  return at != taken_.end() && at->second == who;
}

}  // namespace sharelink
