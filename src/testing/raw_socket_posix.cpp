#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "testing/raw_socket.h"

namespace sharelink::testing::raw_socket {

std::intptr_t listen_on_loopback(int& port) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  if (listener < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(listener);
    return -1;
  }
  port = ntohs(address.sin_port);
  return listener;
}

bool readable(std::intptr_t socket, int ms) {
  pollfd p{static_cast<int>(socket), POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

std::intptr_t accept_one(std::intptr_t listener) {
  const int socket = ::accept(static_cast<int>(listener), nullptr, nullptr);
  return socket < 0 ? -1 : socket;
}

long receive(std::intptr_t socket, char* data, std::size_t size) {
  return static_cast<long>(::recv(static_cast<int>(socket), data, size, 0));
}

long send_some(std::intptr_t socket, const char* data, std::size_t size) {
  return static_cast<long>(::send(static_cast<int>(socket), data, size, MSG_NOSIGNAL));
}

void shut_down(std::intptr_t socket) { ::shutdown(static_cast<int>(socket), SHUT_RDWR); }

void close(std::intptr_t socket) { ::close(static_cast<int>(socket)); }

}  // namespace sharelink::testing::raw_socket
