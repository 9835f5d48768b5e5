// SPDX-License-Identifier: MIT
// An in-memory screen: rows of cells, one character each, that the renderer
// draws into and the VT writer sends to the terminal.
#pragma once

#include <cstddef>

constexpr int view_screen_max_columns = 200;
constexpr int view_screen_max_rows = 80;

struct view_screen {
  int columns;
  int rows;
  char32_t cells[view_screen_max_rows][view_screen_max_columns];
};

// Sizes the screen (clamped to 1..max) and fills it with spaces.
void view_screen_clear(view_screen *screen, int columns, int rows);

// Puts one character; nothing outside the screen.
void view_screen_put_char(view_screen *screen, int row, int column, char32_t character);

// Puts UTF-8 text from (row, column), one character a cell, at most
// max_cells and never past the row's end; returns the cells used. Invalid
// UTF-8 and control characters become '?'.
int view_screen_put(view_screen *screen, int row, int column, const char *utf8, int max_cells);

// The number of characters (cells) of UTF-8 text.
int view_text_cells(const char *utf8);

// Appends the UTF-8 form of a character to out (at least 5 bytes free);
// returns the bytes written.
int view_utf8_encode(char32_t character, char *out);

// One row as UTF-8 text into out, NUL-terminated (when size > 0); false
// when it is cut.
bool view_screen_row_text(const view_screen &screen, int row, char *out, std::size_t size);
