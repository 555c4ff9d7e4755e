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
  const std::string_view text = as_local(local);
  // The memory is made ready before the clipboard is touched, so a failed
  // allocation leaves the user's clipboard as it was.
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, text.size() + 1);
  if (!memory) return false;
  void* bytes = GlobalLock(memory);
  if (!bytes) {
    GlobalFree(memory);
    return false;
  }
  std::memcpy(bytes, text.data(), text.size());
  GlobalUnlock(memory);

  if (!OpenClipboard(nullptr)) {
    GlobalFree(memory);
    return false;
  }
  EmptyClipboard();
  // On success the clipboard owns the memory; on failure it is still ours.
  const bool handed_over = SetClipboardData(CF_TEXT, memory) != nullptr;
  if (!handed_over) GlobalFree(memory);
  CloseClipboard();
  return handed_over;
}

void open_web_address(std::string_view address) {
  const std::string file(as_local(address));
  HWND owner = FindWindowExA(nullptr, nullptr, nullptr, "Microsoft Internet Explorer");
  ShellExecuteA(owner, "open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
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
    // of other scripts go as they are wherever the code page has them.
    const std::wstring address = to_wide(app::file_address(candidate, true, true), CP_UTF8);
    BOOL lossy = FALSE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, address.data(),
                            static_cast<int>(address.size()), nullptr, 0, nullptr, &lossy) > 0 &&
        !lossy)
      return from_wide(address, CP_ACP);
    return app::file_address(candidate, true);
  }
  return {};
}

}  // namespace sharelink
