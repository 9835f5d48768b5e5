// SPDX-License-Identifier: MIT
#include "line_reader.h"

#include "rs232.h"

namespace {

// Milliseconds left until deadline, never below 0.
int ms_left(long long deadline) {
  const long long left = deadline - rs_clock_ms();
  if (left <= 0) return 0;
  return left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
}

// Refills the buffer when it is empty: 0 when a byte waits, rs_timeout when
// none came before deadline, rs_gone. The first read of a call is made even
// at the deadline, to take what has arrived; later ones are not, so bytes
// that keep coming cannot hold a call past its deadline.
int fill(line_reader *reader, const serial_byte_source *source, long long deadline, int *reads) {
  if (reader->head < reader->tail) return 0;
  if (*reads > 0 && rs_clock_ms() >= deadline) return rs_timeout;
  ++*reads;
  const int count =
      source->read(source->context, reader->buffer, line_reader_buffer_size, ms_left(deadline));
  if (count <= 0) return count < 0 ? count : rs_timeout;
  reader->head = 0;
  reader->tail = count > line_reader_buffer_size ? line_reader_buffer_size : count;
  return 0;
}

// The next byte before deadline: 0..255, rs_timeout or rs_gone.
int next_byte(line_reader *reader, const serial_byte_source *source, long long deadline,
              int *reads) {
  const int filled = fill(reader, source, deadline, reads);
  if (filled != 0) return filled;
  return reader->buffer[reader->head++];
}

// Whether byte ends a line; an LF paired with the CR before it ends nothing.
// Keeps the pairing state up to date.
bool ends_line(line_reader *reader, int byte, bool *paired_lf) {
  *paired_lf = byte == '\n' && reader->after_cr;
  reader->after_cr = byte == '\r';
  if (*paired_lf) return false;
  if (byte == '\r' || byte == '\n') {
    reader->line_end = byte;
    return true;
  }
  return false;
}

}  // namespace

void line_reader_clear(line_reader *reader) {
  reader->head = reader->tail = 0;
  reader->after_cr = false;
}

int line_reader_gets(line_reader *reader, const serial_byte_source *source, char *buf, int size,
                     int wait_ms) {
  if (buf == nullptr || size <= 0) return -1;
  buf[0] = '\0';
  const long long deadline = rs_clock_ms() + wait_ms;
  int length = 0;
  int reads = 0;
  for (;;) {
    const int byte = next_byte(reader, source, deadline, &reads);
    if (byte < 0) {
      buf[length] = '\0';
      return byte;
    }
    bool paired_lf = false;
    if (ends_line(reader, byte, &paired_lf)) break;
    if (paired_lf) continue;
    // Past size - 1 bytes the rest of the line is read and dropped.
    if (length < size - 1) buf[length++] = static_cast<char>(byte);
  }
  buf[length] = '\0';
  return length;
}

int line_reader_read(line_reader *reader, const serial_byte_source *source, unsigned char *bytes,
                     int size, int wait_ms) {
  if (bytes == nullptr || size <= 0) return -1;
  if (reader->head == reader->tail) {
    reader->after_cr = false;
    return source->read(source->context, bytes, size, wait_ms);
  }
  int count = 0;
  while (count < size && reader->head < reader->tail)
    bytes[count++] = reader->buffer[reader->head++];
  reader->after_cr = false;
  return count;
}

int line_reader_getch(line_reader *reader, const serial_byte_source *source, int wait_ms) {
  int reads = 0;
  const int byte = next_byte(reader, source, rs_clock_ms() + wait_ms, &reads);
  if (byte >= 0) reader->after_cr = false;
  return byte;
}
