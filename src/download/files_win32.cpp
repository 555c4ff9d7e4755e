// Files on Windows: UTF-8 paths go through the wide API, so any name the file
// system can hold works whatever the ANSI code page.
#include <windows.h>

#include <algorithm>
#include <utility>

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

namespace {

/// The folder and the name of the full path `path`.
std::pair<std::wstring, std::wstring> folder_and_name(const std::wstring& path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {std::wstring(), path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

/// False when `a` and `b` are two different folders; true when they are one, or
/// when the system cannot tell (a share that gives no file IDs).
bool same_folder(const std::wstring& a, const std::wstring& b) {
  const auto open = [](const std::wstring& folder) {
    return CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  };
  HANDLE one = open(a), two = open(b);
  BY_HANDLE_FILE_INFORMATION x{}, y{};
  const bool known = one != INVALID_HANDLE_VALUE && two != INVALID_HANDLE_VALUE &&
                     GetFileInformationByHandle(one, &x) && GetFileInformationByHandle(two, &y);
  const bool same = !known || (x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
                               x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow);
  if (one != INVALID_HANDLE_VALUE) CloseHandle(one);
  if (two != INVALID_HANDLE_VALUE) CloseHandle(two);
  return same;
}

/// False when the file open at `h` is not the one named `path` but one a link there
/// leads to: its own path has another name, or lies in another folder. Wine shows a
/// symbolic link of the host system as a plain file and follows it, so the reparse
/// point check alone does not see it there. True when the system cannot tell.
bool opened_under_its_own_name(HANDLE h, const std::wstring& path) {
  std::wstring own(MAX_PATH, L'\0');
  DWORD size = GetFinalPathNameByHandleW(h, own.data(), static_cast<DWORD>(own.size()), FILE_NAME_NORMALIZED);
  if (size >= own.size()) {
    own.assign(size + 1, L'\0');
    size = GetFinalPathNameByHandleW(h, own.data(), static_cast<DWORD>(own.size()), FILE_NAME_NORMALIZED);
  }
  const DWORD full_size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring full(full_size, L'\0');
  const DWORD written = full_size ? GetFullPathNameW(path.c_str(), full_size, full.data(), nullptr) : 0;
  if (size == 0 || size >= own.size() || written == 0 || written >= full_size) return true;
  own.resize(size);
  full.resize(written);
  const auto [own_folder, own_name] = folder_and_name(own);
  const auto [asked_folder, asked_name] = folder_and_name(full);
  return CompareStringOrdinal(own_name.c_str(), static_cast<int>(own_name.size()), asked_name.c_str(),
                              static_cast<int>(asked_name.size()), TRUE) == CSTR_EQUAL &&
         same_folder(own_folder, asked_folder);
}

}  // namespace

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
  if (!opened_under_its_own_name(h, wide_path(path))) {
    close();
    error_ = "the file opened has another name (a link, or a name too long for the file system)";
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

bool remove_file(const std::string& path) {
  // Through a handle on the file itself, so that a link there is removed, never the
  // file it leads to.
  const std::wstring wide = wide_path(path);
  HANDLE h = CreateFileW(wide.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILE_DISPOSITION_INFO info{};
  info.DeleteFile = TRUE;
  const bool removed = opened_under_its_own_name(h, wide) &&
                       SetFileInformationByHandle(h, FileDispositionInfo, &info, sizeof info) != 0;
  CloseHandle(h);
  return removed;
}

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
