// SPDX-License-Identifier: MIT
#include "view_session.h"

#include <cinttypes>
#include <cstdio>

namespace {

bool is_calibration_key(int key) { return key == 'c' || key == 'C'; }

struct live_run {
  view_session *session;
  view_io &io;
  view_style style;
  int columns;
  int rows;
  int64_t last_frame_ms;
  bool drawn;
  bool changed;
};

void take_size(live_run *run) {
  int columns = 0;
  int rows = 0;
  if (run->io.screen_size(&columns, &rows)) {
    run->columns = columns;
    run->rows = rows;
  } else {
    run->columns = 80;
    run->rows = 24;
  }
}

// Draws when something changed and the last frame is at least the frame
// interval old; false when the frame could not be written.
bool draw_if_due(live_run *run, int64_t now_ms) {
  if (!run->changed) return true;
  if (run->drawn && now_ms - run->last_frame_ms < view_frame_interval_ms) return true;
  view_session *session = run->session;
  view_model_tick(&session->model, now_ms);
  view_render(session->model, run->style, run->columns, run->rows, &session->screen);
  const char *frame = view_vt_frame(&session->vt, session->screen);
  run->drawn = true;
  run->changed = false;
  run->last_frame_ms = now_ms;
  return frame[0] == '\0' || run->io.write_out(frame);
}

view_end sample_live(live_run *run) {
  view_model &model = run->session->model;
  for (;;) {
    if (run->io.key_waiting()) {
      if (!is_calibration_key(run->io.read_key())) return view_end_key;
      view_model_toggle_calibration(&model);
      run->changed = true;
    }
    if (run->io.screen_resized()) {
      take_size(run);
      view_vt_invalidate(&run->session->vt);
      run->changed = true;
    }
    if (!draw_if_due(run, run->io.now_ms())) return view_end_output_failed;
    int32_t values[6] = {};
    const sensor_outcome outcome = run->io.read_sample(values);
    if (outcome == sensor_port_gone) return view_end_port_gone;
    view_model_add(&model, run->io.now_ms(), outcome, values);
    run->changed = true;
  }
}

}  // namespace

void view_offsets_text(const view_model &model, char (&out)[view_offsets_text_size]) {
  double offsets[3];
  if (!view_model_offsets(model, offsets)) {
    out[0] = '\0';
    return;
  }
  std::snprintf(out, sizeof out,
                "orlanse_sensor: hard-iron offsets (geo1,geo2,geo3): %.1f,%.1f,%.1f "
                "(%" PRId64 " samples, %d/%d sectors)\n",
                offsets[0], offsets[1], offsets[2], model.calibration.samples, model.coverage.count,
                view_sector_count);
}

view_end view_run_live(view_session *session, view_io &io, view_style style, const char *com_name,
                       const char *device_node, const char *description) {
  view_model_start(&session->model, io.now_ms(), com_name, device_node, description);
  view_vt_invalidate(&session->vt);
  live_run run{session, io, style, 80, 24, 0, false, true};
  take_size(&run);
  view_end end = view_end_output_failed;
  if (io.write_out(view_vt_enter_text)) end = sample_live(&run);
  const bool left = io.leave_screen();
  if (end == view_end_key && !left) end = view_end_output_failed;
  char offsets[view_offsets_text_size];
  view_offsets_text(session->model, offsets);
  if (offsets[0] != '\0') io.write_err(offsets);
  return end;
}
