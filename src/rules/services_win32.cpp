#include <windows.h>

#include "codec/wide_win32.h"
#include "rules/services.h"

namespace sharelink {

std::vector<std::string> rule_folders() {
  wchar_t buffer[32768];
  const DWORD n = GetEnvironmentVariableW(L"APPDATA", buffer, 32768);
  if (n == 0 || n >= 32768) return {};
  return {from_wide(std::wstring_view(buffer, n), CP_UTF8) + "\\sharelink\\services"};
}

}  // namespace sharelink
