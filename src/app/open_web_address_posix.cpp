// Opens a web address with the desktop's default handler through xdg-open.
#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <thread>

#include "app/desktop.h"
#include "runtime/text.h"

extern char** environ;

namespace sharelink {
namespace {

void reap(pid_t pid, int options) {
  int status = 0;
  while (waitpid(pid, &status, options) < 0 && errno == EINTR) {
  }
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

}  // namespace sharelink
