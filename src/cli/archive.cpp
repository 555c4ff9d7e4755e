#include "cli/archive.h"

#include <chrono>
#include <filesystem>
#include <ostream>

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include "cli/listed_names.h"
#include "codec/ascii_case.h"

namespace sharelink::cli {
namespace {

// Written into the database's header, so that another program's SQLite file is
// told from an archive: "shlk".
constexpr int application_id = 0x73686c6b;

// How long a write of another process is waited for before giving up.
constexpr auto longest_wait = std::chrono::seconds(60);

// Each step brings the layout from the version before it (its index) to the next.
// The first makes a new archive.
constexpr const char* upgrades[] = {
    "CREATE TABLE files ("
    "  service TEXT NOT NULL,"
    "  share TEXT NOT NULL,"
    "  file_id TEXT NOT NULL,"  // '' when the service gives none
    "  path TEXT NOT NULL,"
    "  size INTEGER,"  // NULL when the page states none
    "  md5 TEXT NOT NULL,"
    "  saved_path TEXT NOT NULL,"
    "  time TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%SZ', 'now')),"
    "  result TEXT NOT NULL);"
    "CREATE INDEX files_by_path ON files(share, path);"
    "CREATE INDEX files_by_id ON files(share, file_id) WHERE file_id <> '';",
};
static_assert(std::size(upgrades) == download_archive::newest_version);

// A prepared statement, finalized when it goes.
class statement {
 public:
  statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &s_, nullptr); }
  ~statement() { sqlite3_finalize(s_); }
  statement(const statement&) = delete;
  statement& operator=(const statement&) = delete;
  explicit operator bool() const { return s_ != nullptr; }
  sqlite3_stmt* get() const { return s_; }
  void bind_text(int at, std::string_view value) {
    sqlite3_bind_text(s_, at, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
  }
  void bind_size(int at, const std::optional<std::uint64_t>& value) {
    if (value) sqlite3_bind_int64(s_, at, static_cast<sqlite3_int64>(*value));
    else sqlite3_bind_null(s_, at);
  }
  std::string column_text(int at) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(s_, at));
    return bytes ? std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(s_, at))) : std::string();
  }
  int column_int(int at) const { return sqlite3_column_int(s_, at); }

 private:
  sqlite3_stmt* s_ = nullptr;
};

// Waits for another process's write, a little at a time, until the run is
// interrupted or the longest wait has passed.
int wait_for_lock(void* cancel_flag, int tries) {
  const auto* cancel = static_cast<const std::atomic<bool>*>(cancel_flag);
  if (cancel && cancel->load()) return 0;
  constexpr int pause_ms = 10;
  if (std::chrono::milliseconds(tries * pause_ms) >= longest_wait) return 0;
  sqlite3_sleep(pause_ms);
  return 1;
}

// `path` (UTF-8) from the root, so that a run started elsewhere finds it; as it is
// when the system cannot tell.
std::string absolute_path(const std::string& path) {
  std::error_code failed;
  const std::filesystem::path full =
      std::filesystem::absolute(std::filesystem::path(std::u8string(path.begin(), path.end())), failed);
  if (failed) return path;
  const std::u8string text = full.lexically_normal().u8string();
  return std::string(text.begin(), text.end());
}

nlohmann::ordered_json nullable_size(const std::optional<std::uint64_t>& size) {
  return size ? nlohmann::ordered_json(*size) : nlohmann::ordered_json(nullptr);
}

}  // namespace

archived_file archive_identity(const resolution& r, const file_entry& f) {
  archived_file a;
  a.service = r.service;
  a.share = r.share();
  a.path = path_in_share(f);
  a.size = f.size_bytes;
  // Only a hash of the content tells a new version; another page's MD5 text may be
  // a key that changes with each visit.
  if (r.md5_is_content_hash && is_md5_hex(f.md5)) a.md5 = ascii_lower(f.md5);
  return a;
}

download_archive::download_archive(sqlite3* db, const std::atomic<bool>* cancel) : db_(db), cancel_(cancel) {}

download_archive::~download_archive() { sqlite3_close_v2(db_); }

std::string download_archive::db_error() const { return one_line(sqlite3_errmsg(db_)); }

std::optional<std::string> download_archive::exec(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return db_error();
  return std::nullopt;
}

