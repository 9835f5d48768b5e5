// SPDX-License-Identifier: MIT
// The line reader both serial layers share: buffering, line ends, dropping
// the rest of an over-long line, and deadlines, over a small per-platform
// source of bytes. Portable: it includes no platform header and keeps time
// with rs_clock_ms(). Every call passes on rs_woken from the source as it
// does rs_gone.
#pragma once

// Where the bytes come from: the platform's port.
struct serial_byte_source {
  // Waits at most wait_ms (0: not at all) until bytes have arrived and reads
  // those there are, up to size: the count (> 0), rs_timeout when none came
  // in time, rs_woken when the wake source turned ready first, or rs_gone.
  int (*read)(void *context, unsigned char *bytes, int size, int wait_ms);
  void *context;
};

constexpr int line_reader_buffer_size = 256;

// The bytes read from a source and not yet handed out, and how the last line
// ended. Zero-filled is empty.
struct line_reader {
  unsigned char buffer[line_reader_buffer_size];
  int head;       // next byte to hand out
  int tail;       // end of the bytes read
  int line_end;   // '\r' or '\n': the byte that ended the last line; 0: none yet
  bool after_cr;  // the last line ended with CR: an LF next is its pair
};

// Forgets every byte read and not handed out.
void line_reader_clear(line_reader *reader);

// One line ended by CR, LF or the pair CR LF, within wait_ms for the whole
// line. An LF right after a line that ended with CR is that line's end, not
// an empty line of its own. At most size - 1 bytes are stored, NUL follows;
// the rest of an over-long line is dropped up to its end. Returns the stored
// length, rs_timeout or rs_gone (what arrived of an unfinished line is left in
// buf, and its rest will read as a line of its own); -1 when buf is NULL or
// size is not positive.
int line_reader_gets(line_reader *reader, const serial_byte_source *source, char *buf, int size,
                     int wait_ms);

// The buffered bytes, else those that arrive within wait_ms (0: only those
// already there), up to size: the count (> 0), rs_timeout or rs_gone.
int line_reader_read(line_reader *reader, const serial_byte_source *source, unsigned char *bytes,
                     int size, int wait_ms);

// One byte within wait_ms (0: only one that has arrived): 0..255, rs_timeout
// or rs_gone.
int line_reader_getch(line_reader *reader, const serial_byte_source *source, int wait_ms);
