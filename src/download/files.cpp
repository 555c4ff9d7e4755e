#include "download/files.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace sharelink {

std::string join_path(std::string_view dir, std::string_view name) {
  if (dir.empty()) return std::string(name);
  std::string path(dir);
  if (path.back() != '/' && path.back() != '\\') path += path_separator;
  path += name;
  return path;
}

std::string make_directories(const std::string& path) {
  if (path.empty()) return {};
  const path_status status = stat_path(path);
  if (status.kind == path_kind::directory) return {};
  if (status.kind != path_kind::missing)
    return status.error.empty() ? "it is not a folder" : status.error;
  std::error_code error;
  std::filesystem::create_directories(
      std::filesystem::path(std::u8string(path.begin(), path.end())), error);
  if (stat_path(path).kind == path_kind::directory) return {};
  return error ? error.message() : "it is not a folder";
}

// Moving and closing are the same on every system; opening, writing and closing
// the handle itself are not (files_posix.cpp, files_win32.cpp).
file_handle::~file_handle() { close(); }

file_handle::file_handle(file_handle&& other) noexcept
    : handle_(other.handle_), error_(std::move(other.error_)) {
  other.handle_ = -1;
}

file_handle& file_handle::operator=(file_handle&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    error_ = std::move(other.error_);
    other.handle_ = -1;
  }
  return *this;
}

}  // namespace sharelink
