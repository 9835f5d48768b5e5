// SPDX-License-Identifier: MIT
// Which request a line from the module answers. Portable, no clock.
//
// The module answers each command with one line, in order, and may send
// other lines between (status chatter, samples nobody asked for). Requests
// whose answer has not come are owed, oldest first; the newest may be the
// one awaited now. A line goes to the oldest owed request:
// - a request for any line takes it;
// - a sample request takes only a sample (exactly 24 hexadecimal digits);
//   while it is awaited, other lines are no answer to it. Once given up on,
//   any line ends it (its answer came late, or it was no sample).
// A line that answers a request given up on is late and dropped, so a late
// reply is never taken for a later request; a line when nothing is owed was
// asked by nobody.
#pragma once

enum reply_kind { reply_any_line, reply_sample };

enum line_verdict {
  line_is_reply,    // answers the request awaited now
  line_is_late,     // answers a request given up on earlier: dropped
  line_is_other,    // no sample, while a sample request is awaited
  line_is_unasked,  // nothing was owed
};

constexpr int reply_matching_capacity = 8;

struct reply_matching {
  reply_kind owed[reply_matching_capacity];  // oldest first
  int count;
  bool awaiting;    // owed[count - 1] is awaited now
  int other_lines;  // lines that were no sample while the awaited sample request was open
};

// Nothing owed, nothing awaited.
void reply_matching_reset(reply_matching *matching);

// A request went out: it is awaited now (and owed). When the list is full,
// the oldest owed request is taken to be lost.
void reply_matching_sent(reply_matching *matching, reply_kind kind);

// What the line (a sample or not) is.
line_verdict reply_matching_line(reply_matching *matching, bool is_sample);

// Whether the request awaited now has been answered.
bool reply_matching_answered(const reply_matching *matching);

// Requests given up on whose answer may still come.
int reply_matching_owed(const reply_matching *matching);

// The awaited request's time is up. When a line that was no sample came for
// it, that line was its answer and nothing stays owed: false. Otherwise it
// stays owed: true.
bool reply_matching_give_up(reply_matching *matching);
