// SPDX-License-Identifier: MIT
// The live view: a full-screen view of the sensor, redrawn at most 20 times
// a second whatever the sample rate, with the c key for the hard-iron
// calibration, until any other key.
#pragma once

#include <cstdint>

#include "view_io.h"
#include "view_model.h"
#include "view_render.h"
#include "view_vt.h"

constexpr int64_t view_frame_interval_ms = 50;  // at most 20 frames a second

// Everything the live view keeps: large, so it lives in static storage or
// on the heap, not on a small stack.
struct view_session {
  view_model model;
  view_screen screen;
  view_vt vt;
};

// The live view, on a terminal already prepared for it: enters the full
// screen, samples and redraws until a key other than c (consumed), the
// port's going or a failed write; then leaves the full screen and, when a
// calibration has been made, prints its offsets on stderr.
view_end view_run_live(view_session *session, view_io &io, view_style style, const char *com_name,
                       const char *device_node, const char *description);

// The stderr line with a calibration's offsets, NUL-terminated.
constexpr int view_offsets_text_size = 160;
void view_offsets_text(const view_model &model, char (&out)[view_offsets_text_size]);
