// SPDX-License-Identifier: MIT
// The TCP connection to a serial-to-network server on Windows: a
// non-blocking Winsock socket; every wait a select bounded by its deadline,
// in steps of at most 50 ms between which the wake is asked.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>

#include "rs232.h"
#include "rs232_front.h"
#include "serial_tcp.h"
#include "win32_errors.h"

namespace {

struct tcp_connection {
  SOCKET socket = INVALID_SOCKET;
};

constexpr int max_connections = 4;
constexpr int wake_step_ms = serial_wake_slice_ms;
tcp_connection connections[max_connections];

int ms_left(long long deadline) {
  const long long left = deadline - rs_clock_ms();
  return left > 0 ? static_cast<int>(left) : 0;
}

// One select of at most ms on the socket: > 0 when it is ready (to read, or
// to write with write set) or has failed, 0 when not, SOCKET_ERROR.
int select_once(SOCKET socket, bool write, int ms) {
  fd_set ready_set;
  fd_set error_set;
  FD_ZERO(&ready_set);
  FD_ZERO(&error_set);
  FD_SET(socket, &ready_set);
  FD_SET(socket, &error_set);
  timeval timeout{ms / 1000, (ms % 1000) * 1000};
  return select(0, write ? nullptr : &ready_set, write ? &ready_set : nullptr, &error_set,
                &timeout);
}

// Waits until the socket can be read (or written, with write set), the wake
// turns ready or the deadline passes: 1, rs_timeout, rs_woken or rs_gone.
int wait_socket(const tcp_connection &connection, bool write, long long deadline) {
  for (;;) {
    if (serial_wake_ready()) return rs_woken;
    const int left = ms_left(deadline);
    const int ready =
        select_once(connection.socket, write, left < wake_step_ms ? left : wake_step_ms);
    if (ready == SOCKET_ERROR) return rs_gone;
    if (ready > 0) return 1;
    if (ms_left(deadline) == 0) return rs_timeout;
  }
}

bool would_block(void) { return WSAGetLastError() == WSAEWOULDBLOCK; }

int read_tcp(void *context, unsigned char *bytes, int size, int wait_ms) {
  const tcp_connection &connection = *static_cast<tcp_connection *>(context);
  const long long deadline = rs_clock_ms() + wait_ms;
  for (;;) {
    if (wait_ms > 0) {
      const int ready = wait_socket(connection, false, deadline);
      if (ready < 0) return ready;
    }
    const int count = recv(connection.socket, reinterpret_cast<char *>(bytes), size, 0);
    if (count > 0) return count;
    if (count == 0 || !would_block()) return rs_gone;  // closed by the server, or failed
    if (wait_ms == 0 || ms_left(deadline) == 0) return rs_timeout;
  }
}

int write_tcp(void *context, const unsigned char *bytes, int size, int wait_ms) {
  const tcp_connection &connection = *static_cast<tcp_connection *>(context);
  const long long deadline = rs_clock_ms() + wait_ms;
  while (size > 0) {
    const int sent = send(connection.socket, reinterpret_cast<const char *>(bytes), size, 0);
    if (sent > 0) {
      bytes += sent;
      size -= sent;
      continue;
    }
    if (sent == SOCKET_ERROR && would_block()) {
      const int ready = wait_socket(connection, true, deadline);
      if (ready < 0) return ready;
      continue;
    }
    return rs_gone;
  }
  return 0;
}

void close_tcp(void *context) {
  tcp_connection &connection = *static_cast<tcp_connection *>(context);
  if (connection.socket != INVALID_SOCKET) closesocket(connection.socket);
  connection = tcp_connection{};
  WSACleanup();
}

// One address: a non-blocking connect that ends by the deadline. The
// socket, or INVALID_SOCKET with *error set.
SOCKET connect_within(const addrinfo &address, long long deadline, int *error) {
  SOCKET s = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
  if (s == INVALID_SOCKET) {
    *error = WSAGetLastError();
    return s;
  }
  u_long non_blocking = 1;
  ioctlsocket(s, FIONBIO, &non_blocking);
  if (connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) == SOCKET_ERROR &&
      !would_block()) {
    *error = WSAGetLastError();
    closesocket(s);
    return INVALID_SOCKET;
  }
  tcp_connection probe;
  probe.socket = s;
  const int ready = wait_socket(probe, true, deadline);
  int failure = 0;
  int length = sizeof failure;
  if (ready == rs_timeout) {
    failure = WSAETIMEDOUT;
  } else if (ready < 0 || getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&failure),
                                     &length) != 0) {
    failure = failure != 0 ? failure : WSAECONNREFUSED;
  }
  if (failure != 0) {
    *error = failure;
    closesocket(s);
    return INVALID_SOCKET;
  }
  BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
  return s;
}

}  // namespace

int tcp_transport_open(const tcp_address &address, int wait_ms, serial_transport *transport,
                       char *why, std::size_t why_size) {
  tcp_connection *connection = nullptr;
  for (tcp_connection &slot : connections) {
    if (slot.socket == INVALID_SOCKET) {
      connection = &slot;
      break;
    }
  }
  WSADATA data;
  if (connection == nullptr || WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    std::snprintf(why, why_size, "cannot open a network connection");
    return -1;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo *found = nullptr;
  const int lookup = getaddrinfo(address.host, address.port, &hints, &found);
  if (lookup != 0) {
    char reason[256];
    win32_error_text(static_cast<DWORD>(lookup), reason, sizeof reason);
    std::snprintf(why, why_size, "cannot find the server %s: %s", address.host, reason);
    WSACleanup();
    return -1;
  }
  const long long deadline = rs_clock_ms() + wait_ms;
  SOCKET s = INVALID_SOCKET;
  int error = 0;
  for (const addrinfo *each = found; each != nullptr && s == INVALID_SOCKET; each = each->ai_next) {
    s = connect_within(*each, deadline, &error);
  }
  freeaddrinfo(found);
  if (s == INVALID_SOCKET) {
    char reason[256];
    win32_error_text(static_cast<DWORD>(error), reason, sizeof reason);
    std::snprintf(why, why_size, "cannot connect to %s port %s: %s", address.host, address.port,
                  reason);
    WSACleanup();
    return -1;
  }
  connection->socket = s;
  *transport = serial_transport{read_tcp, write_tcp, close_tcp, connection};
  return 0;
}
