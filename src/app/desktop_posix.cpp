// Browser and home page on Linux and other POSIX systems; the clipboard is Qt's
// (clipboard_qt.cpp), since the system has none of its own.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <thread>

#include "app/desktop.h"
#include "app/home_page.h"
#include "runtime/text.h"

extern char** environ;

namespace sharelink {
namespace {

void reap(pid_t pid, int options) {
  int status = 0;
  while (waitpid(pid, &status, options) < 0 && errno == EINTR) {
  }
}

std::string program_folder() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < path.size()) {
      path.resize(static_cast<std::size_t>(n));
      break;
    }
    path.resize(path.size() * 2);
  }
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

}  // namespace

void open_web_address(std::string_view address) {
  // The address goes to xdg-open as one argument, byte for byte: no shell and no
  // re-encoding on the way.
  std::string arg(as_local(address));
  char program[] = "xdg-open";
  char* argv[] = {program, arg.data(), nullptr};

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return;
  // The handler must not read the terminal we may have been started from.
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return;

  // Reap the child off the caller's thread: xdg-open may wait for the browser, and
  // the caller is usually a window that is closing. If the program ends first, the
  // child is handed to init, which reaps it.
  try {
    std::thread(reap, pid, 0).detach();
  } catch (const std::system_error&) {
    reap(pid, WNOHANG);  // never wait here; at worst a zombie until the program ends
  }
}

std::string home_page_address() {
  const std::string folder = program_folder();
  if (folder.empty()) return {};
  for (const std::string& candidate : app::home_page_candidates(folder, '/')) {
    struct stat st {};
    if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      return app::file_address(candidate, false);
  }
  return {};
}

}  // namespace sharelink
