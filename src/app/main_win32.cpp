// The window program on Windows.
#include <windows.h>
#include <ole2.h>

#include <string>

#include "app/actions.h"
#include "app/background.h"
#include "app/main_window_win32.h"
#include "app/window_description.h"
#include "codec/wide_win32.h"

namespace {

// The current directory becomes the folder that holds the program.
void enter_program_folder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return;
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  const auto slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return;
  path.resize(slash == 2 && path[1] == L':' ? slash + 1 : slash);  // keep "C:\"
  SetCurrentDirectoryW(path.c_str());
}

// Ends the process with `code` at once: the other threads stop first, and the
// destructors of static objects do not run, so a resolution abandoned when the
// window closed cannot find them destroyed. Nobody waits for it.
[[noreturn]] void end_process_now(int code) { ExitProcess(static_cast<UINT>(code)); }

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const HRESULT ole = OleInitialize(nullptr);
  enter_program_folder();

  const sharelink::app::action_services services = sharelink::app::platform_services();
  HWND window = sharelink::app::create_main_window(instance, services);
  if (!window) {
    using namespace sharelink::app;
    MessageBoxW(nullptr, sharelink::to_wide(startup_error_text, CP_UTF8).c_str(),
                sharelink::to_wide(startup_error_caption, CP_UTF8).c_str(),
                MB_OK | MB_ICONERROR);
    if (SUCCEEDED(ole)) OleUninitialize();
    return -1;
  }
  sharelink::app::run_message_loop(window);
  if (SUCCEEDED(ole)) OleUninitialize();
  if (sharelink::app::detached_work_running()) end_process_now(0);
  return 0;
}