std::unique_ptr<download_archive> download_archive::open(const std::string& path, bool read_only,
                                                         const std::atomic<bool>* cancel, std::string& error) {
  sqlite3* db = nullptr;
  const int flags = (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) |
                    SQLITE_OPEN_NOMUTEX;
  const int opened = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (opened != SQLITE_OK) {
    error = one_line(path + ": cannot open the archive: " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(opened)));
    sqlite3_close_v2(db);
    return nullptr;
  }
  std::unique_ptr<download_archive> archive(new download_archive(db, cancel));
  if (const auto problem = archive->set_up(read_only)) {
    error = one_line(path + ": " + *problem);
    return nullptr;
  }
  return archive;
}

// Reads the header and brings the layout up to date, within one write so that two
// runs that start on a new file at once make it once.
std::optional<std::string> download_archive::set_up(bool read_only) {
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_handler(db_, &wait_for_lock, const_cast<std::atomic<bool>*>(cancel_));
  if (!read_only) {
    if (const auto problem = exec("BEGIN IMMEDIATE")) {
      if (sqlite3_errcode(db_) == SQLITE_NOTADB) return "not a download archive (not an SQLite database)";
      return "cannot open the archive: " + *problem;
    }
  }
  const auto read_number = [&](const char* sql, int& value) -> std::optional<std::string> {
    statement s(db_, sql);
    if (!s || sqlite3_step(s.get()) != SQLITE_ROW) {
      if (sqlite3_errcode(db_) == SQLITE_NOTADB) return "not a download archive (not an SQLite database)";
      return "cannot read the archive: " + db_error();
    }
    value = s.column_int(0);
    return std::nullopt;
  };
  int id = 0, version = 0, objects = 0;
  std::optional<std::string> problem = read_number("PRAGMA application_id", id);
  if (!problem) problem = read_number("PRAGMA user_version", version);
  if (!problem) problem = read_number("SELECT count(*) FROM sqlite_schema", objects);
  const bool fresh = id == 0 && version == 0 && objects == 0;
  if (!problem && !fresh && id != application_id)
    problem = "not a download archive of sharelink (an SQLite database of another program)";
  if (!problem && version > newest_version)
    problem = "written by a newer sharelink (archive version " + std::to_string(version) +
              "; this one reads up to version " + std::to_string(newest_version) + ")";
  if (!problem && read_only && fresh) problem = "not a download archive (an empty database)";
  if (!problem && !read_only && version < newest_version) {
    for (int v = version; v < newest_version && !problem; ++v) problem = exec(upgrades[v]);
    if (!problem) {
      const std::string header = "PRAGMA application_id = " + std::to_string(application_id) +
                                 "; PRAGMA user_version = " + std::to_string(newest_version);
      problem = exec(header.c_str());
    }
    if (problem) problem = "cannot bring the archive up to date: " + *problem;
  }
  if (!read_only) {
    if (problem) {
      exec("ROLLBACK");
      return problem;
    }
    if (const auto failed = exec("COMMIT")) return "cannot write the archive: " + *failed;
    // Readers and a writer at once, from several runs; a commit is written through
    // once per checkpoint rather than once per file. Where the file system cannot
    // share the write-ahead log, the database keeps its rollback journal.
    exec("PRAGMA journal_mode = WAL");
    exec("PRAGMA synchronous = NORMAL");
  }
  return problem;
}

std::optional<std::string> download_archive::find(const archived_file& f) {
  std::lock_guard lock(mutex_);
  const bool by_id = !f.file_id.empty();
  statement s(db_, by_id ? "SELECT saved_path FROM files WHERE share = ?1 AND file_id = ?2 AND service = ?3 "
                           "AND size IS ?4 AND md5 = ?5 ORDER BY rowid DESC LIMIT 1"
                         : "SELECT saved_path FROM files WHERE share = ?1 AND path = ?2 AND service = ?3 "
                           "AND file_id = '' AND size IS ?4 AND md5 = ?5 ORDER BY rowid DESC LIMIT 1");
  if (!s) return std::nullopt;
  s.bind_text(1, f.share);
  s.bind_text(2, by_id ? f.file_id : f.path);
  s.bind_text(3, f.service);
  s.bind_size(4, f.size);
  s.bind_text(5, f.md5);
  if (sqlite3_step(s.get()) != SQLITE_ROW) return std::nullopt;
  return s.column_text(0);
}

