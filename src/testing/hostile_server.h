#pragma once
// Servers for tests that need to misbehave on the wire: a raw TCP server whose
// replies are written by hand (malformed heads, silence, endless bodies), and
// throw-away TLS certificates that no client trusts.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace sharelink::testing {

class raw_server;

/// One accepted connection, handed to the server's script on its own thread.
class raw_connection {
 public:
  raw_connection(raw_server& server, int socket);
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
  int socket_;
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
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  std::vector<int> open_sockets_;
  struct worker {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::vector<worker> workers_;  ///< finished ones are joined as new ones start
  std::thread acceptor_;
};

/// A self-signed certificate and its key (EC P-256), owned.
struct test_certificate {
  std::unique_ptr<X509, void (*)(X509*)> cert{nullptr, X509_free};
  std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> key{nullptr, EVP_PKEY_free};
};

/// A self-signed certificate for `host` (common name and DNS name), valid from
/// now + `not_before` to now + `not_after`. Throws std::runtime_error when OpenSSL fails.
test_certificate make_test_certificate(const std::string& host, std::chrono::seconds not_before,
                                       std::chrono::seconds not_after);

}  // namespace sharelink::testing
