#include <windows.h>

#include "cli/config.h"
#include "codec/wide_win32.h"

namespace sharelink::cli {

std::optional<std::string> default_config_path() {
  // The roaming application-data folder, read as UTF-16 so any name survives.
  const DWORD size = GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
  if (size <= 1) return std::nullopt;
  std::wstring folder(size, L'\0');
  const DWORD n = GetEnvironmentVariableW(L"APPDATA", folder.data(), size);
  if (n == 0 || n >= size) return std::nullopt;
  folder.resize(n);
  return from_wide(folder, CP_UTF8) + "\\sharelink\\config.toml";
}

}  // namespace sharelink::cli
