// SPDX-License-Identifier: MIT
// Draws the live view of a model into an in-memory screen of any size.
// Each axis gets a row with its value, a bar against the axis's range and a
// sparkline of the last ten seconds; then the magnitudes, tilt and heading,
// rate, counts, calibration and keys, as far as the rows go (the axes
// first). Text wraps between its parts on narrow screens.
#pragma once

#include "view_model.h"
#include "view_screen.h"

enum view_style {
  view_style_utf8,  // block characters, degree sign
  view_style_ascii  // ASCII only
};

// Clears the screen to columns x rows and draws the model into it.
void view_render(const view_model &model, view_style style, int columns, int rows,
                 view_screen *screen);
