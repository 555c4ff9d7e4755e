#pragma once
// The download archive (--archive FILE): an SQLite database of the files a run
// saved or found already there, so that a later run passes over them.
#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "cli/report.h"

struct sqlite3;

namespace sharelink::cli {

/// What tells one file of a share from the others, run after run: the service's
/// own id of the file where it gives one, else its path in the share; and its size
/// and content MD5, which tell a new version of it.
struct archived_file {
  std::string service;
  std::string share;    ///< the share address as given
  std::string file_id;  ///< empty when the service gives none
  std::string path;     ///< the file's path in the share (see path_in_share)
  std::optional<std::uint64_t> size;
  std::string md5;  ///< the content MD5 in lower case; empty when the page gives none
};

/// One row of the archive.
struct archive_row {
  archived_file file;
  std::string saved_path;  ///< UTF-8, as the run that saved it named it
  std::string time;        ///< UTC, "2024-05-01T12:00:00Z"
  std::string result;      ///< "saved" or "already there"
};

/// The identity of file `f` of `r`.
archived_file archive_identity(const resolution& r, const file_entry& f);

/// An open archive. Safe to share between threads; other processes may use the same
/// file at once (each write waits its turn).
class download_archive {
 public:
  /// The newest layout of the database this program writes.
  static constexpr int newest_version = 1;

  /// Opens the archive at `path` (UTF-8), made when missing or empty, an older
  /// layout brought up to date. Nothing, with `error` set to one line, when the
  /// file cannot be opened, is not an SQLite database, is another program's, or
  /// was written by a newer version of this program. `read_only` makes nothing and
  /// changes nothing. A wait for another process's write ends when `cancel` turns
  /// true (or after a minute).
  static std::unique_ptr<download_archive> open(const std::string& path, bool read_only,
                                                const std::atomic<bool>* cancel, std::string& error);
  ~download_archive();
  download_archive(const download_archive&) = delete;
  download_archive& operator=(const download_archive&) = delete;

  /// Where `f` was saved, when the archive holds it with the same size and MD5.
  /// Nothing also when the archive cannot be read (the file is then fetched).
  std::optional<std::string> find(const archived_file& f);

  /// Adds the row of a file saved whole (or found whole) at `saved_path`; the reason
  /// when it could not be written.
  std::optional<std::string> record(const archived_file& f, const std::string& saved_path,
                                    std::string_view result);

  /// Calls `each` with every row, oldest first; the reason when they cannot be read.
  std::optional<std::string> list(const std::function<void(const archive_row&)>& each);

 private:
  download_archive(sqlite3* db, const std::atomic<bool>* cancel);
  std::optional<std::string> set_up(bool read_only);
  std::optional<std::string> exec(const char* sql);
  std::string db_error() const;

  std::mutex mutex_;
  sqlite3* db_;
  const std::atomic<bool>* cancel_;
};

/// The report of file `f` of `r` when `archive` (may be null) holds it: passed over,
/// "in archive"; else nothing.
std::optional<download_report> archived_report(download_archive* archive, const resolution& r, const file_entry& f);

/// Adds the row of file `f` of `r` to `archive` (may be null) when `report` says it
/// was saved or found whole; when the row cannot be written, that is the report's
/// error (the file stays saved).
void note_in_archive(download_archive* archive, const resolution& r, const file_entry& f, download_report& report);

/// --list-archive: every row of `archive` on `out`, as archive_line or, with
/// `as_json`, archive_json lines. The exit status: 0, or 1 (said on `err`) when
/// the archive cannot be read or `out` written.
int print_archive(download_archive& archive, bool as_json, std::ostream& out, std::ostream& err);

/// The tab-separated line of `row` (time, result, service, share, file id, path,
/// size, MD5, saved path; no field holds a tab or line break), ending in "\n".
std::string archive_line(const archive_row& row);

/// `row` as one JSON object on one line, without the line end.
std::string archive_json(const archive_row& row);

}  // namespace sharelink::cli
