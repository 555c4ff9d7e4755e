#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/process.h"

namespace sharelink::cli {
namespace {

std::atomic<bool>* interrupt_flag = nullptr;
std::atomic<int> first_signal{SIGINT};

void on_interrupt(int signal_number) {
  // Lock-free atomics only: this runs inside a signal handler.
  if (!interrupt_flag->load()) first_signal.store(signal_number);
  if (interrupt_flag->exchange(true)) {
    // The second Ctrl+C: the user does not want to wait.
    signal(signal_number, SIG_DFL);
    raise(signal_number);
  }
}

}  // namespace

void prepare_standard_streams() { signal(SIGPIPE, SIG_IGN); }

std::vector<std::string> utf8_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

std::FILE* open_for_reading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

bool standard_input_is_terminal() { return isatty(STDIN_FILENO) == 1; }

bool standard_error_is_terminal() {
  if (isatty(STDERR_FILENO) != 1) return false;
  const char* term = std::getenv("TERM");
  return term == nullptr || std::strcmp(term, "dumb") != 0;
}

int standard_error_width() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

void catch_interrupts(std::atomic<bool>& flag) {
  interrupt_flag = &flag;
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  // SIGTERM and SIGHUP (a closed terminal) end the run as Ctrl+C does: bytes received
  // are written, a .part is kept, finished results are printed.
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal_number, &action, nullptr);
  signal(SIGXFSZ, SIG_IGN);
}

int interrupted_status() { return 128 + first_signal.load(); }

}  // namespace sharelink::cli
