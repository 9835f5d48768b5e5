// SPDX-License-Identifier: MIT
// What the portable front of the serial layer (rs232.cpp) offers the
// transports and the platform's rs_open: the open-failure text, whether a
// port number is free, and the wake source every wait also watches.
#pragma once

#include <cstdint>
#include <cstdio>

// The text rs_open_failure() returns, serial_open_failure_size bytes.
constexpr int serial_open_failure_size = 512;
char *serial_open_failure_text(void);

// Sets that text, printf-style; one line.
template <typename... Args>
void serial_note_open_failure(const char *format, Args... args) {
  std::snprintf(serial_open_failure_text(), serial_open_failure_size, format, args...);
}

// Empties the text rs_open_failure() returns.
void serial_clear_open_failure(void);

// Whether port is open (through any transport).
bool serial_port_is_open(int16_t port);

// Gives port (just opened through rs_open_transport) a way to drop the
// input its transport has received and not handed out, used by
// rs_discard_input instead of reading and dropping what is there.
void serial_set_input_flush(int16_t port, int (*flush)(void *context));

// Whether every slot for an open port is taken.
bool serial_ports_full(void);

// The descriptor rs_set_wake named (-1: none). A POSIX wait polls it with
// POLLIN together with what it waits for and returns rs_woken when it turns
// readable first.
int serial_wake_fd(void);

// Whether the ready() rs_set_wake named says yes (false when none). Where no
// descriptor can be watched, waits are cut into slices of at most
// serial_wake_slice_ms and this is asked between them.
bool serial_wake_ready(void);
constexpr int serial_wake_slice_ms = 50;
