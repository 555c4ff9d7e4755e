#pragma once
// The few socket calls raw_server.cpp needs, on sockets held as integers:
// raw_socket_posix.cpp and raw_socket_win32.cpp.
#include <cstddef>
#include <cstdint>

namespace sharelink::testing::raw_socket {

/// A socket listening on 127.0.0.1 at a port the system picks (put in `port`), or -1.
std::intptr_t listen_on_loopback(int& port);
/// True when `socket` has something to read (or an end) within `ms` milliseconds.
bool readable(std::intptr_t socket, int ms);
/// An accepted connection, or -1.
std::intptr_t accept_one(std::intptr_t listener);
/// Bytes read (0 at the end, below 0 on error), at most `size`.
long receive(std::intptr_t socket, char* data, std::size_t size);
/// Bytes sent (below 0 when the peer has gone), without a signal for a closed peer.
long send_some(std::intptr_t socket, const char* data, std::size_t size);
/// Ends both directions, waking any call waiting on the socket.
void shut_down(std::intptr_t socket);
void close(std::intptr_t socket);

}  // namespace sharelink::testing::raw_socket
