#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

#include "testing/raw_socket.h"

namespace sharelink::testing::raw_socket {
namespace {

SOCKET socket_of(std::intptr_t socket) { return static_cast<SOCKET>(socket); }

int clamp(std::size_t size) { return static_cast<int>(std::min<std::size_t>(size, 1u << 30)); }

}  // namespace

std::intptr_t listen_on_loopback(int& port) {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) return -1;
  const SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener == INVALID_SOCKET) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::closesocket(listener);
    return -1;
  }
  port = ntohs(address.sin_port);
  return static_cast<std::intptr_t>(listener);
}

bool readable(std::intptr_t socket, int ms) {
  WSAPOLLFD p{socket_of(socket), POLLRDNORM, 0};
  return WSAPoll(&p, 1, ms) > 0;
}

std::intptr_t accept_one(std::intptr_t listener) {
  const SOCKET socket = ::accept(socket_of(listener), nullptr, nullptr);
  return socket == INVALID_SOCKET ? -1 : static_cast<std::intptr_t>(socket);
}

long receive(std::intptr_t socket, char* data, std::size_t size) {
  return ::recv(socket_of(socket), data, clamp(size), 0);
}

long send_some(std::intptr_t socket, const char* data, std::size_t size) {
  return ::send(socket_of(socket), data, clamp(size), 0);
}

void shut_down(std::intptr_t socket) { ::shutdown(socket_of(socket), SD_BOTH); }

void close(std::intptr_t socket) { ::closesocket(socket_of(socket)); }

}  // namespace sharelink::testing::raw_socket
