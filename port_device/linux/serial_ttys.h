// SPDX-License-Identifier: MIT
// The serial ttys of the machine in COM-number order, read straight from
// /sys/class/tty. Shared by the COM-number lookup, the scan and the census,
// so that all of them number ports alike.
#pragma once

#include <cstddef>

// More serial ttys than this are left out of the numbering.
constexpr int max_serial_ttys = 256;
constexpr int tty_name_size = 64;
constexpr int tty_path_size = 512;

struct serial_tty {
  char name[tty_name_size];     // kernel name, such as ttyUSB0
  char syspath[tty_path_size];  // /sys/devices/.../tty/ttyUSB0
  bool present;                 // false for an 8250 placeholder with no UART behind it
};

// The ttys as found, and their COM order: ttys[order[i]] holds COM i + 1.
// A plain aggregate, so that a process-wide list is zero-filled at load
// time with no constructor to run.
struct serial_tty_list {
  serial_tty ttys[max_serial_ttys];
  short order[max_serial_ttys];
  int count;

  const serial_tty &com(int index) const { return ttys[order[index]]; }
};

// Fills list with the ttys that have hardware behind them (and the
// Bluetooth links that rfcomm binds under /devices/virtual), ordered ttyS<i>
// by i, ttyUSB<i> by i, ttyACM<i> by i, then all others by name and index;
// placeholders keep their place. False when /sys/class/tty cannot be read.
// Virtual consoles (tty, tty<N>) are passed over by name, before any lookup.
bool list_serial_ttys(serial_tty_list &list);

// Position in list's COM order of the n-th present tty (n from 0), or -1.
int present_tty_position(const serial_tty_list &list, int n);

// Writes the device node of tty (such as /dev/ttyUSB0) into node (size
// bytes). False when it does not fit.
bool tty_device_node(const serial_tty &tty, char *node, std::size_t size);

// rfcomm<N>: a Bluetooth serial link, connected or only bound.
bool is_rfcomm_name(const char *name);

// The list shared by the directory's calls: one scan or lookup at a time
// (the directory is single-threaded), and too large for a caller's stack.
serial_tty_list &shared_serial_tty_list();
