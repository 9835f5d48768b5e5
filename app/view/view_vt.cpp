// SPDX-License-Identifier: MIT
#include "view_vt.h"

#include <cstdio>
#include <cstring>

namespace {

bool same_row(const view_screen &a, const view_screen &b, int row) {
  return std::memcmp(a.cells[row], b.cells[row],
                     sizeof(char32_t) * static_cast<std::size_t>(a.columns)) == 0;
}

// A row up to its last non-blank cell, then erase to the end of the line.
std::size_t append_row(const view_screen &screen, int row, char *out) {
  std::size_t used = static_cast<std::size_t>(std::snprintf(out, 16, "\x1b[%d;1H", row + 1));
  int end = screen.columns;
  while (end > 0 && screen.cells[row][end - 1] == U' ') --end;
  for (int column = 0; column < end; ++column) {
    used += static_cast<std::size_t>(view_utf8_encode(screen.cells[row][column], out + used));
  }
  std::memcpy(out + used, "\x1b[K", 4);  // with its NUL, which the next row overwrites
  return used + 3;
}

}  // namespace

void view_vt_invalidate(view_vt *vt) { vt->valid = false; }

const char *view_vt_frame(view_vt *vt, const view_screen &screen) {
  std::size_t used = 0;
  const bool whole =
      !vt->valid || vt->shown.columns != screen.columns || vt->shown.rows != screen.rows;
  if (whole) {
    std::memcpy(vt->frame, "\x1b[H\x1b[2J", 7);
    used = 7;
  }
  for (int row = 0; row < screen.rows; ++row) {
    if (!whole && same_row(vt->shown, screen, row)) continue;
    used += append_row(screen, row, vt->frame + used);
  }
  vt->frame[used] = '\0';
  vt->shown.columns = screen.columns;
  vt->shown.rows = screen.rows;
  std::memcpy(vt->shown.cells, screen.cells, sizeof screen.cells);
  vt->valid = true;
  return vt->frame;
}
