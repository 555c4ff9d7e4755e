// Clipboard and browser on Windows.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <string>

#include "app/desktop.h"
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

}  // namespace sharelink
