// SPDX-License-Identifier: MIT
// A recording of a run: every byte exchanged with the module, both ways, as
// line-oriented text that people can read and tools can parse.
//
//   orlanse_sensor recording 1
//   # lines starting with '#' are comments
//   0 w 0F\r\n
//   12 r 0F\r\n
//
// After the first line (exactly the header above), each line is one chunk
// of bytes: the milliseconds since the port was opened (digits, never
// decreasing from line to line), one space, the direction ('w' to the
// module, 'r' from it), one space, and the bytes, at least one: a printable
// ASCII character (! to ~) stands for itself, except the backslash; \r, \n
// and \\ stand for CR, LF and the backslash; \xHH (two hex digits) for any
// byte. Lines end with LF or CR LF; empty lines are skipped.
//
// Portable: plain C++ and the C library's files.
#pragma once

#include <cstddef>
#include <cstdio>

constexpr char recording_header[] = "orlanse_sensor recording 1";
constexpr int recording_chunk_bytes = 64;                // at most this many bytes per line written
constexpr int recording_max_line = 1024;                 // longer lines are not a recording's
constexpr long long recording_max_ms = 1000000000000LL;  // about 31 years

// One line's chunk.
struct recording_event {
  long long ms;    // since the port was opened
  char direction;  // 'w' or 'r'
  int size;        // at least 1
  unsigned char bytes[recording_max_line];
};

// The text of one chunk of 1 to recording_chunk_bytes bytes, without its
// line end, into out (out_size bytes; recording_max_line is always enough).
// Returns its length, or -1 when it does not fit or the chunk is invalid.
int recording_format_line(long long ms, char direction, const unsigned char *bytes, int size,
                          char *out, std::size_t out_size);

// What one line (without its line end) holds.
enum class recording_line_kind { event, skip, bad };
recording_line_kind recording_parse_line(const char *text, std::size_t length,
                                         recording_event *event);

// Reads a whole recording held in memory: the header, then each line in
// turn; on_event gets every chunk in order. True when all of it is a
// recording; false at the first line that is not (*bad_line gets its number,
// from 1 for the header), having passed on the chunks before it.
bool recording_parse(const char *text, std::size_t size,
                     void (*on_event)(void *context, const recording_event &event), void *context,
                     long *bad_line);

// Writes a recording as it happens: each chunk is flushed as it is written,
// so that what came before a crash or a signal is kept.
struct recording_writer {
  std::FILE *file;
  const char *path;
  bool failed;  // a write failed; later chunks are dropped
  bool wrote;   // at least one chunk was written
};

// Creates path, which must not exist, and writes the header. 0; or -1 with
// the reason in why (why_size bytes): the file exists (never replaced) or
// cannot be created.
int recording_create(recording_writer *writer, const char *path, char *why, std::size_t why_size);

// Writes bytes as chunks of at most recording_chunk_bytes. False once a
// write has failed.
bool recording_write(recording_writer *writer, long long ms, char direction,
                     const unsigned char *bytes, int size);

// Closes the file; a recording that got no chunk (the run never talked to
// a module) is removed when remove_if_empty.
void recording_close(recording_writer *writer, bool remove_if_empty);
