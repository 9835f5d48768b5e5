// SPDX-License-Identifier: MIT
// Prints the live view of the snapshot scene as text, for the README:
//   view_capture [columns rows [ascii]]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "view_fixture.h"
#include "view_render.h"

int main(int argc, char **argv) {
  const int columns = argc > 2 ? std::atoi(argv[1]) : 80;
  const int rows = argc > 2 ? std::atoi(argv[2]) : 24;
  const view_style style =
      argc > 3 && std::strcmp(argv[3], "ascii") == 0 ? view_style_ascii : view_style_utf8;
  auto model = std::make_unique<view_model>();
  auto screen = std::make_unique<view_screen>();
  play_scene(model.get());
  view_render(*model, style, columns, rows, screen.get());
  for (int row = 0; row < screen->rows; ++row) {
    char text[view_screen_max_columns * 4 + 1];
    view_screen_row_text(*screen, row, text, sizeof text);
    std::size_t end = std::strlen(text);
    while (end > 0 && text[end - 1] == ' ') --end;
    std::printf("%.*s\n", static_cast<int>(end), text);
  }
  return 0;
}
