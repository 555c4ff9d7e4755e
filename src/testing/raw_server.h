#pragma once
// A raw TCP server for tests that need to misbehave on the wire: its replies are
// written by hand (malformed heads, silence, endless bodies, cut bodies). The same
// on Linux and on Windows; the sockets underneath are raw_socket_*.cpp.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace sharelink::testing {

class raw_server;

/// One accepted connection, handed to the server's script on its own thread.
class raw_connection {
 public:
  raw_connection(raw_server& server, std::intptr_t socket);
  ~raw_connection();
  raw_connection(const raw_connection&) = delete;
  raw_connection& operator=(const raw_connection&) = delete;

  /// The request line and headers the client sent (up to the blank line), as read
  /// before the script started; empty when the client sent nothing within 2 s.
  const std::string& request_head() const { return head_; }
  /// Writes all of `bytes`. False once the client has gone or the server is stopping.
  bool send(std::string_view bytes);
  /// Waits `time`, or less when the server stops. False when it is stopping.
  bool pause(std::chrono::milliseconds time);
  /// Keeps the connection open and silent until the server stops or the client hangs up.
  void hold();

 private:
  friend class raw_server;
  void read_head();
  raw_server& server_;
  std::intptr_t socket_;
  std::string head_;
};

/// A TCP server on 127.0.0.1 (a port the system picks) that answers every
/// connection by running `script` on it. Listening starts in the constructor; the
/// destructor wakes every paused script, hangs up every connection and joins.
class raw_server {
 public:
  using script = std::function<void(raw_connection&)>;
  explicit raw_server(script answer);
  ~raw_server();
  raw_server(const raw_server&) = delete;
  raw_server& operator=(const raw_server&) = delete;

  int port() const { return port_; }
  /// "http://127.0.0.1:<port>" followed by `path`.
  std::string url(std::string_view path = "/") const;
  /// Connections accepted so far.
  int connections() const { return accepted_.load(); }
  /// Wakes paused scripts, hangs up, stops accepting. Safe to call twice.
  void stop();

 private:
  friend class raw_connection;
  void accept_loop();
  bool stopping() const { return stopping_.load(); }

  script answer_;
  std::intptr_t listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<std::intptr_t> open_sockets_;
  struct worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<worker> workers_;  ///< finished ones are joined as new ones start
  std::thread acceptor_;
};

}  // namespace sharelink::testing
