#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/process.h"
#include "codec/wide_win32.h"

namespace sharelink::cli {
namespace {

UINT saved_output_cp = 0;
UINT saved_input_cp = 0;
DWORD saved_error_mode = 0;
bool error_mode_changed = false;
bool error_redraws = false;

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

// The console's code pages and modes belong to the console, not to this process:
// give them back.
void restore_console() {
  if (saved_output_cp != 0) SetConsoleOutputCP(saved_output_cp);
  if (saved_input_cp != 0) SetConsoleCP(saved_input_cp);
  if (error_mode_changed) SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), saved_error_mode);
}

std::atomic<bool>* interrupt_flag = nullptr;

BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // The second Ctrl+C: let the system end the process.
  return interrupt_flag->exchange(true) ? FALSE : TRUE;
}

}  // namespace

void prepare_standard_streams() {
  saved_output_cp = GetConsoleOutputCP();
  saved_input_cp = GetConsoleCP();
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
  // Text mode would rewrite CR LF and end the input at a 0x1A byte.
  _setmode(_fileno(stdin), _O_BINARY);
  // Lines end in LF alone, as on Linux: JSON and aria2 lists written to a file are
  // the same bytes on both systems.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(error, &mode)) {
    saved_error_mode = mode;
    if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) {
      error_redraws = true;
    } else if (SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
      error_mode_changed = true;
      error_redraws = true;
    }
  }
  std::atexit(restore_console);
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  // argv holds the arguments in the ANSI code page; the wide command line has them all.
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(from_wide(wide[i], CP_UTF8));
  LocalFree(wide);
  return args;
}

std::FILE* open_for_reading(const std::string& path) {
  // The ANSI fopen cannot open a name the code page lacks; the wide one opens any.
  return _wfopen(to_wide(path, CP_UTF8).c_str(), L"rb");
}

bool standard_input_is_terminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool standard_error_is_terminal() { return error_redraws; }

int standard_error_width() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
    return info.srWindow.Right - info.srWindow.Left + 1;
  return 80;
}

void catch_interrupts(std::atomic<bool>& flag) {
  interrupt_flag = &flag;
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

// Ctrl+C and Ctrl+Break alike: the status a shell gives a run that SIGINT ended.
int interrupted_status() { return 130; }

}  // namespace sharelink::cli
