// SPDX-License-Identifier: MIT
#include "view_screen.h"

namespace {

bool is_control(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

// Decodes one character from text, moving text on; '?' for a byte that
// does not start a valid sequence (then only that byte is used).
char32_t decode_utf8(const char **text) {
  const auto *bytes = reinterpret_cast<const unsigned char *>(*text);
  const unsigned char lead = bytes[0];
  int length = 0;
  char32_t value = 0;
  if (lead < 0x80) {
    length = 1;
    value = lead;
  } else if (lead >= 0xC2 && lead < 0xE0) {
    length = 2;
    value = lead & 0x1FU;
  } else if (lead >= 0xE0 && lead < 0xF0) {
    length = 3;
    value = lead & 0x0FU;
  } else if (lead >= 0xF0 && lead < 0xF5) {
    length = 4;
    value = lead & 0x07U;
  }
  for (int k = 1; k < length; ++k) {
    if ((bytes[k] & 0xC0U) != 0x80U) {
      length = 0;
      break;
    }
    value = (value << 6) | (bytes[k] & 0x3FU);
  }
  const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
  const bool invalid = value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF);
  if (length == 0 || overlong || invalid) {
    *text += 1;
    return U'?';
  }
  *text += length;
  return is_control(value) ? U'?' : value;
}

}  // namespace

void view_screen_clear(view_screen *screen, int columns, int rows) {
  screen->columns =
      columns < 1 ? 1 : (columns > view_screen_max_columns ? view_screen_max_columns : columns);
  screen->rows = rows < 1 ? 1 : (rows > view_screen_max_rows ? view_screen_max_rows : rows);
  for (auto &row : screen->cells) {
    for (char32_t &cell : row) cell = U' ';
  }
}

void view_screen_put_char(view_screen *screen, int row, int column, char32_t character) {
  if (row < 0 || row >= screen->rows || column < 0 || column >= screen->columns) return;
  screen->cells[row][column] = character;
}

int view_screen_put(view_screen *screen, int row, int column, const char *utf8, int max_cells) {
  int used = 0;
  while (*utf8 != '\0' && used < max_cells && column + used < screen->columns) {
    view_screen_put_char(screen, row, column + used, decode_utf8(&utf8));
    ++used;
  }
  return used;
}

int view_text_cells(const char *utf8) {
  int cells = 0;
  while (*utf8 != '\0') {
    decode_utf8(&utf8);
    ++cells;
  }
  return cells;
}

int view_utf8_encode(char32_t character, char *out) {
  const auto c = static_cast<unsigned long>(character);
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

bool view_screen_row_text(const view_screen &screen, int row, char *out, std::size_t size) {
  if (size == 0) return false;
  std::size_t used = 0;
  for (int column = 0; column < screen.columns; ++column) {
    char bytes[5];
    const int length = view_utf8_encode(screen.cells[row][column], bytes);
    if (used + static_cast<std::size_t>(length) + 1 > size) {
      out[used] = '\0';
      return false;
    }
    for (int k = 0; k < length; ++k) out[used++] = bytes[k];
  }
  out[used] = '\0';
  return true;
}
