// SPDX-License-Identifier: MIT
// How the module ends its lines, learned from what it sends, and the lines
// cut out of its raw bytes with that framing. Portable.
//
// A line ends at its first CR or LF. The other of the two right after it
// (CR LF, LF CR) belongs to that end; so does one trailer byte after the end
// (a prompt such as '>', a NUL pad) once the module has shown it: the same
// byte, neither CR, LF nor a hexadecimal digit, right after two line ends in
// a row. The end's bytes may come late (a USB adapter releasing the last
// byte of a packet later than the rest): they are recognised whenever they
// come, since nothing of the next line can come before them. A learned
// trailer that is missing three times in a row is forgotten. A sample's
// digits are never taken for part of a line end.
#pragma once

constexpr int line_framing_text_size = 84;  // at most 83 bytes of a line are kept
constexpr int line_framing_buffer_size = 256;

// One line as the module sent it, without its end.
struct framed_line {
  char text[line_framing_text_size];  // NUL-terminated; may hold NULs of its own
  int length;                         // bytes kept in text
  bool overflow;                      // longer than text: its rest was dropped
};

struct line_framing {
  // What has been learned.
  int first_end;   // CR or LF: the byte that ended the last line; 0 before any
  bool pair_seen;  // the other of CR and LF followed it
  int trailer;     // the byte that follows each line end, or -1
  int candidate;   // a byte that followed the last line end, or -1
  int misses;      // line ends in a row without the learned trailer
  // Where the stream stands.
  int pending_pair;  // CR or LF that may still be followed by its pair; 0: none
  bool after_end;    // the next byte is the first after a line end
  framed_line line;  // the line being cut
  unsigned char bytes[line_framing_buffer_size];  // arrived, not yet cut
  int head;
  int tail;
};

// Forgets everything: framing and bytes.
void line_framing_reset(line_framing *framing);

// Drops the bytes held and the line begun, keeping what was learned.
void line_framing_drop_input(line_framing *framing);

// Room for more bytes: at most this many may be given to line_framing_add.
int line_framing_room(const line_framing *framing);

// Takes bytes that arrived (count <= room).
void line_framing_add(line_framing *framing, const unsigned char *bytes, int count);

// Cuts the next complete line out of the bytes held: true with *out filled,
// false when every byte held has been used up.
bool line_framing_next(line_framing *framing, framed_line *out);

// Bytes of the last line's end (its pair, its trailer) that the learned
// framing still expects; 0 once that end is complete.
int line_framing_end_due(const line_framing *framing);

// The framing learned so far as text, such as "CR LF" or "LF CR + 0x3E".
void line_framing_describe(const line_framing *framing, char *text, int size);
