// SPDX-License-Identifier: MIT
// The serial layer on POSIX: each open port keeps its descriptor and the
// shared line reader (line_reader.h), fed by a poll-and-read byte source.
// The descriptor stays non-blocking and every wait is a poll bounded by a
// deadline on the monotonic clock. What is Linux's own (COM numbers, the
// FTDI latency timer) lives in rs232_linux.cpp.
#include "rs232_posix.h"
#include "rs232.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "line_reader.h"
#include "port_claim_posix.h"

namespace {

constexpr int max_open_ports = 8;
constexpr int line_deadline_ms = 1000;
constexpr int byte_deadline_ms = 1000;
// Writing a command: one second on top of its time on the wire.
constexpr int write_deadline_ms = 1000;

struct port_slot {
  bool used;
  int16_t port;
  int fd;
  bool saved_ok;
  termios saved;  // the settings found at open, put back at close
  line_reader reader;
};

port_slot slots[max_open_ports];
char open_failure[512];

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

port_slot *find_slot(int16_t port) {
  for (port_slot &slot : slots) {
    if (slot.used && slot.port == port) return &slot;
  }
  return nullptr;
}

port_slot *free_slot() {
  for (port_slot &slot : slots) {
    if (!slot.used) return &slot;
  }
  return nullptr;
}

// Errors after which the port will never work again.
bool is_gone_errno(int error) {
  return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE || error == EBADF;
}

// The reason an open() of node failed, with a hint for the usual causes.
void set_open_errno_failure(int16_t port, const char *node, int error) {
  char hint[160] = "";
  if (error == EACCES) {
    access_hint(node, hint, sizeof hint);
  } else if (error == EBUSY) {
    std::snprintf(hint, sizeof hint, "; it is in use by another program");
  }
  std::snprintf(open_failure, sizeof open_failure, "cannot open %s (COM%d): %s%s", node, port,
                std::strerror(error), hint);
}

// Waits until fd is ready for events or the deadline passes: the poll
// events seen (> 0), rs_timeout or rs_gone.
int wait_ready(int fd, short events, nanoseconds deadline) {
  for (;;) {
    const int wait_ms = ms_until(deadline);
    if (wait_ms == 0) return rs_timeout;
    pollfd entry{fd, events, 0};
    const int ready = poll(&entry, 1, wait_ms);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return rs_gone;
    }
    if (ready == 0) return rs_timeout;
    if (entry.revents & POLLNVAL) return rs_gone;
    // With POLLHUP or POLLERR the read or write that follows tells whether
    // bytes are still there or the port is gone.
    return entry.revents;
  }
}

bool hung_up(int revents) { return (revents & (POLLHUP | POLLERR)) != 0; }

