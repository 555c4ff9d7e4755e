// The window program on Windows.
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "app/actions.h"
#include "app/background.h"
#include "app/main_window_win32.h"
#include "app/program_help.h"
#include "rules/services.h"
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

// The arguments after the program name, as UTF-8.
std::vector<std::string> arguments() {
  std::vector<std::string> args;
  int count = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i) args.push_back(sharelink::from_wide(wide[i], CP_UTF8));
    LocalFree(wide);
  }
  return args;
}

// Shows `text` where whoever started the program can read it: its standard output
// when that is a file or a pipe, the console it was started from, or else (started
// from the desktop) a message box.
void show_text(const std::string& text, const std::string& caption) {
  DWORD written = 0;
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  const DWORD type = out && out != INVALID_HANDLE_VALUE ? GetFileType(out) : FILE_TYPE_UNKNOWN;
  if (type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE) {
    WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::wstring wide = sharelink::to_wide(text, CP_UTF8);
  if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
    if (console != INVALID_HANDLE_VALUE) {
      WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
      CloseHandle(console);
      return;
    }
  }
  MessageBoxW(nullptr, wide.c_str(), sharelink::to_wide(caption, CP_UTF8).c_str(), MB_OK | MB_ICONINFORMATION);
}

// A rule file that cannot be read is passed over; when standard error leads
// somewhere (a file, a pipe, a console), it says why the button reads as before.
void report_rule_problems() {
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (!err || err == INVALID_HANDLE_VALUE) return;
  for (const std::string& problem : sharelink::process_service_problems()) {
    const std::string line = "sharelink-gui: " + problem + "\n";
    DWORD written = 0;
    WriteFile(err, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
}

// Ends the process with `code` at once: the other threads stop first, and the
// destructors of static objects do not run, so a resolution abandoned when the
// window closed cannot find them destroyed. Nobody waits for it.
[[noreturn]] void end_process_now(int code) { ExitProcess(static_cast<UINT>(code)); }

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (const auto text = sharelink::app::program_help(arguments())) {
    show_text(*text, "sharelink-gui");
    return 0;
  }
  const HRESULT ole = OleInitialize(nullptr);
  enter_program_folder();
  report_rule_problems();

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
