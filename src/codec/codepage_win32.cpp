// UTF-8 <-> the ANSI code page through the system's own conversion tables.
#include <windows.h>

#include <climits>
#include <string>

#include "codec/codepage.h"
#include "codec/wide_win32.h"

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

local_text utf8_to_local(std::string_view utf8) {
  // A U+0000 in the input ends the text there.
  return local_text(as_local(from_wide(to_wide(utf8, CP_UTF8), CP_ACP)));
}

std::string local_to_utf8(std::string_view local) {
  return from_wide(to_wide(as_local(local), CP_ACP), CP_UTF8);
}

}  // namespace sharelink
