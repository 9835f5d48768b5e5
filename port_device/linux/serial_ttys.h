// SPDX-License-Identifier: MIT
// The serial ttys of a udev context in COM-number order. Shared by the COM
// numbering lookup and the scan, so that both number ports alike.
#pragma once

#include <cstddef>

struct udev;
struct udev_device;

// More serial ttys than this are left out of the numbering.
constexpr int max_serial_ttys = 256;

struct serial_tty {
  udev_device *device;  // owned reference
  bool present;         // false for an 8250 placeholder with no UART behind it
};

// ttys[i] holds COM number i + 1. Owns its device references.
struct serial_tty_list {
  serial_tty ttys[max_serial_ttys];
  int count = 0;

  serial_tty_list() = default;
  serial_tty_list(const serial_tty_list &) = delete;
  serial_tty_list &operator=(const serial_tty_list &) = delete;
  ~serial_tty_list();
};

// Fills list with the tty devices that have a hardware parent, ordered
// ttyS<i> by i, ttyUSB<i> by i, ttyACM<i> by i, then all others by name and
// index; placeholders keep their place. False when udev cannot enumerate.
bool list_serial_ttys(udev *context, serial_tty_list &list);

// Position in list of the n-th present tty (n from 0), or -1.
int present_tty_position(const serial_tty_list &list, int n);

// Writes the device node of tty (such as /dev/ttyUSB0) into node (size
// bytes). False when it does not fit.
bool tty_device_node(udev_device *tty, char *node, std::size_t size);
