// SPDX-License-Identifier: MIT
// Turns screen frames into VT escape sequences: the view runs on the
// terminal's alternate screen with the cursor hidden, and each frame sends
// only the rows that changed since the one before.
#pragma once

#include <cstddef>

#include "view_screen.h"

// Enters the alternate screen, hides the cursor and clears.
constexpr char view_vt_enter_text[] = "\x1b[?1049h\x1b[?25l\x1b[H\x1b[2J";
// Shows the cursor and goes back to the normal screen as it was.
constexpr char view_vt_leave_text[] = "\x1b[0m\x1b[?25h\x1b[?1049l";

// The longest frame: every cell as a 4-byte character, and per row a cursor
// move and an erase.
constexpr std::size_t view_vt_frame_size =
    static_cast<std::size_t>(view_screen_max_rows) * (view_screen_max_columns * 4 + 16) + 16;

struct view_vt {
  view_screen shown;  // what the terminal shows
  bool valid;         // false: the terminal's content is unknown
  char frame[view_vt_frame_size];
};

// The next frame redraws everything (after a resize or at the start).
void view_vt_invalidate(view_vt *vt);

// The sequences that bring the terminal from the shown screen to this one,
// NUL-terminated in vt->frame, which is empty when nothing changed. The
// screen counts as shown from then on.
const char *view_vt_frame(view_vt *vt, const view_screen &screen);
