#include "testing/loopback_server.h"

#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace sharelink::testing {

loopback_server::loopback_server() : server_(std::make_unique<httplib::Server>()) {}

loopback_server::~loopback_server() { stop(); }

void loopback_server::start() {
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) throw std::runtime_error("loopback_server: cannot bind 127.0.0.1");
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void loopback_server::stop() {
  if (thread_.joinable()) {
    server_->stop();
    thread_.join();
  }
}

std::string loopback_server::url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void loopback_server::serve(const std::string& path, std::string body) {
  server_->Get(path, [body = std::move(body)](const httplib::Request&, httplib::Response& res) {
    res.set_content(body, "text/html");
  });
}

std::string read_source_file(std::string_view relative_path) {
  std::ifstream in(std::string(SHARELINK_SOURCE_DIR) + "/" + std::string(relative_path),
                   std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace sharelink::testing
