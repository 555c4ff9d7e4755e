#include <windows.h>
#include <shellapi.h>

#include <cstdlib>

#include "cli/process.h"

namespace sharelink::cli {
namespace {

std::string to_utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string utf8(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
  utf8.resize(static_cast<std::size_t>(size - 1));
  return utf8;
}

UINT saved_output_cp = 0;
UINT saved_input_cp = 0;

// The console's code pages belong to the console, not to this process: give them back.
void restore_console_code_pages() {
  if (saved_output_cp != 0) SetConsoleOutputCP(saved_output_cp);
  if (saved_input_cp != 0) SetConsoleCP(saved_input_cp);
}

}  // namespace

void prepare_standard_streams() {
  saved_output_cp = GetConsoleOutputCP();
  saved_input_cp = GetConsoleCP();
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
  std::atexit(restore_console_code_pages);
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  // argv holds the arguments in the ANSI code page; the wide command line has them all.
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(to_utf8(wide[i]));
  LocalFree(wide);
  return args;
}

}  // namespace sharelink::cli
