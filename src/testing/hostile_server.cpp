#include "testing/hostile_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include <openssl/ec.h>
#include <openssl/x509v3.h>

namespace sharelink::testing {

raw_connection::raw_connection(raw_server& server, int socket) : server_(server), socket_(socket) {}

raw_connection::~raw_connection() {
  {
    std::lock_guard lock(server_.mutex_);
    auto& open = server_.open_sockets_;
    open.erase(std::remove(open.begin(), open.end(), socket_), open.end());
  }
  ::close(socket_);
}

void raw_connection::read_head() {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  char chunk[4096];
  while (head_.find("\r\n\r\n") == std::string::npos && !server_.stopping()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    pollfd p{socket_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 50))) <= 0) continue;
    ssize_t got = ::recv(socket_, chunk, sizeof chunk, 0);
    if (got <= 0) return;
    head_.append(chunk, static_cast<size_t>(got));
  }
  auto end = head_.find("\r\n\r\n");
  if (end != std::string::npos) head_.resize(end + 4);
}

bool raw_connection::send(std::string_view bytes) {
  while (!bytes.empty()) {
    if (server_.stopping()) return false;
    ssize_t sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return !server_.stopping();
}

bool raw_connection::pause(std::chrono::milliseconds time) {
  std::unique_lock lock(server_.mutex_);
  return !server_.wake_.wait_for(lock, time, [this] { return server_.stopping(); });
}

void raw_connection::hold() {
  char sink[4096];
  while (!server_.stopping()) {
    pollfd p{socket_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    if (::recv(socket_, sink, sizeof sink, MSG_DONTWAIT) <= 0) return;  // hung up
  }
}

raw_server::raw_server(script answer) : answer_(std::move(answer)) {
  listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
  if (listener_ < 0) throw std::runtime_error("raw_server: socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(listener_);
    throw std::runtime_error("raw_server: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { accept_loop(); });
}

raw_server::~raw_server() { stop(); }

std::string raw_server::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void raw_server::accept_loop() {
  while (!stopping()) {
    pollfd p{listener_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    int socket = ::accept(listener_, nullptr, nullptr);
    if (socket < 0) continue;
    ++accepted_;
    std::lock_guard lock(mutex_);
    if (stopping()) {
      ::close(socket);
      return;
    }
    std::erase_if(workers_, [](worker& w) {
      if (!w.done->load()) return false;
      w.thread.join();
      return true;
    });
    open_sockets_.push_back(socket);
    auto done = std::make_shared<std::atomic<bool>>(false);
    workers_.push_back({std::thread([this, socket, done] {
                          {
                            raw_connection connection(*this, socket);
                            connection.read_head();
                            if (!stopping()) answer_(connection);
                          }
                          done->store(true);
                        }),
                        done});
  }
}

void raw_server::stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_.exchange(true)) return;
    for (int socket : open_sockets_) ::shutdown(socket, SHUT_RDWR);
  }
  wake_.notify_all();
  acceptor_.join();
  // No worker is added once the acceptor has ended.
  for (auto& w : workers_) w.thread.join();
  ::close(listener_);
}

test_certificate make_test_certificate(const std::string& host, std::chrono::seconds not_before,
                                       std::chrono::seconds not_after) {
  test_certificate made;
  made.key.reset(EVP_EC_gen("P-256"));
  made.cert.reset(X509_new());
  X509* cert = made.cert.get();
  bool ok = made.key && cert && X509_set_version(cert, 2) &&
            ASN1_INTEGER_set(X509_get_serialNumber(cert), 1) &&
            X509_gmtime_adj(X509_getm_notBefore(cert), static_cast<long>(not_before.count())) &&
            X509_gmtime_adj(X509_getm_notAfter(cert), static_cast<long>(not_after.count())) &&
            X509_set_pubkey(cert, made.key.get());
  if (ok) {
    X509_NAME* name = X509_get_subject_name(cert);
    ok = X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>(host.c_str()), -1,
                                    -1, 0) &&
         X509_set_issuer_name(cert, name);
  }
  if (ok) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    std::string alt = "DNS:" + host;
    X509_EXTENSION* extension =
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, alt.c_str());
    ok = extension && X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
  }
  if (!ok || !X509_sign(cert, made.key.get(), EVP_sha256()))
    throw std::runtime_error("make_test_certificate: OpenSSL failed");
  return made;
}

}  // namespace sharelink::testing
