// SPDX-License-Identifier: MIT
// The serial layer the sensor link talks through: one port, addressed by its
// COM number, opened 9600 8N1 raw and exclusive. A portable front
// (rs232.cpp: the open ports, the line reader, the tap) over one byte stream
// per port (serial_transport.h): the local port of each platform
// (rs232_posix.cpp, rs232_win32.cpp), or another kind opened elsewhere and
// handed in with rs_open_transport.
#pragma once

#include <cstdint>

#include "serial_transport.h"

// Outcomes of the calls besides data. Values below -1 so they never clash
// with a byte (0..255), a length (>= 0) or the open failure (-1).
constexpr int rs_timeout = -2;  // nothing complete arrived before the deadline
constexpr int rs_gone = -3;     // the port hung up, failed or was removed
constexpr int rs_woken = -4;    // the wake source (a key) turned ready before the wait ended

// Opens COM port at baud: 8 data bits, no parity, 1 stop bit, no flow
// control, raw, exclusive; pending input is discarded. 0 when open, -1 on
// any failure (rs_open_failure() says why). Several ports may be open at once.
int16_t rs_open(int16_t port, int32_t baud);

// Lets an already-open byte stream (a TCP connection, a replayed recording)
// take port's place: every rs_* call on port then goes through transport,
// and rs_close closes it. 0, or -1 when port is already open or too many
// ports are (transport is then left to the caller to close).
int16_t rs_open_transport(int16_t port, serial_transport transport);

// From now on every byte read from or written to port passes tap, in the
// order it passes; tap.bytes NULL ends the tapping. Nothing when port is not
// open.
void rs_set_tap(int16_t port, serial_tap tap);

// Closes the port. 0, or -1 when it was not open.
int rs_close(int16_t port);

// Writes text up to its NUL, whole, and waits until it has gone out.
// 0, rs_timeout when the port takes no more bytes for about a second, or
// rs_gone (also for a port that is not open).
int rs_puts(int16_t port, const char *text);

// Reads one line ended by CR, LF or CR LF into buf (size bytes): the
// terminator is consumed, not stored, except that the LF of a CR LF is left
// for rs_getch (and skipped by the next rs_gets); at most size - 1 bytes are
// stored and a NUL always follows; the rest of an over-long line is dropped
// up to its end. About one second for the whole line. Returns the stored
// length, rs_timeout or rs_gone (what arrived of an unfinished line is left
// in buf); -1 when buf is NULL or size is not positive.
int rs_gets(int16_t port, char *buf, int size);

// rs_gets with wait_ms for the whole line instead of about one second.
int rs_gets_within(int16_t port, char *buf, int size, int wait_ms);

// Reads the bytes that have arrived, up to size, waiting at most wait_ms
// (0: not at all) for the first: the count (> 0), rs_timeout, rs_woken or
// rs_gone. Bytes already buffered by rs_gets come first. For a caller that
// frames lines itself.
int rs_read(int16_t port, unsigned char *bytes, int size, int wait_ms);

// What every wait of the serial layer also watches, so that a key ends it at
// once: fd (POSIX; -1 for none) turning readable, or ready() returning true
// (checked between waits of at most 50 ms where no descriptor can be
// watched; NULL for none). A wait that sees it returns rs_woken.
void rs_set_wake(int fd, bool (*ready)(void));

// While held, the waits do not watch the wake source: a caller that has seen
// the key lets an exchange already under way finish, within its own bound.
void rs_hold_wake(bool held);

// Reads one byte within about one second: 0..255, rs_timeout or rs_gone.
int rs_getch(int16_t port);

// rs_getch within wait_ms; 0 takes only a byte that has already arrived.
int rs_getch_within(int16_t port, int wait_ms);

// Drops the bytes that have arrived and not been read, so that a late reply
// cannot be taken for the answer to the next command. 0, or rs_gone.
int rs_discard_input(int16_t port);

// Why the last rs_open failed, as one line of text for a diagnostic (the
// device and the system's reason); empty when the last one succeeded or none
// was tried.
const char *rs_open_failure(void);

// Pauses the caller for ms milliseconds, or less when the wake source turns
// ready first.
void rs_pause(int ms);

// Pauses ms milliseconds: 0; or rs_woken as soon as the wake source is ready.
int rs_sleep(int ms);

// Puts back what the open changed on every open port (line settings, a
// driver's low-latency flag and latency timer) without closing any: for a
// handler of a signal that ends the program. Async-signal-safe.
void rs_restore_all_ports(void);

// Milliseconds on a monotonic clock, for deadlines.
long long rs_clock_ms(void);
