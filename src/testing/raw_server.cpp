#include "testing/raw_server.h"

#include <algorithm>
#include <stdexcept>

#include "testing/raw_socket.h"

namespace sharelink::testing {

raw_connection::raw_connection(raw_server& server, std::intptr_t socket) : server_(server), socket_(socket) {}

raw_connection::~raw_connection() {
  {
    std::lock_guard lock(server_.mutex_);
    auto& open = server_.open_sockets_;
    open.erase(std::remove(open.begin(), open.end(), socket_), open.end());
  }
  raw_socket::close(socket_);
}

void raw_connection::read_head() {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  char chunk[4096];
  while (head_.find("\r\n\r\n") == std::string::npos && !server_.stopping()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    if (!raw_socket::readable(socket_, static_cast<int>(std::min<long long>(left.count(), 50)))) continue;
    const long got = raw_socket::receive(socket_, chunk, sizeof chunk);
    if (got <= 0) return;
    head_.append(chunk, static_cast<std::size_t>(got));
  }
  auto end = head_.find("\r\n\r\n");
  if (end != std::string::npos) head_.resize(end + 4);
}

bool raw_connection::send(std::string_view bytes) {
  while (!bytes.empty()) {
    if (server_.stopping()) return false;
    const long sent = raw_socket::send_some(socket_, bytes.data(), bytes.size());
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
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
    if (!raw_socket::readable(socket_, 50)) continue;
    if (raw_socket::receive(socket_, sink, sizeof sink) <= 0) return;  // hung up
  }
}

raw_server::raw_server(script answer) : answer_(std::move(answer)) {
  listener_ = raw_socket::listen_on_loopback(port_);
  if (listener_ < 0) throw std::runtime_error("raw_server: cannot listen on 127.0.0.1");
  acceptor_ = std::thread([this] { accept_loop(); });
}

raw_server::~raw_server() { stop(); }

std::string raw_server::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void raw_server::accept_loop() {
  while (!stopping()) {
    if (!raw_socket::readable(listener_, 50)) continue;
    const std::intptr_t socket = raw_socket::accept_one(listener_);
    if (socket < 0) continue;
    ++accepted_;
    std::lock_guard lock(mutex_);
    if (stopping()) {
      raw_socket::close(socket);
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
    for (const std::intptr_t socket : open_sockets_) raw_socket::shut_down(socket);
  }
  wake_.notify_all();
  acceptor_.join();
  // No worker is added once the acceptor has ended.
  for (auto& w : workers_) w.thread.join();
  raw_socket::close(listener_);
}

}  // namespace sharelink::testing
