// Files on Windows: UTF-8 paths go through the wide API, so any name the file
// system can hold works whatever the ANSI code page.
#include <windows.h>

#include <algorithm>

#include "codec/wide_win32.h"
#include "download/files.h"

namespace sharelink {

const name_units native_name_units = name_units::utf16_units;
const char path_separator = '\\';

namespace {

std::wstring wide_path(const std::string& path) { return to_wide(path, CP_UTF8); }

std::string reason(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD size = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = size > 0 ? from_wide(std::wstring_view(text, size), CP_UTF8) : "";
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == '.' || message.back() == ' '))
    message.pop_back();
  return message.empty() ? "system error " + std::to_string(code) : message;
}

HANDLE handle_of(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

path_status stat_path(const std::string& path) {
  path_status status;
  WIN32_FILE_ATTRIBUTE_DATA info;
  if (!GetFileAttributesExW(wide_path(path).c_str(), GetFileExInfoStandard, &info)) {
    const DWORD code = GetLastError();
    if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND) {
      status.kind = path_kind::other;
      status.error = reason(code);
    }
    return status;
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    status.kind = path_kind::directory;
  } else if (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
    status.kind = path_kind::other;
  } else {
    status.kind = path_kind::file;
    status.size = (std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  }
  return status;
}

void file_handle::fail() { error_ = reason(GetLastError()); }

bool file_handle::is_open() const { return handle_ != -1; }

bool file_handle::open_read(const std::string& path) {
  close();
  HANDLE h = CreateFileW(wide_path(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    fail();
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  return true;
}

open_result file_handle::open_write(const std::string& path) {
  close();
  // Others may read the file while it is written, but neither write, rename nor
  // remove it: the name stays on this file until it is closed. DELETE lets this
  // handle rename or remove it itself. A reparse point (a symbolic link, a junction)
  // is opened as itself, never followed, and refused below.
  HANDLE h = CreateFileW(wide_path(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                         FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION) {
      error_ = "in use by another download";
      return open_result::busy;
    }
    error_ = reason(code);
    return open_result::failed;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      info.nNumberOfLinks > 1) {
    close();
    error_ = "not a regular file";
    return open_result::failed;
  }
  return open_result::opened;
}

bool file_handle::sync() {
  if (!FlushFileBuffers(handle_of(handle_))) {
    fail();
    return false;
  }
  return true;
}

bool file_handle::is_at(const std::string& path) {
  // Opening for no access at all is allowed whatever the sharing of other handles.
  HANDLE there = CreateFileW(wide_path(path).c_str(), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (there == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION a{}, b{};
  const bool same = GetFileInformationByHandle(handle_of(handle_), &a) &&
                    GetFileInformationByHandle(there, &b) &&
                    a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
                    a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  CloseHandle(there);
  return same;
}

rename_result file_handle::rename_to(const std::string& from, const std::string& to,
                                     std::string& error) {
  if (!is_at(from)) {
    error = "the file is no longer at " + from;
    return rename_result::failed;
  }
  // Renamed through this handle, which keeps others out of the file meanwhile; the
  // target is a full path and is never replaced.
  const std::wstring target = wide_path(to);
  const DWORD full_size = GetFullPathNameW(target.c_str(), 0, nullptr, nullptr);
  std::wstring full(full_size, L'\0');
  const DWORD written = full_size ? GetFullPathNameW(target.c_str(), full_size, full.data(), nullptr) : 0;
  if (written == 0 || written >= full_size) {
    error = reason(GetLastError());
    return rename_result::failed;
  }
  full.resize(written);
  std::string buffer(sizeof(FILE_RENAME_INFO) + full.size() * sizeof(wchar_t), '\0');
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = FALSE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(full.size() * sizeof(wchar_t));
  std::copy(full.begin(), full.end(), info->FileName);
  if (SetFileInformationByHandle(handle_of(handle_), FileRenameInfo, info,
                                 static_cast<DWORD>(buffer.size())))
    return rename_result::renamed;
  const DWORD code = GetLastError();
  if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return rename_result::target_exists;
  error = reason(code);
  return rename_result::failed;
}

bool file_handle::remove(const std::string& path) {
  if (!is_at(path)) return false;
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = TRUE;
  return SetFileInformationByHandle(handle_of(handle_), FileDispositionInfo, &info, sizeof info) != 0;
}

std::ptrdiff_t file_handle::read(char* data, std::size_t size) {
  DWORD got = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!ReadFile(handle_of(handle_), data, want, &got, nullptr)) {
    fail();
    return -1;
  }
  return static_cast<std::ptrdiff_t>(got);
}

bool file_handle::write(std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD done = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (!WriteFile(handle_of(handle_), bytes.data(), chunk, &done, nullptr)) {
      fail();
      return false;
    }
    bytes.remove_prefix(done);
  }
  return true;
}

std::int64_t file_handle::seek_end() {
  LARGE_INTEGER zero{}, end{};
  if (!SetFilePointerEx(handle_of(handle_), zero, &end, FILE_END)) {
    fail();
    return -1;
  }
  return end.QuadPart;
}

bool file_handle::truncate() {
  LARGE_INTEGER zero{};
  if (!SetFilePointerEx(handle_of(handle_), zero, nullptr, FILE_BEGIN) ||
      !SetEndOfFile(handle_of(handle_))) {
    fail();
    return false;
  }
  return true;
}

bool file_handle::close() {
  if (handle_ == -1) return true;
  HANDLE h = handle_of(handle_);
  handle_ = -1;
  if (!CloseHandle(h)) {
    fail();
    return false;
  }
  return true;
}

bool remove_file(const std::string& path) { return DeleteFileW(wide_path(path).c_str()) != 0; }

// NTFS journals its folder entries; a rename there is kept without help.
bool sync_directory(const std::string&) { return true; }

rename_result rename_no_replace(const std::string& from, const std::string& to, std::string& error) {
  // Without MOVEFILE_REPLACE_EXISTING the move fails on an existing target.
  if (MoveFileExW(wide_path(from).c_str(), wide_path(to).c_str(), 0)) return rename_result::renamed;
  const DWORD code = GetLastError();
  if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return rename_result::target_exists;
  error = reason(code);
  return rename_result::failed;
}

std::string path_compare_key(const std::string& path) {
  std::wstring wide = to_wide(path, CP_UTF8);
  if (!wide.empty()) CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return from_wide(wide, CP_UTF8);
}

}  // namespace sharelink
