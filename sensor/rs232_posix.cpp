// SPDX-License-Identifier: MIT
// The local port on POSIX: a transport (serial_transport.h) over a tty
// descriptor that stays non-blocking, every wait a poll bounded by a
// deadline on the monotonic clock that also watches the wake descriptor.
// What the open changed is kept in a fixed table, so that it is put back on
// close and, from a signal handler, by rs_restore_all_ports. What is Linux's
// own (COM numbers, the FTDI latency) lives in rs232_linux.cpp, which calls
// in here.
#include "rs232_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "port_claim_posix.h"
#include "rs232.h"
#include "rs232_front.h"

namespace {

constexpr int max_local_ports = 8;
// How long the holder of a port's lock waits for other openers, which hold
// no lock, to let go (another copy that lost the lock does so at once),
// looking every claim_step_ms.
constexpr int claim_grace_ms = 500;
constexpr long claim_step_ms = 10;

// An open local port and what its open changed. live is set last on open
// and cleared first on close, so that a signal handler sees only whole
// entries.
struct local_port {
  volatile sig_atomic_t live;
  int fd;
  termios saved;  // the settings found at open
  port_undo undo;
  void (*undo_tuning)(int fd, const port_undo *undo);
};

local_port local_ports[max_local_ports];

using nanoseconds = long long;

nanoseconds monotonic_now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<nanoseconds>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

nanoseconds deadline_after_ms(long long ms) { return monotonic_now() + ms * 1000000LL; }

// Milliseconds left until deadline, rounded up so that poll never wakes
// early and spins; 0 when it has passed.
int ms_until(nanoseconds deadline) {
  const nanoseconds left = deadline - monotonic_now();
  if (left <= 0) return 0;
  const long long ms = (left + 999999) / 1000000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

// Errors after which the port will never work again.
bool is_gone_errno(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE || error == EBADF;
}

bool hung_up(int revents) { return (revents & (POLLHUP | POLLERR)) != 0; }

// The reason an open() of node failed, with a hint for the usual causes.
void note_open_errno(int16_t port, const char *node, int error) {
  char hint[160] = "";
  if (error == EACCES) {
    access_hint(node, hint, sizeof hint);
  } else if (error == EBUSY) {
    std::strcpy(hint, "; it is in use by another program");
  }
  serial_note_open_failure("cannot open %s (COM%d): %s%s", node, port, std::strerror(error), hint);
}

// Puts back what the open changed, keeping the port open. Async-signal-safe.
void restore_port(const local_port &local) {
  tcsetattr(local.fd, TCSANOW, &local.saved);
  if (local.undo_tuning != nullptr) local.undo_tuning(local.fd, &local.undo);
}

int read_port(void *context, unsigned char *bytes, int size, int wait_ms) {
  const int fd = static_cast<const local_port *>(context)->fd;
  const nanoseconds deadline = deadline_after_ms(wait_ms);
  for (;;) {
    int ready = POLLIN;
    if (wait_ms > 0) {
      ready = serial_poll_ready(fd, POLLIN, ms_until(deadline));
      if (ready < 0) return ready;
    }
    const ssize_t count = read(fd, bytes, static_cast<std::size_t>(size));
    if (count > 0) return static_cast<int>(count);
    if (count == 0) return rs_gone;  // end of file: hung up
    if (errno == EINTR) continue;
    if (errno == EAGAIN && !hung_up(ready)) {
      if (wait_ms == 0) return rs_timeout;
      continue;
    }
    return rs_gone;
  }
}

// Waits until what was written has gone out, within deadline. The driver's
// queue is watched here, so that the wait is bounded and ends for the wake
// source; tcdrain then waits only for the last bytes in the chip.
int drain_output(int fd, nanoseconds deadline) {
  int queued = 0;
  while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
    const int left_ms = ms_until(deadline);
    if (left_ms == 0) return rs_timeout;
    // About the bytes' time on the wire at 9600 baud: no spinning.
    const int slept = rs_sleep(queued < left_ms ? queued : left_ms);
    if (slept != 0) return slept;
  }
  while (tcdrain(fd) != 0) {
    if (errno == EINTR) continue;
    if (is_gone_errno(errno)) return rs_gone;
    break;  // a tty that cannot report its output queue: the bytes are written
  }
  return 0;
}

int write_port(void *context, const unsigned char *bytes, int size, int wait_ms) {
  const int fd = static_cast<const local_port *>(context)->fd;
  const nanoseconds deadline = deadline_after_ms(wait_ms);
  std::size_t left = size > 0 ? static_cast<std::size_t>(size) : 0;
  while (left > 0) {
    const ssize_t written = write(fd, bytes, left);
    if (written > 0) {
      bytes += written;
      left -= static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) {
      const int ready = serial_poll_ready(fd, POLLOUT, ms_until(deadline));
      if (ready < 0) return ready;
      if (hung_up(ready)) return rs_gone;
      continue;
    }
    return rs_gone;
  }
  return drain_output(fd, deadline);
}

int flush_port(void *context) {
  const int fd = static_cast<const local_port *>(context)->fd;
  if (tcflush(fd, TCIFLUSH) != 0 && is_gone_errno(errno)) return rs_gone;
  return 0;
}

void close_port(void *context) {
  local_port &local = *static_cast<local_port *>(context);
  local.live = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  restore_port(local);
  ioctl(local.fd, TIOCNXCL);
  close(local.fd);
  local = local_port{};
}

local_port *free_local_port() {
  for (local_port &local : local_ports) {
    if (!local.live) return &local;
  }
  return nullptr;
}

// Takes the port for this program alone, or says who has it. False when
// another program holds its lock or keeps it open. The lock decides between
// copies started at the same instant: the one that holds it gives openers
// that hold none a moment to see the lock taken and let go, so that exactly
// one of them goes on.
bool claim_port(int fd, int16_t port, const char *node) {
  // A second reader would eat the module's replies: a port that another
  // program holds (locked, or merely open) is reported, not shared.
  const bool locked = claim_port_lock(fd);
  char holder[64] = "";
  pid_t user = other_port_user(fd, holder, sizeof holder);
  if (locked) {
    const nanoseconds give_up = deadline_after_ms(claim_grace_ms);
    while (user != 0 && monotonic_now() < give_up) {
      const timespec step{0, claim_step_ms * 1000000L};
      nanosleep(&step, nullptr);
      user = other_port_user(fd, holder, sizeof holder);
    }
    if (user == 0) return true;
  }
  if (user != 0) {
    serial_note_open_failure("%s (COM%d) is in use by another program (%s, process %ld)", node,
                             port, holder[0] != '\0' ? holder : "?", static_cast<long>(user));
  } else {
    serial_note_open_failure("%s (COM%d) is in use by another program", node, port);
  }
  return false;
}

// Opens node and sets it up; the descriptor, or -1 with the failure noted.
// saved receives the settings found.
int open_and_set_up(int16_t port, const char *node, speed_t speed, int32_t baud, termios *saved) {
  const int fd = open(node, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    note_open_errno(port, node, errno);
    return -1;
  }
  // Exclusive: a second open of the tty fails with EBUSY. A tty that does not
  // take the request (an emulated one) is used as it is.
  if (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
    serial_note_open_failure("cannot open %s (COM%d) exclusively: %s", node, port,
                             std::strerror(errno));
    close(fd);
    return -1;
  }
  if (tcgetattr(fd, saved) != 0) {
    serial_note_open_failure("%s (COM%d) is not a serial port: %s", node, port,
                             std::strerror(errno));
    close(fd);
    return -1;
  }
  if (!claim_port(fd, port, node)) {
    close(fd);
    return -1;
  }
  const termios settings = serial_settings(*saved, speed);
  if (tcsetattr(fd, TCSANOW, &settings) != 0) {
    serial_note_open_failure("cannot set %s (COM%d) to %d baud 8N1: %s", node, port,
                             static_cast<int>(baud), std::strerror(errno));
    tcsetattr(fd, TCSANOW, saved);
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

termios serial_settings(termios base, speed_t speed) {
  termios settings = base;
  // Raw bytes both ways: no break or parity marking, no CR/LF translation,
  // no stripping, no software flow control, no output processing, no
  // echo, line editing or signals.
  settings.c_iflag = 0;
  settings.c_oflag = 0;
  settings.c_lflag = 0;
  settings.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
#ifdef CMSPAR
  settings.c_cflag &= ~CMSPAR;
#endif
  settings.c_cflag |= CS8 | CLOCAL | CREAD;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, speed);
  cfsetospeed(&settings, speed);
  return settings;
}

speed_t serial_speed(int32_t baud) {
  switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
  }
}

int serial_poll_ready(int fd, short events, int wait_ms) {
  const nanoseconds deadline = deadline_after_ms(wait_ms > 0 ? wait_ms : 0);
  pollfd entries[2] = {{fd, events, 0}, {serial_wake_fd(), POLLIN, 0}};
  nfds_t count = entries[1].fd >= 0 ? 2 : 1;
  for (;;) {
    entries[0].revents = entries[1].revents = 0;
    const int ready = poll(entries, count, ms_until(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return rs_gone;
    }
    if (entries[0].revents & POLLNVAL) return rs_gone;
    // With POLLHUP or POLLERR the read or write that follows tells whether
    // bytes are still there or the port is gone.
    if (entries[0].revents != 0) return entries[0].revents;
    if (count == 2 && (entries[1].revents & POLLNVAL)) {
      count = 1;  // a wake descriptor closed under us can wake nothing
      continue;
    }
    if (count == 2 && entries[1].revents != 0) return rs_woken;
    if (ready == 0) return rs_timeout;
  }
}

int16_t rs_open_node_tuned(int16_t port, const char *node, int32_t baud,
                           const port_tuning *tuning) {
  if (serial_port_is_open(port)) {
    serial_note_open_failure("COM%d is already open", port);
    return -1;
  }
  const speed_t speed = serial_speed(baud);
  if (speed == B0) {
    serial_note_open_failure("%s (COM%d): %d baud is not supported", node, port,
                             static_cast<int>(baud));
    return -1;
  }
  local_port *local = free_local_port();
  if (local == nullptr || serial_ports_full()) {
    serial_note_open_failure("COM%d: too many serial ports open at once", port);
    return -1;
  }
  termios saved;
  const int fd = open_and_set_up(port, node, speed, baud, &saved);
  if (fd < 0) return -1;

  // A way out that closes nothing (exit from anywhere) still puts the ports
  // back.
  static const bool restore_at_exit = std::atexit(rs_restore_all_ports) == 0;
  (void)restore_at_exit;
  *local = local_port{};
  local->fd = fd;
  local->saved = saved;
  if (tuning != nullptr) local->undo_tuning = tuning->undo;
  // The entry is whole before a signal handler may see it.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  local->live = 1;
  if (tuning != nullptr && tuning->apply != nullptr) tuning->apply(fd, node, &local->undo);
  tcflush(fd, TCIFLUSH);

  const serial_transport transport{read_port, write_port, close_port, local};
  if (rs_open_transport(port, transport) != 0) {
    close_port(local);
    return -1;
  }
  serial_set_input_flush(port, flush_port);
  return 0;
}

int16_t rs_open_node(int16_t port, const char *node, int32_t baud) {
  return rs_open_node_tuned(port, node, baud, nullptr);
}

void serial_note_no_such_port(int16_t port) {
  serial_note_open_failure("COM%d: no such serial port", port);
}

void rs_restore_all_ports(void) {
  for (const local_port &local : local_ports) {
    if (local.live) restore_port(local);
  }
}

// A wait on no port: only the wake source can end it early (poll skips the
// negative descriptor).
int rs_sleep(int ms) {
  if (ms <= 0) return 0;
  return serial_poll_ready(-1, 0, ms) == rs_woken ? rs_woken : 0;
}

void rs_pause(int ms) { rs_sleep(ms); }

long long rs_clock_ms(void) { return monotonic_now() / 1000000LL; }
