// SPDX-License-Identifier: MIT
// Pieces of the POSIX serial layer that tests, other transports and the
// Linux part reach directly: the termios settings as a pure function, a wait
// that also watches the wake source, and opening a given device node (a pty
// in the tests) under a COM number, with a platform's tuning step and its
// undo. The dependency runs one way: the Linux part calls in here, never the
// other way round.
#pragma once

#include <termios.h>

#include <cstdint>

// The settings the port gets: base with raw 8N1 at speed, no flow control
// (hardware or software), modem lines ignored (CLOCAL), receiver on (CREAD),
// VMIN 1 / VTIME 0, so a read that finds nothing fails with EAGAIN instead
// of returning 0, which would look like a hang-up. The port stays
// non-blocking and every wait is a poll with its own deadline.
termios serial_settings(termios base, speed_t speed);

// The speed_t for a baud rate, or B0 when the rate is not supported.
speed_t serial_speed(int32_t baud);

// Waits at most wait_ms (0: only looks) until fd is ready for events, polling
// the wake descriptor (rs_set_wake) too: the poll events seen on fd (> 0),
// rs_timeout, rs_woken (the wake source turned readable and fd is not
// ready) or rs_gone (fd is not valid or poll failed).
int serial_poll_ready(int fd, short events, int wait_ms);

// What a tuning step changed on a port that outlives its descriptor, so
// that it can be put back: a driver flag and a device attribute (a file such
// as sysfs's latency_timer) with the text it had. Plain data: the undo runs
// in a signal handler too.
struct port_undo {
  bool flag_set;            // the step set a driver flag that was clear
  char attribute[256];      // the attribute file the step rewrote; "" none
  char attribute_text[16];  // its text as found
};

// A platform's own step for a port just opened and set up (after the line
// settings), and its undo, which must be async-signal-safe.
struct port_tuning {
  void (*apply)(int fd, const char *node, port_undo *undo);
  void (*undo)(int fd, const port_undo *undo);
};

// rs_open for a known device node: opens node as COM port, tuned by tuning
// (nullptr: no step). -1 on failure, with the cause kept for
// rs_open_failure().
int16_t rs_open_node_tuned(int16_t port, const char *node, int32_t baud, const port_tuning *tuning);

// rs_open_node_tuned without a tuning step.
int16_t rs_open_node(int16_t port, const char *node, int32_t baud);

// Notes for rs_open_failure() that no device node has COM number port.
void serial_note_no_such_port(int16_t port);
