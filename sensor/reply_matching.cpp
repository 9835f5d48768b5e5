// SPDX-License-Identifier: MIT
#include "reply_matching.h"

namespace {

void drop_oldest(reply_matching *m) {
  for (int i = 1; i < m->count; ++i) m->owed[i - 1] = m->owed[i];
  --m->count;
}

}  // namespace

void reply_matching_reset(reply_matching *matching) {
  matching->count = 0;
  matching->awaiting = false;
  matching->other_lines = 0;
}

void reply_matching_sent(reply_matching *matching, reply_kind kind) {
  if (matching->awaiting) reply_matching_give_up(matching);
  if (matching->count == reply_matching_capacity) drop_oldest(matching);
  matching->owed[matching->count++] = kind;
  matching->awaiting = true;
  matching->other_lines = 0;
}

line_verdict reply_matching_line(reply_matching *matching, bool is_sample) {
  if (matching->count == 0) return line_is_unasked;
  const bool awaited = matching->awaiting && matching->count == 1;
  if (awaited && matching->owed[0] == reply_sample && !is_sample) {
    ++matching->other_lines;
    return line_is_other;
  }
  drop_oldest(matching);
  if (!awaited) return line_is_late;
  matching->awaiting = false;
  return line_is_reply;
}

bool reply_matching_answered(const reply_matching *matching) { return !matching->awaiting; }

int reply_matching_owed(const reply_matching *matching) {
  return matching->count - (matching->awaiting ? 1 : 0);
}

bool reply_matching_give_up(reply_matching *matching) {
  if (!matching->awaiting) return false;
  matching->awaiting = false;
  if (matching->other_lines > 0) {
    --matching->count;  // a line that was no sample answered it
    matching->other_lines = 0;
    return false;
  }
  return true;
}
