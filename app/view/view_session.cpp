// SPDX-License-Identifier: MIT
#include "view_session.h"

#include <cinttypes>
#include <cstdio>

namespace {

bool is_calibration_key(int key) { return key == 'c' || key == 'C'; }
bool is_accel_key(int key) { return key == 'a' || key == 'A'; }

void save(view_session *session, view_io &io) {
  const calibration_set set = view_model_results(session->model);
  if (!set.has_geomagnetic && !set.has_acceleration) return;
  char where[view_note_size - 64];
  const bool saved = io.save_calibration(set, where, sizeof where);
  session->saved_any = true;
  session->saved = set;
  session->saved_at_ms = io.now_ms();
  std::snprintf(session->save_note, sizeof session->save_note,
                saved ? "orlanse_sensor: calibration written to %s\n"
                      : "orlanse_sensor: cannot write the calibration: %s\n",
                where);
}

// While a calibration runs, its results so far are saved every few seconds.
void autosave(view_session *session, view_io &io) {
  const view_model &model = session->model;
  const bool running = model.calibration_mode == view_calibration_running ||
                       model.accel_mode == view_calibration_running;
  if (!running) return;
  if (session->saved_any && io.now_ms() - session->saved_at_ms < view_autosave_ms) return;
  if (!session->saved_any && model.now_ms < view_autosave_ms) return;
  save(session, io);
}

// A key for a calibration: c or a start or end one (an ended one is saved);
// false for any other key.
bool take_key(view_session *session, view_io &io, int key) {
  view_model &model = session->model;
  if (is_calibration_key(key)) {
    const bool ends = model.calibration_mode == view_calibration_running;
    view_model_toggle_calibration(&model);
    if (ends) save(session, io);
    return true;
  }
  if (is_accel_key(key)) {
    const bool ends = model.accel_mode == view_calibration_running;
    view_model_toggle_accel_calibration(&model);
    if (ends) save(session, io);
    return true;
  }
  return false;
}

// Ends the calibrations still running, and saves them.
void end_calibrations(view_session *session, view_io &io) {
  view_model &model = session->model;
  bool ended = false;
  if (model.calibration_mode == view_calibration_running) {
    view_model_toggle_calibration(&model);
    ended = true;
  }
  if (model.accel_mode == view_calibration_running) {
    view_model_toggle_accel_calibration(&model);
    ended = true;
  }
  if (ended) save(session, io);
}

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
      if (!take_key(run->session, run->io, run->io.read_key())) return view_end_key;
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
    // The sixth face ends the accelerometer's calibration.
    if (model.accel_mode == view_calibration_running && model.accel_fit.complete) {
      view_model_toggle_accel_calibration(&model);
      save(run->session, run->io);
    }
    autosave(run->session, run->io);
    run->changed = true;
  }
}

}  // namespace

void view_offsets_text(const view_model &model, char (&out)[view_offsets_text_size]) {
  out[0] = '\0';
  if (model.calibration_mode == view_calibration_off) return;
  const geo_calibration &fit = model.geo_fit;
  if (fit.model == calib_model_none) {
    std::snprintf(out, sizeof out, "orlanse_sensor: no geomagnetic calibration: %s (%d points)\n",
                  calib_doubt_text(fit.doubt), fit.points);
    return;
  }
  std::snprintf(out, sizeof out,
                "orlanse_sensor: geomagnetic offsets (geo1,geo2,geo3): %.1f,%.1f,%.1f "
                "(%s model, %d points, %s)\n",
                fit.offset[0], fit.offset[1], fit.offset[2], calib_model_name(fit.model),
                fit.points, fit.good ? "good" : calib_doubt_text(fit.doubt));
}

view_end view_run_live(view_session *session, view_io &io, view_style style, const char *com_name,
                       const char *device_node, const char *description,
                       const calibration_set *loaded) {
  view_model_start(&session->model, io.now_ms(), com_name, device_node, description);
  if (loaded != nullptr) view_model_load(&session->model, *loaded);
  session->saved_any = false;
  session->save_note[0] = '\0';
  view_vt_invalidate(&session->vt);
  live_run run{session, io, style, 80, 24, 0, false, true};
  take_size(&run);
  view_end end = view_end_output_failed;
  if (io.write_out(view_vt_enter_text)) end = sample_live(&run);
  const bool left = io.leave_screen();
  if (end == view_end_key && !left) end = view_end_output_failed;
  end_calibrations(session, io);
  char offsets[view_offsets_text_size];
  view_offsets_text(session->model, offsets);
  if (offsets[0] != '\0') io.write_err(offsets);
  if (session->saved_any) {
    io.write_err(session->save_note);
    io.write_err(calibration_c_snippet(session->saved).c_str());
  }
  return end;
}
