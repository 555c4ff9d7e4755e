// Files on Linux: names are UTF-8 bytes as they stand.
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "download/files.h"

namespace sharelink {

const name_units native_name_units = name_units::utf8_bytes;
const char path_separator = '/';

namespace {
std::string reason(int code) { return std::strerror(code); }
int fd_of(std::intptr_t handle) { return static_cast<int>(handle); }
}  // namespace

path_status stat_path(const std::string& path) {
  path_status status;
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    if (errno != ENOENT && errno != ENOTDIR) {
      status.kind = path_kind::other;
      status.error = reason(errno);
    }
    return status;
  }
  if (S_ISREG(info.st_mode)) {
    status.kind = path_kind::file;
    status.size = static_cast<std::uint64_t>(info.st_size);
  } else {
    status.kind = S_ISDIR(info.st_mode) ? path_kind::directory : path_kind::other;
  }
  return status;
}

void file_handle::fail() { error_ = reason(errno); }

bool file_handle::is_open() const { return handle_ >= 0; }

bool file_handle::open_read(const std::string& path) {
  close();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    fail();
    return false;
  }
  handle_ = fd;
  return true;
}

open_result file_handle::open_write(const std::string& path) {
  close();
  // Bounded: each round means another download renamed or removed the file between
  // our open and our lock.
  for (int round = 0; round < 100; ++round) {
    // O_NOFOLLOW: a link planted under the name must not send the bytes elsewhere.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
      fail();
      return open_result::failed;
    }
    handle_ = fd;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink > 1) {
      close();
      error_ = "not a regular file";
      return open_result::failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int code = errno;
      // A file system without locks: go on unlocked.
      if (code != ENOLCK && code != EOPNOTSUPP && code != ENOSYS) {
        close();
        error_ = code == EWOULDBLOCK ? "in use by another download" : reason(code);
        return code == EWOULDBLOCK ? open_result::busy : open_result::failed;
      }
    }
    // The lock holds the file now at `path` only if no one renamed or removed it
    // between our open and our lock.
    if (is_at(path)) return open_result::opened;
    close();
  }
  error_ = "the file keeps changing under its name";
  return open_result::failed;
}

bool file_handle::sync() {
  if (::fsync(fd_of(handle_)) != 0 && errno != EINVAL && errno != EROFS) {
    fail();
    return false;
  }
  return true;
}

bool file_handle::is_at(const std::string& path) {
  struct stat mine, there;
  return ::fstat(fd_of(handle_), &mine) == 0 && ::lstat(path.c_str(), &there) == 0 &&
         mine.st_dev == there.st_dev && mine.st_ino == there.st_ino;
}

rename_result file_handle::rename_to(const std::string& from, const std::string& to,
                                     std::string& error) {
  if (!is_at(from)) {
    error = "the file is no longer at " + from;
    return rename_result::failed;
  }
  return rename_no_replace(from, to, error);
}

bool file_handle::remove(const std::string& path) {
  return is_at(path) && ::unlink(path.c_str()) == 0;
}

std::ptrdiff_t file_handle::read(char* data, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd_of(handle_), data, size);
    if (n >= 0) return n;
    if (errno != EINTR) {
      fail();
      return -1;
    }
  }
}

bool file_handle::write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_of(handle_), bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      fail();
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::int64_t file_handle::seek_end() {
  const off_t end = ::lseek(fd_of(handle_), 0, SEEK_END);
  if (end < 0) fail();
  return end;
}

bool file_handle::truncate() {
  if (::ftruncate(fd_of(handle_), 0) != 0 || ::lseek(fd_of(handle_), 0, SEEK_SET) != 0) {
    fail();
    return false;
  }
  return true;
}

bool file_handle::close() {
  if (handle_ < 0) return true;
  const int fd = fd_of(handle_);
  handle_ = -1;
  if (::close(fd) != 0 && errno != EINTR) {
    fail();
    return false;
  }
  return true;
}

bool remove_file(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool sync_directory(const std::string& path) {
  const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool synced = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS;
  ::close(fd);
  return synced;
}

rename_result rename_no_replace(const std::string& from, const std::string& to, std::string& error) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
    return rename_result::renamed;
  if (errno == EEXIST) return rename_result::target_exists;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
    error = reason(errno);
    return rename_result::failed;
  }
  // A file system that cannot rename without replacing: a hard link fails on an
  // existing target; one without hard links gets a check just before the rename.
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return rename_result::renamed;
  }
  if (errno == EEXIST) return rename_result::target_exists;
  if (stat_path(to).kind != path_kind::missing) return rename_result::target_exists;
  if (::rename(from.c_str(), to.c_str()) == 0) return rename_result::renamed;
  error = reason(errno);
  return rename_result::failed;
}

std::string path_compare_key(const std::string& path) { return path; }

}  // namespace sharelink
