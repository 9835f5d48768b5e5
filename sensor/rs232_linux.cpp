// SPDX-License-Identifier: MIT
// The Linux part of the serial layer: COM numbers name device nodes through
// the directory's COM numbering, and an FTDI adapter's latency is turned
// down through its driver or sysfs while the port is open, and put back as
// it was found. Opens through the POSIX part (rs232_posix.h), which never
// calls back here.
#include "rs232_linux.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>

#include "com_numbering.h"
#include "rs232.h"
#include "rs232_posix.h"

namespace {

constexpr int low_latency = static_cast<int>(ASYNC_LOW_LATENCY);

int driver_get_flags(int fd, int *flags) {
  serial_struct serial;
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return -1;
  *flags = serial.flags;
  return 0;
}

int driver_set_flags(int fd, int flags) {
  serial_struct serial;
  if (ioctl(fd, TIOCGSERIAL, &serial) != 0) return -1;
  serial.flags = flags;
  return ioctl(fd, TIOCSSERIAL, &serial);
}

serial_flag_calls flag_calls{driver_get_flags, driver_set_flags};

// Whether the kernel driver behind tty name (such as ttyUSB0) is driver,
// read from the sysfs driver link.
bool tty_has_driver(const char *name, const char *driver) {
  char path[PATH_MAX];
  std::snprintf(path, sizeof path, "/sys/class/tty/%s/device/driver", name);
  char target[PATH_MAX];
  const ssize_t length = readlink(path, target, sizeof target - 1);
  if (length <= 0) return false;
  target[length] = '\0';
  const char *slash = std::strrchr(target, '/');
  return std::strcmp(slash ? slash + 1 : target, driver) == 0;
}

// Reads the text of the attribute at path (without its line end) into text;
// false when it cannot be read or does not fit.
bool read_attribute(const char *path, char *text, std::size_t size) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t length = read(fd, text, size - 1);
  close(fd);
  if (length <= 0 || static_cast<std::size_t>(length) >= size - 1) return false;
  text[length] = '\0';
  text[std::strcspn(text, "\n")] = '\0';
  return text[0] != '\0';
}

// Writes text to the attribute at path; async-signal-safe.
bool write_attribute(const char *path, const char *text) {
  const int fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t length = static_cast<ssize_t>(std::strlen(text));
  const bool written = write(fd, text, static_cast<std::size_t>(length)) == length;
  close(fd);
  return written;
}

// An FTDI adapter holds received bytes up to 16 ms before it sends them over
// USB, which costs samples at 9600 baud. Ask for 1 ms: the low-latency flag
// if the driver takes it, else the latency_timer attribute. Where neither is
// allowed the port works as it is. What was found is kept in undo.
void tune_ftdi_latency(int fd, const char *node, port_undo *undo) {
  const char *slash = std::strrchr(node, '/');
  const char *name = slash ? slash + 1 : node;
  if (!tty_has_driver(name, "ftdi_sio")) return;
  char path[sizeof undo->attribute];
  std::snprintf(path, sizeof path, "/sys/class/tty/%s/device/latency_timer", name);
  char found[sizeof undo->attribute_text];
  const bool timer_known = read_attribute(path, found, sizeof found);
  // Clearing the flag again sets the driver's default timer, not the one
  // found: the timer is put back too whenever it can be read.
  if (timer_known) {
    std::memcpy(undo->attribute, path, sizeof path);
    std::memcpy(undo->attribute_text, found, sizeof found);
  }
  int flags = 0;
  if (flag_calls.get(fd, &flags) == 0) {
    if (flags & low_latency) return;
    if (flag_calls.set(fd, flags | low_latency) == 0) {
      undo->flag_set = true;
      return;
    }
  }
  if (timer_known && std::strcmp(found, "1") == 0) return;
  if (!write_attribute(path, "1")) {
    // Not allowed (no permission): the default timer still works, slower.
    undo->attribute[0] = '\0';
  }
}

// Clears the flag the tuning set and writes back the timer found.
void undo_ftdi_latency(int fd, const port_undo *undo) {
  int flags = 0;
  if (undo->flag_set && flag_calls.get(fd, &flags) == 0) {
    flag_calls.set(fd, flags & ~low_latency);
  }
  if (undo->attribute[0] != '\0') write_attribute(undo->attribute, undo->attribute_text);
}

const port_tuning ftdi_tuning{tune_ftdi_latency, undo_ftdi_latency};

}  // namespace

void serial_use_flag_calls(serial_flag_calls calls) {
  if (calls.get == nullptr || calls.set == nullptr) calls = {driver_get_flags, driver_set_flags};
  flag_calls = calls;
}

int16_t rs_open(int16_t port, int32_t baud) {
  char node[PATH_MAX];
  if (!com_port_device_node(port, node, sizeof node)) {
    serial_note_no_such_port(port);
    return -1;
  }
  return rs_open_node_tuned(port, node, baud, &ftdi_tuning);
}
