#include "runtime/host_ascii.h"

#include <windows.h>

#include "codec/ascii_case.h"
#include "codec/wide_win32.h"

namespace sharelink {

std::optional<std::string> host_to_ascii(std::string_view utf8_host) {
  const std::wstring wide = to_wide(utf8_host, CP_UTF8);
  if (wide.empty()) return std::nullopt;
  wchar_t ascii[256];  // a DNS name has at most 255 characters
  const int length = IdnToAscii(0, wide.data(), static_cast<int>(wide.size()), ascii, 256);
  if (length <= 0) return std::nullopt;
  return ascii_lower(from_wide(std::wstring_view(ascii, static_cast<std::size_t>(length)), CP_UTF8));
}

}  // namespace sharelink
