// UTF-8 <-> the ANSI code page through the system's own conversion tables.
#include <windows.h>

#include <climits>
#include <string>

#include "codec/codepage.h"

namespace sharelink {
namespace {

// UTF-8 to UTF-16, lenient: invalid sequences become U+FFFD.
std::wstring widen(UINT code_page, std::string_view bytes) {
  if (bytes.empty() || bytes.size() > INT_MAX) return {};
  const int n = static_cast<int>(bytes.size());
  const int units = MultiByteToWideChar(code_page, 0, bytes.data(), n, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(code_page, 0, bytes.data(), n, wide.data(), units) <= 0) return {};
  return wide;
}

std::string narrow(UINT code_page, std::wstring_view wide) {
  if (wide.empty() || wide.size() > INT_MAX / 4) return {};
  const int n = static_cast<int>(wide.size());
  // Two bytes per unit cover every double-byte code page; UTF-8 needs up to three.
  const int room = code_page == CP_UTF8 ? 3 * n + 1 : 2 * n + 1;
  std::string out(static_cast<std::size_t>(room), '\0');
  const int written =
      WideCharToMultiByte(code_page, 0, wide.data(), n, out.data(), room, nullptr, nullptr);
  if (written <= 0) return {};
  out.resize(static_cast<std::size_t>(written));
  return out;
}

}  // namespace

local_text utf8_to_local(std::string_view utf8) {
  // A U+0000 in the input ends the text there.
  return local_text(as_local(narrow(CP_ACP, widen(CP_UTF8, utf8))));
}

std::string local_to_utf8(std::string_view local) {
  return narrow(CP_UTF8, widen(CP_ACP, as_local(local)));
}

}  // namespace sharelink
