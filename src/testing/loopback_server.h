#pragma once
// An HTTP server on 127.0.0.1 for tests, on a port the system picks.
// Register handlers on `http()` first, then call `start()`; the destructor stops it.
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include <httplib.h>

namespace sharelink::testing {

class loopback_server {
 public:
  loopback_server();
  ~loopback_server();
  loopback_server(const loopback_server&) = delete;
  loopback_server& operator=(const loopback_server&) = delete;

  httplib::Server& http() { return *server_; }
  /// Binds to 127.0.0.1 and serves on a thread; returns once it accepts connections.
  void start();
  void stop();
  int port() const { return port_; }
  /// "http://127.0.0.1:<port>" followed by `path`.
  std::string url(std::string_view path = "/") const;
  /// Shortcut: answer GET `path` with `body` (status 200, text/html).
  void serve(const std::string& path, std::string body);

 private:
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
  int port_ = 0;
};

/// The contents of a file under the source tree (for sample pages); empty if missing.
std::string read_source_file(std::string_view relative_path);

}  // namespace sharelink::testing
