// SPDX-License-Identifier: MIT
// The Linux part of the serial layer: COM numbers name device nodes through
// the directory's COM numbering, and an FTDI adapter's latency timer is
// turned down through its driver or sysfs.
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

}  // namespace

// An FTDI adapter holds received bytes up to 16 ms before it sends them over
// USB, which costs samples at 9600 baud. Ask for 1 ms: the low-latency flag
// if the driver takes it, else the latency_timer attribute. Where neither is
// allowed the port works as it is.
void serial_tune_port(int fd, const char *node) {
  const char *slash = std::strrchr(node, '/');
  const char *name = slash ? slash + 1 : node;
  if (!tty_has_driver(name, "ftdi_sio")) return;
  serial_struct serial;
  if (ioctl(fd, TIOCGSERIAL, &serial) == 0) {
    if (serial.flags & ASYNC_LOW_LATENCY) return;
    serial.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(fd, TIOCSSERIAL, &serial) == 0) return;
  }
  char path[PATH_MAX];
  std::snprintf(path, sizeof path, "/sys/class/tty/%s/device/latency_timer", name);
  const int attribute = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (attribute < 0) return;
  if (write(attribute, "1", 1) < 0) {
    // Not allowed (no permission): the default timer still works, slower.
  }
  close(attribute);
}

int16_t rs_open(int16_t port, int32_t baud) {
  char node[PATH_MAX];
  if (!com_port_device_node(port, node, sizeof node)) {
    serial_note_no_such_port(port);
    return -1;
  }
  return rs_open_node(port, node, baud);
}