std::optional<std::string> download_archive::record(const archived_file& f, const std::string& saved_path,
                                                    std::string_view result) {
  std::lock_guard lock(mutex_);
  statement s(db_, "INSERT INTO files (service, share, file_id, path, size, md5, saved_path, result) "
                   "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
  if (!s) return db_error();
  s.bind_text(1, f.service);
  s.bind_text(2, f.share);
  s.bind_text(3, f.file_id);
  s.bind_text(4, f.path);
  s.bind_size(5, f.size);
  s.bind_text(6, f.md5);
  s.bind_text(7, saved_path);
  s.bind_text(8, result);
  if (sqlite3_step(s.get()) != SQLITE_DONE) return db_error();
  return std::nullopt;
}

std::optional<std::string> download_archive::list(const std::function<void(const archive_row&)>& each) {
  std::lock_guard lock(mutex_);
  statement s(db_, "SELECT service, share, file_id, path, size, md5, saved_path, time, result FROM files "
                   "ORDER BY rowid");
  if (!s) return db_error();
  for (;;) {
    const int step = sqlite3_step(s.get());
    if (step == SQLITE_DONE) return std::nullopt;
    if (step != SQLITE_ROW) return db_error();
    archive_row row;
    row.file.service = s.column_text(0);
    row.file.share = s.column_text(1);
    row.file.file_id = s.column_text(2);
    row.file.path = s.column_text(3);
    if (sqlite3_column_type(s.get(), 4) != SQLITE_NULL)
      row.file.size = static_cast<std::uint64_t>(sqlite3_column_int64(s.get(), 4));
    row.file.md5 = s.column_text(5);
    row.saved_path = s.column_text(6);
    row.time = s.column_text(7);
    row.result = s.column_text(8);
    each(row);
  }
}

std::optional<download_report> archived_report(download_archive* archive, const resolution& r, const file_entry& f) {
  if (!archive) return std::nullopt;
  const archived_file identity = archive_identity(r, f);
  std::optional<std::string> saved = archive->find(identity);
  if (!saved) return std::nullopt;
  download_report report;
  report.in_archive = true;
  report.path = std::move(*saved);
  report.bytes = identity.size.value_or(0);
  return report;
}

void note_in_archive(download_archive* archive, const resolution& r, const file_entry& f, download_report& report) {
  if (!archive || report.error) return;
  if (const auto problem = archive->record(archive_identity(r, f), absolute_path(report.path),
                                           report.already_present ? "already there" : "saved")) {
    report.error = "saved as " + one_line(report.path) + ", but the archive cannot be written: " + *problem;
    report.kind = error_kind::download;
  }
}

int print_archive(download_archive& archive, bool as_json, std::ostream& out, std::ostream& err) {
  const std::optional<std::string> problem =
      archive.list([&](const archive_row& row) { out << (as_json ? archive_json(row) + "\n" : archive_line(row)); });
  out.flush();
  if (problem) {
    err << "sharelink: cannot read the archive: " << *problem << '\n';
    return 1;
  }
  if (!out) {
    err << "sharelink: cannot write to standard output\n";
    return 1;
  }
  return 0;
}

std::string archive_line(const archive_row& row) {
  // one_line turns a tab into a space too, so that each field stays one column.
  std::string line;
  for (const std::string& field :
       {row.time, row.result, row.file.service, row.file.share, row.file.file_id, row.file.path,
        row.file.size ? std::to_string(*row.file.size) : std::string(), row.file.md5, row.saved_path})
    line += (line.empty() ? "" : "\t") + one_line(field);
  return line + "\n";
}

std::string archive_json(const archive_row& row) {
  nlohmann::ordered_json object;
  object["time"] = row.time;
  object["result"] = row.result;
  object["service"] = row.file.service;
  object["share"] = row.file.share;
  object["file_id"] = row.file.file_id.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(row.file.file_id);
  object["path"] = row.file.path;
  object["size"] = nullable_size(row.file.size);
  object["md5"] = row.file.md5;
  object["saved_path"] = row.saved_path;
  return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace sharelink::cli
