// SPDX-License-Identifier: MIT
// Pieces of the POSIX serial layer that tests and the Linux part reach
// directly: the termios settings as a pure function, and opening a given
// device node (a pty in the tests) under a COM number without the directory
// lookup.
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

// rs_open for a known device node: opens node as COM port. -1 on failure,
// with the cause kept for rs_open_failure().
int16_t rs_open_node(int16_t port, const char *node, int32_t baud);

// Notes for rs_open_failure() that no device node has COM number port.
void serial_note_no_such_port(int16_t port);

// What the platform does to a port just opened on node (fd): on Linux, asks
// an FTDI adapter for a short latency timer (rs232_linux.cpp).
void serial_tune_port(int fd, const char *node);
