// SPDX-License-Identifier: MIT
// The TCP connection to a serial-to-network server on POSIX: a non-blocking
// socket, every wait a poll bounded by its deadline that also watches the
// wake descriptor.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "rs232.h"
#include "rs232_front.h"
#include "serial_tcp.h"

namespace {

struct tcp_connection {
  int fd = -1;
};

constexpr int max_connections = 4;
tcp_connection connections[max_connections];

int ms_left(long long deadline) {
  const long long left = deadline - rs_clock_ms();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until fd is ready for events, the wake turns ready or the deadline
// passes: the events seen (> 0), rs_timeout, rs_woken or rs_gone.
int wait_socket(const tcp_connection &connection, short events, long long deadline) {
  for (;;) {
    if (serial_wake_ready()) return rs_woken;
    const int wake_fd = serial_wake_fd();
    int wait_ms = ms_left(deadline);
    // Without a wake descriptor, ready() is asked between short waits.
    if (wake_fd < 0 && wait_ms > serial_wake_slice_ms) wait_ms = serial_wake_slice_ms;
    pollfd entries[2] = {{connection.fd, events, 0}, {wake_fd, POLLIN, 0}};
    const int ready = poll(entries, wake_fd >= 0 ? 2 : 1, wait_ms);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return rs_gone;
    }
    if (entries[0].revents != 0) return entries[0].revents;
    if (wake_fd >= 0 && entries[1].revents != 0) return rs_woken;
    if (ms_left(deadline) == 0) return rs_timeout;
  }
}

int read_tcp(void *context, unsigned char *bytes, int size, int wait_ms) {
  const tcp_connection &connection = *static_cast<tcp_connection *>(context);
  const long long deadline = rs_clock_ms() + wait_ms;
  for (;;) {
    if (wait_ms > 0) {
      const int ready = wait_socket(connection, POLLIN, deadline);
      if (ready < 0) return ready;
    }
    const ssize_t count = recv(connection.fd, bytes, static_cast<std::size_t>(size), 0);
    if (count > 0) return static_cast<int>(count);
    if (count == 0) return rs_gone;  // the server closed the connection
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return rs_gone;
    if (wait_ms == 0 || ms_left(deadline) == 0) return rs_timeout;
  }
}

int write_tcp(void *context, const unsigned char *bytes, int size, int wait_ms) {
  const tcp_connection &connection = *static_cast<tcp_connection *>(context);
  const long long deadline = rs_clock_ms() + wait_ms;
  while (size > 0) {
    const ssize_t sent = send(connection.fd, bytes, static_cast<std::size_t>(size), MSG_NOSIGNAL);
    if (sent > 0) {
      bytes += sent;
      size -= static_cast<int>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const int ready = wait_socket(connection, POLLOUT, deadline);
      if (ready < 0) return ready;
      if ((ready & (POLLERR | POLLHUP)) != 0) return rs_gone;
      continue;
    }
    return rs_gone;
  }
  return 0;
}

void close_tcp(void *context) {
  tcp_connection &connection = *static_cast<tcp_connection *>(context);
  if (connection.fd >= 0) close(connection.fd);
  connection = tcp_connection{};
}

// One address: a non-blocking connect that ends by the deadline. The
// socket, or -1 with errno set.
int connect_within(const addrinfo &address, long long deadline) {
  const int fd = socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                        address.ai_protocol);
  if (fd < 0) return -1;
  if (connect(fd, address.ai_addr, address.ai_addrlen) != 0 && errno != EINPROGRESS) {
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  tcp_connection probe;
  probe.fd = fd;
  int error = 0;
  socklen_t length = sizeof error;
  const int ready = wait_socket(probe, POLLOUT, deadline);
  if (ready == rs_timeout) {
    error = ETIMEDOUT;
  } else if (ready == rs_woken) {
    error = EINTR;
  } else if (ready < 0 || getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
    error = error != 0 ? error : ECONNREFUSED;
  }
  if (error != 0) {
    close(fd);
    errno = error;
    return -1;
  }
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

}  // namespace

int tcp_transport_open(const tcp_address &address, int wait_ms, serial_transport *transport,
                       char *why, std::size_t why_size) {
  tcp_connection *connection = nullptr;
  for (tcp_connection &slot : connections) {
    if (slot.fd < 0) {
      connection = &slot;
      break;
    }
  }
  if (connection == nullptr) {
    std::snprintf(why, why_size, "too many network ports open at once");
    return -1;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *found = nullptr;
  const int lookup = getaddrinfo(address.host, address.port, &hints, &found);
  if (lookup != 0) {
    std::snprintf(why, why_size, "cannot find the server %s: %s", address.host,
                  gai_strerror(lookup));
    return -1;
  }
  const long long deadline = rs_clock_ms() + wait_ms;
  int fd = -1;
  int error = 0;
  for (const addrinfo *each = found; each != nullptr && fd < 0; each = each->ai_next) {
    fd = connect_within(*each, deadline);
    if (fd < 0) error = errno;
  }
  freeaddrinfo(found);
  if (fd < 0) {
    std::snprintf(why, why_size, "cannot connect to %s port %s: %s", address.host, address.port,
                  std::strerror(error));
    return -1;
  }
  connection->fd = fd;
  *transport = serial_transport{read_tcp, write_tcp, close_tcp, connection};
  return 0;
}