// The byte source of a port: one poll for the wait, one read for what has
// arrived.
int read_port(void *context, unsigned char *bytes, int size, int wait_ms) {
  const int fd = *static_cast<const int *>(context);
  const nanoseconds deadline = deadline_after_ms(wait_ms);
  for (;;) {
    int ready = POLLIN;
    if (wait_ms > 0) {
      ready = wait_ready(fd, POLLIN, deadline);
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

serial_byte_source source_of(port_slot &slot) { return {read_port, &slot.fd}; }

void close_slot(port_slot &slot) {
  if (slot.saved_ok) tcsetattr(slot.fd, TCSANOW, &slot.saved);
  ioctl(slot.fd, TIOCNXCL);
  close(slot.fd);
  slot = port_slot{};
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

int16_t rs_open_node(int16_t port, const char *node, int32_t baud) {
  if (find_slot(port) != nullptr) {
    std::snprintf(open_failure, sizeof open_failure, "COM%d is already open", port);
    return -1;
  }
  const speed_t speed = serial_speed(baud);
  if (speed == B0) {
    std::snprintf(open_failure, sizeof open_failure, "%s (COM%d): %d baud is not supported", node,
                  port, static_cast<int>(baud));
    return -1;
  }
  port_slot *slot = free_slot();
  if (slot == nullptr) {
    std::snprintf(open_failure, sizeof open_failure, "COM%d: too many serial ports open at once",
                  port);
    return -1;
  }

  const int fd = open(node, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    set_open_errno_failure(port, node, errno);
    return -1;
  }
  // Exclusive: a second open of the tty fails with EBUSY. A tty that does not
  // take the request (an emulated one) is used as it is.
  if (ioctl(fd, TIOCEXCL) != 0 && errno != ENOTTY) {
    std::snprintf(open_failure, sizeof open_failure, "cannot open %s (COM%d) exclusively: %s", node,
                  port, std::strerror(errno));
    close(fd);
    return -1;
  }
  termios saved;
  if (tcgetattr(fd, &saved) != 0) {
    std::snprintf(open_failure, sizeof open_failure, "%s (COM%d) is not a serial port: %s", node,
                  port, std::strerror(errno));
    close(fd);
    return -1;
  }
  // A second reader would eat the module's replies: a port that another
  // program holds (locked, or merely open) is reported, not shared.
  char holder[64] = "";
  const bool locked_elsewhere = !claim_port_lock(fd);
  const pid_t user = locked_elsewhere ? 0 : other_port_user(fd, holder, sizeof holder);
  if (locked_elsewhere || user != 0) {
    if (user != 0) {
      std::snprintf(open_failure, sizeof open_failure,
                    "%s (COM%d) is in use by another program (%s, process %ld)", node, port,
                    holder[0] != '\0' ? holder : "?", static_cast<long>(user));
    } else {
      std::snprintf(open_failure, sizeof open_failure, "%s (COM%d) is in use by another program",
                    node, port);
    }
    close(fd);
    return -1;
  }
  const termios settings = serial_settings(saved, speed);
  if (tcsetattr(fd, TCSANOW, &settings) != 0) {
    std::snprintf(open_failure, sizeof open_failure, "cannot set %s (COM%d) to %d baud 8N1: %s",
                  node, port, static_cast<int>(baud), std::strerror(errno));
    close(fd);
    return -1;
  }
  serial_tune_port(fd, node);
  tcflush(fd, TCIFLUSH);

  *slot = port_slot{};
  slot->used = true;
  slot->port = port;
  slot->fd = fd;
  slot->saved_ok = true;
  slot->saved = saved;
  open_failure[0] = '\0';
  return 0;
}

int rs_close(int16_t port) {
  port_slot *slot = find_slot(port);
  if (slot == nullptr) return -1;
  close_slot(*slot);
  return 0;
}

int rs_puts(int16_t port, const char *text) {
  port_slot *slot = find_slot(port);
  if (slot == nullptr || text == nullptr) return rs_gone;
  std::size_t left = std::strlen(text);
  // About 1.04 ms per byte at 9600 baud 8N1; 2 ms covers slower rates too.
  const nanoseconds deadline =
      deadline_after_ms(write_deadline_ms + 2LL * static_cast<long long>(left));
  while (left > 0) {
    const ssize_t written = write(slot->fd, text, left);
    if (written > 0) {
      text += written;
      left -= static_cast<std::size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && errno == EAGAIN) {
      const int ready = wait_ready(slot->fd, POLLOUT, deadline);
      if (ready < 0) return ready;
      if (hung_up(ready)) return rs_gone;
      continue;
    }
    return rs_gone;
  }
  while (tcdrain(slot->fd) != 0) {
    if (errno == EINTR) continue;
    if (is_gone_errno(errno)) return rs_gone;
    break;  // a tty that cannot report its output queue: the bytes are written
  }
  return 0;
}

int rs_gets(int16_t port, char *buf, int size) {
  return rs_gets_within(port, buf, size, line_deadline_ms);
}

int rs_gets_within(int16_t port, char *buf, int size, int wait_ms) {
  if (buf == nullptr || size <= 0) return -1;
  buf[0] = '\0';
  port_slot *slot = find_slot(port);
  if (slot == nullptr) return rs_gone;
  const serial_byte_source source = source_of(*slot);
  return line_reader_gets(&slot->reader, &source, buf, size, wait_ms);
}

int rs_read(int16_t port, unsigned char *bytes, int size, int wait_ms) {
  port_slot *slot = find_slot(port);
  if (slot == nullptr) return rs_gone;
  const serial_byte_source source = source_of(*slot);
  return line_reader_read(&slot->reader, &source, bytes, size, wait_ms);
}

int rs_line_end(int16_t port) {
  const port_slot *slot = find_slot(port);
  return slot != nullptr ? slot->reader.line_end : 0;
}

int rs_getch(int16_t port) { return rs_getch_within(port, byte_deadline_ms); }

int rs_getch_within(int16_t port, int wait_ms) {
  port_slot *slot = find_slot(port);
  if (slot == nullptr) return rs_gone;
  const serial_byte_source source = source_of(*slot);
  return line_reader_getch(&slot->reader, &source, wait_ms);
}

int rs_drain(int16_t port, int *line_ends, int quiet_ms, int wait_ms) {
  port_slot *slot = find_slot(port);
  if (slot == nullptr || line_ends == nullptr) return rs_gone;
  const serial_byte_source source = source_of(*slot);
  return line_reader_drain(&slot->reader, &source, line_ends, quiet_ms, wait_ms);
}

int rs_discard_input(int16_t port) {
  port_slot *slot = find_slot(port);
  if (slot == nullptr) return rs_gone;
  line_reader_clear(&slot->reader);
  if (tcflush(slot->fd, TCIFLUSH) != 0 && is_gone_errno(errno)) return rs_gone;
  return 0;
}

void serial_note_no_such_port(int16_t port) {
  std::snprintf(open_failure, sizeof open_failure, "COM%d: no such serial port", port);
}

namespace {
// Kept for the waits; honoured by them as the serial layer grows into it.
int wake_fd = -1;
bool (*wake_ready)(void) = nullptr;
}  // namespace

void rs_set_wake(int fd, bool (*ready)(void)) {
  wake_fd = fd;
  wake_ready = ready;
}

const char *rs_open_failure(void) { return open_failure; }

void rs_pause(int ms) {
  if (ms <= 0) return;
  timespec left{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

long long rs_clock_ms(void) { return monotonic_now() / 1000000LL; }
