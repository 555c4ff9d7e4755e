#include "testing/contract_server.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include <poll.h>

extern char** environ;

namespace sharelink::testing {
namespace {

/// The server process: started with its standard input on a pipe that only this
/// process holds, so that it also ends when this process dies without a word.
class server_process {
 public:
  server_process() {
    int in[2], out[2];
    if (::pipe(in) != 0) return;
    if (::pipe(out) != 0) {
      ::close(in[0]);
      ::close(in[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string script = std::string(SHARELINK_SOURCE_DIR) + "/src/testing/contract_server.py";
    char* argv[] = {const_cast<char*>("python3"), const_cast<char*>(script.c_str()),
                    const_cast<char*>("--exit-with-stdin"), nullptr};
    const bool spawned = posix_spawnp(&pid_, "python3", &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    if (!spawned) {
      pid_ = -1;
      ::close(out[0]);
      return;
    }
    line_ = read_line(out[0]);
    ::close(out[0]);
  }

  ~server_process() {
    if (stdin_ >= 0) ::close(stdin_);
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  const std::string& line() const { return line_; }

 private:
  /// The first line the server prints, waiting at most 10 s for it.
  static std::string read_line(int fd) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char chunk[512];
      const ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got <= 0) break;
      line.append(chunk, static_cast<std::size_t>(got));
    }
    return line.substr(0, line.find('\n'));
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  std::string line_;
};

}  // namespace

std::optional<contract_servers> start_contract_server() {
  static server_process process;
  std::istringstream words(process.line());
  contract_servers servers;
  if (!(words >> servers.http >> servers.https >> servers.proxy >> servers.ca_file >>
        servers.socks >> servers.https_wrong_host >> servers.https_expired))
    return std::nullopt;
  return servers;
}

}  // namespace sharelink::testing
