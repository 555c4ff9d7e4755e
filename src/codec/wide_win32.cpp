// UTF-16 <-> a code page through the system's own conversion.
#include "codec/wide_win32.h"

#include <windows.h>

#include <climits>

namespace sharelink {

std::wstring to_wide(std::string_view bytes, unsigned code_page) {
  if (bytes.empty() || bytes.size() > INT_MAX) return {};
  const int n = static_cast<int>(bytes.size());
  const int units = MultiByteToWideChar(code_page, 0, bytes.data(), n, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(code_page, 0, bytes.data(), n, wide.data(), units) <= 0) return {};
  return wide;
}

std::string from_wide(std::wstring_view wide, unsigned code_page) {
  if (wide.empty() || wide.size() > INT_MAX) return {};
  const int n = static_cast<int>(wide.size());
  const int size = WideCharToMultiByte(code_page, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  if (WideCharToMultiByte(code_page, 0, wide.data(), n, out.data(), size, nullptr, nullptr) <= 0)
    return {};
  return out;
}

}  // namespace sharelink
