#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/actions.h"
#include "app/background.h"
#include "app/main_window_qt.h"
#include "app/program_help.h"
#include "rules/services.h"

namespace {

const char* const program = "sharelink-gui";

bool has_env(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// Whether the command line picks a platform itself ("-platform NAME").
bool platform_argument(int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-platform" || arg == "--platform" || arg.rfind("-platform=", 0) == 0) return true;
  }
  return false;
}

// While QApplication is being made: Qt's own reasons are kept back, and when it
// gives up (it would abort with a hint to reinstall), one line says why instead.
std::string held_back;
QtMessageHandler qt_handler = nullptr;

void while_starting(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    held_back += message.toStdString() + '\n';
    return;
  }
  const char* display = std::getenv("DISPLAY");
  if (display && *display)
    std::fprintf(stderr, "%s: cannot open a window: cannot connect to the display \"%s\"\n", program,
                 display);
  else
    std::fprintf(stderr, "%s: cannot open a window: no display could be opened\n", program);
  (void)context;
  std::fflush(stderr);
  std::_Exit(1);
}

// Ends the process with `code` at once, without the destructors of static objects:
// a resolution abandoned when the window closed may still be using them on its own
// thread, and nobody waits for it.
[[noreturn]] void end_process_now(int code) {
  std::fflush(nullptr);
  std::quick_exit(code);
}

}  // namespace

int main(int argc, char* argv[]) {
  // --help and --version need no display.
  if (const auto text = sharelink::app::program_help(std::vector<std::string>(argv + 1, argv + argc))) {
    std::fputs(text->c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  if (!has_env("DISPLAY") && !has_env("WAYLAND_DISPLAY") && !has_env("QT_QPA_PLATFORM") &&
      !platform_argument(argc, argv)) {
    std::fprintf(stderr, "%s: cannot open a window: no display (DISPLAY and WAYLAND_DISPLAY are not set)\n",
                 program);
    return 1;
  }
  qt_handler = qInstallMessageHandler(while_starting);
  QApplication app(argc, argv);
  qInstallMessageHandler(qt_handler);
  if (!held_back.empty()) std::fputs(held_back.c_str(), stderr);
  // A rule file that cannot be read is passed over; whoever started the program
  // from a terminal learns why its button reads as before.
  for (const std::string& problem : sharelink::process_service_problems())
    std::fprintf(stderr, "%s: %s\n", program, problem.c_str());

  const int code = sharelink::app::run_window_program(sharelink::app::platform_services());
  if (sharelink::app::detached_work_running()) end_process_now(code);
  return code;
}
