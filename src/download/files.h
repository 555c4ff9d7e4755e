#pragma once
// The few file operations a download needs, on UTF-8 paths: the system's own
// encoding on Linux, the wide API on Windows.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "download/safe_name.h"

namespace sharelink {

/// How this system measures a file name.
extern const name_units native_name_units;
/// What join_path puts between a folder and a name: '/' on Linux, a backslash on Windows.
extern const char path_separator;

enum class path_kind { missing, file, directory, other };

struct path_status {
  path_kind kind = path_kind::missing;
  std::uint64_t size = 0;  ///< of a file
  std::string error;       ///< why the path could not be examined (kind is then `other`)
};

/// What is at `path` (links followed).
path_status stat_path(const std::string& path);

/// The form of `path` under which this system compares file names: as it is on
/// Linux; in upper case on Windows, whose file names ignore case.
std::string path_compare_key(const std::string& path);

/// `dir` and `name` joined with path_separator (none when `dir` ends in a slash or backslash);
/// `name` alone when `dir` is empty.
std::string join_path(std::string_view dir, std::string_view name);

/// Creates the folder `path` and its missing parents. Empty when it is there now,
/// else the reason it is not.
std::string make_directories(const std::string& path);

/// How a rename went.
enum class rename_result { renamed, target_exists, failed };

/// How opening a file for writing went.
enum class open_result { opened, busy, failed };

/// One open file; closed when destroyed. Errors are one line, the system's reason.
class file_handle {
 public:
  file_handle() = default;
  ~file_handle();
  file_handle(file_handle&& other) noexcept;
  file_handle& operator=(file_handle&& other) noexcept;
  file_handle(const file_handle&) = delete;
  file_handle& operator=(const file_handle&) = delete;

  /// Opens an existing file for reading.
  bool open_read(const std::string& path);
  /// Opens `path` for reading and writing, creating it when missing, positioned at
  /// its start and kept from other writers while open (`busy` when another has it).
  /// The hold counts only once it is known to be on the file now at `path`: one
  /// renamed or removed by its last holder is let go and `path` opened again. A link
  /// (symbolic, a reparse point, or a second hard link) is refused, never followed.
  open_result open_write(const std::string& path);

  bool is_open() const;
  /// Up to `size` bytes from the current position: the count, 0 at the end, -1 on error.
  std::ptrdiff_t read(char* data, std::size_t size);
  /// Writes all of `bytes` at the current position.
  bool write(std::string_view bytes);
  /// Moves to the end of the file and gives its size, or -1 on error.
  std::int64_t seek_end();
  /// Empties the file and moves to its start.
  bool truncate();
  /// Closes the file; false when the system reports an error (nothing is open after).
  bool close();
  /// Writes what the file holds through to the disk.
  bool sync();
  /// True when the open file is the one now at `path`: the same device and inode
  /// (on Windows, the same volume and file index).
  bool is_at(const std::string& path);
  /// Gives the open file, now at `from`, the name `to` unless something is there
  /// already; it stays open (and, opened by open_write, held). `error` gets the reason
  /// when it fails.
  rename_result rename_to(const std::string& from, const std::string& to, std::string& error);
  /// Removes the open file, now at `path`; it stays open until closed.
  bool remove(const std::string& path);

  /// Why the last operation failed.
  const std::string& error() const { return error_; }

 private:
  void fail();
  std::intptr_t handle_ = -1;
  std::string error_;
};

/// Removes the file `path`; false when it could not be removed.
bool remove_file(const std::string& path);


/// Writes the folder's entries (a rename made in it) through to the disk; true
/// where the system keeps them safe on its own.
bool sync_directory(const std::string& path);

/// Renames the file `from` to `to` unless something is at `to` already; `error`
/// gets the reason when it fails.
rename_result rename_no_replace(const std::string& from, const std::string& to, std::string& error);

}  // namespace sharelink
