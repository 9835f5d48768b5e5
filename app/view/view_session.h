// SPDX-License-Identifier: MIT
// The live view: a full-screen view of the sensor, redrawn at most 20 times
// a second whatever the sample rate, with the c key for the geomagnetic
// calibration and the a key for the accelerometer's, until any other key.
// A calibration is saved when it ends (by its key, its sixth face, or the
// view's end), and every few seconds while one runs, so that an ending
// signal (Ctrl-C) loses little; once the full screen is left, stderr gets
// the offsets, where the file went and the values as C.
#pragma once

#include <cstdint>

#include "view_io.h"
#include "view_model.h"
#include "view_render.h"
#include "view_vt.h"

constexpr int64_t view_frame_interval_ms = 50;  // at most 20 frames a second

// Everything the live view keeps: large, so it lives in static storage or
// on the heap, not on a small stack.
constexpr int view_note_size = 512;
constexpr int64_t view_autosave_ms = 5000;
struct view_session {
  view_model model;
  view_screen screen;
  view_vt vt;
  bool saved_any;                  // a calibration was saved (or tried)
  calibration_set saved;           // the last one
  char save_note[view_note_size];  // the stderr line about it
  int64_t saved_at_ms;             // the clock at the last save
};

// The live view, on a terminal already prepared for it: enters the full
// screen, samples and redraws until a key other than c or a (consumed), the
// port's going or a failed write; then leaves the full screen, saves the
// calibrations still running, and prints what was saved on stderr. loaded
// (NULL: none) is applied to the vectors shown.
view_end view_run_live(view_session *session, view_io &io, view_style style, const char *com_name,
                       const char *device_node, const char *description,
                       const calibration_set *loaded = nullptr);

// The stderr line with a calibration's offsets, NUL-terminated.
constexpr int view_offsets_text_size = 160;
void view_offsets_text(const view_model &model, char (&out)[view_offsets_text_size]);
