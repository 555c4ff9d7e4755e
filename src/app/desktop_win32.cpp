// Clipboard and browser on Windows.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <string>

#include "app/desktop.h"
#include "app/home_page.h"
#include "codec/wide_win32.h"
#include "runtime/text.h"

namespace sharelink {

bool set_clipboard_text(std::string_view local) {
  // As UTF-16, which holds every character; the system offers it to programs
  // that ask for CF_TEXT in their own code page.
  const std::wstring text = to_wide(as_local(local), CP_UTF8);
  // The memory is made ready before the clipboard is touched, so a failed
  // allocation leaves the user's clipboard as it was.
  const std::size_t size = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  if (!memory) return false;
  void* units = GlobalLock(memory);
  if (!units) {
    GlobalFree(memory);
    return false;
  }
  std::memcpy(units, text.data(), text.size() * sizeof(wchar_t));
  GlobalUnlock(memory);

  if (!OpenClipboard(nullptr)) {
    GlobalFree(memory);
    return false;
  }
  EmptyClipboard();
  // On success the clipboard owns the memory; on failure it is still ours.
  const bool handed_over = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  if (!handed_over) GlobalFree(memory);
  CloseClipboard();
  return handed_over;
}

void open_web_address(std::string_view address) {
  const std::wstring file = to_wide(as_local(address), CP_UTF8);
  HWND owner = FindWindowExW(nullptr, nullptr, nullptr, L"Microsoft Internet Explorer");
  ShellExecuteW(owner, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::string home_page_address() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const auto slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  path.resize(slash);
  for (const std::string& candidate : app::home_page_candidates(from_wide(path, CP_UTF8), '\\')) {
    const DWORD attributes = GetFileAttributesW(to_wide(candidate, CP_UTF8).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) continue;
    // The shell reads an escaped byte as a character of its own, so the characters
    // of other scripts go as they are.
    return app::file_address(candidate, true, true);
  }
  return {};
}

}  // namespace sharelink
