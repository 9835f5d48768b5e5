// SPDX-License-Identifier: MIT
#include "line_framing.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int cr = '\r';
constexpr int lf = '\n';
constexpr int misses_to_forget = 3;

bool is_end(int byte) { return byte == cr || byte == lf; }

bool is_hex_digit(int byte) {
  return (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'F') ||
         (byte >= 'a' && byte <= 'f');
}

// The first byte after a line end (after its pair, if one came): learns the
// trailer from it, and says whether it is that trailer.
bool takes_as_trailer(line_framing *f, int byte) {
  if (f->trailer >= 0) {
    if (byte == f->trailer) {
      f->misses = 0;
      return true;
    }
    if (++f->misses >= misses_to_forget) f->trailer = -1;
  }
  if (is_end(byte) || is_hex_digit(byte)) {
    f->candidate = -1;
    return false;
  }
  if (byte != f->candidate) {
    f->candidate = byte;
    return false;
  }
  // The same byte after two line ends in a row: the module's trailer.
  f->trailer = byte;
  f->candidate = -1;
  f->misses = 0;
  return true;
}

void start_line(line_framing *f) {
  f->line.length = 0;
  f->line.overflow = false;
  f->line.text[0] = '\0';
}

// One byte of the stream; true when it completed a line (in f->line).
bool take_byte(line_framing *f, int byte) {
  if (f->pending_pair != 0) {
    const int pair = f->pending_pair == cr ? lf : cr;
    f->pending_pair = 0;
    if (byte == pair) {
      f->pair_seen = true;
      return false;
    }
    f->pair_seen = false;
  }
  if (f->after_end) {
    f->after_end = false;
    if (takes_as_trailer(f, byte)) return false;
  }
  if (is_end(byte)) {
    f->first_end = byte;
    f->pending_pair = byte;
    f->after_end = true;
    return true;
  }
  if (f->line.length < line_framing_text_size - 1) {
    f->line.text[f->line.length++] = static_cast<char>(byte);
    f->line.text[f->line.length] = '\0';
  } else {
    f->line.overflow = true;
  }
  return false;
}

}  // namespace

void line_framing_reset(line_framing *framing) {
  std::memset(framing, 0, sizeof *framing);
  framing->trailer = -1;
  framing->candidate = -1;
}

void line_framing_drop_input(line_framing *framing) {
  framing->head = framing->tail = 0;
  framing->pending_pair = 0;
  framing->after_end = false;
  start_line(framing);
}

int line_framing_room(const line_framing *framing) {
  return line_framing_buffer_size - (framing->tail - framing->head);
}

void line_framing_add(line_framing *framing, const unsigned char *bytes, int count) {
  if (framing->head > 0) {
    std::memmove(framing->bytes, framing->bytes + framing->head,
                 static_cast<std::size_t>(framing->tail - framing->head));
    framing->tail -= framing->head;
    framing->head = 0;
  }
  const int room = line_framing_buffer_size - framing->tail;
  if (count > room) count = room;
  if (count <= 0) return;
  std::memcpy(framing->bytes + framing->tail, bytes, static_cast<std::size_t>(count));
  framing->tail += count;
}

bool line_framing_next(line_framing *framing, framed_line *out) {
  while (framing->head < framing->tail) {
    if (take_byte(framing, framing->bytes[framing->head++])) {
      *out = framing->line;
      start_line(framing);
      return true;
    }
  }
  framing->head = framing->tail = 0;
  return false;
}

int line_framing_end_due(const line_framing *framing) {
  const int pair = framing->pending_pair != 0 && framing->pair_seen ? 1 : 0;
  const int trailer = framing->after_end && framing->trailer >= 0 ? 1 : 0;
  return pair + trailer;
}

void line_framing_describe(const line_framing *framing, char *text, int size) {
  if (size <= 0) return;
  const char *end = "none yet";
  if (framing->first_end == cr) end = framing->pair_seen ? "CR LF" : "CR";
  if (framing->first_end == lf) end = framing->pair_seen ? "LF CR" : "LF";
  if (framing->trailer >= 0) {
    std::snprintf(text, static_cast<std::size_t>(size), "%s + 0x%02X", end, framing->trailer);
  } else {
    std::snprintf(text, static_cast<std::size_t>(size), "%s", end);
  }
}
