// SPDX-License-Identifier: MIT
#include "view_entry.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "console.h"
#include "run_limit.h"
#include "sensor_link.h"
#include "view_csv.h"
#include "view_session.h"

namespace {

// Written by the console whenever it is restored while the full screen is in
// use (on every way out, signals included). Once the view has left the full
// screen itself it empties the text, so that the console's own restore does
// not leave it a second time (which would move the cursor back up).
char leave_text[sizeof view_vt_leave_text];

// What the link noticed about the module, as stderr lines. The live view
// holds them while it has the screen (a line on stderr would be drawn over
// it) and says them when it has left.
constexpr int held_notices_size = 16;
sensor_notice held_notices[held_notices_size];
int held_count = 0;

void say_notice(sensor_notice notice) {
  std::fprintf(stderr, "orlanse_sensor: %s\n", sensor_notice_text(notice));
}

void take_notices(bool hold) {
  for (sensor_notice notice = sensor_take_notice(); notice != sensor_notice_none;
       notice = sensor_take_notice()) {
    if (!hold) {
      say_notice(notice);
    } else if (held_count < held_notices_size) {
      held_notices[held_count++] = notice;
    }
  }
}

void say_held_notices(void) {
  for (int k = 0; k < held_count; ++k) say_notice(held_notices[k]);
  held_count = 0;
}

calibration_set loaded;  // from --calibration
bool calibration_loaded = false;
const char *calibration_out = nullptr;  // --calibration-out
std::string calibration_file_name;      // chosen at the first save

const calibration_set *loaded_calibration() { return calibration_loaded ? &loaded : nullptr; }

class console_io final : public view_io {
public:
  explicit console_io(bool hold_notices) : hold_notices_(hold_notices) {}
  sensor_outcome read_sample(int32_t (&values)[6]) override {
    const sensor_outcome outcome =
        sensor_read(&values[0], &values[1], &values[2], &values[3], &values[4], &values[5]);
    take_notices(hold_notices_);
    if (outcome != sensor_sample_read) return outcome;
    // A sample after the run's end (--duration) is not shown.
    if (!sampling_limit.admits_sample()) return sensor_interrupted;
    sampling_limit.note_sample();
    return outcome;
  }
  // A run that has ended by itself (--count, --duration, a replay run out)
  // ends as after a key: one that is no calibration key.
  bool key_waiting() override { return console_key_waiting() || sampling_limit.reached(); }
  int read_key() override { return console_key_waiting() ? console_read_key() : 0; }
  int64_t now_ms() override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  bool write_out(const char *text) override { return console_write(text); }
  void write_err(const char *text) override { std::fputs(text, stderr); }
  bool screen_size(int *columns, int *rows) override { return console_screen_size(columns, rows); }
  bool screen_resized() override { return console_screen_resized(); }
  bool leave_screen() override {
    const bool left = console_write(leave_text);
    leave_text[0] = '\0';
    return left;
  }
  bool save_calibration(const calibration_set &set, char *where, std::size_t where_size) override {
    if (calibration_file_name.empty()) {
      calibration_file_name =
          calibration_out != nullptr ? calibration_out : calibration_new_file_name();
    }
    char reason[160];
    const bool saved =
        calibration_save_file(calibration_file_name.c_str(), set, reason, sizeof reason);
    if (saved) {
      std::snprintf(where, where_size, "%s", calibration_file_name.c_str());
    } else {
      std::snprintf(where, where_size, "%s: %s", calibration_file_name.c_str(), reason);
    }
    return saved;
  }

private:
  bool hold_notices_;
};

int status_of(view_end end) {
  switch (end) {
    case view_end_key: return 0;
    case view_end_port_gone: return view_status_port_gone;
    case view_end_output_failed: break;
  }
  return view_report_output_end();
}

view_session session;  // large: static storage

}  // namespace

void view_report_unwritten(void) {
  if (console_unwritten_bytes() == 0) return;
  std::fprintf(stderr,
               "orlanse_sensor: a key ended the run while stdout took no output; %lld bytes "
               "were not written\n",
               console_unwritten_bytes());
}

int view_report_output_end(void) {
  if (console_unwritten_bytes() > 0) {
    view_report_unwritten();
    return 0;
  }
  std::fprintf(stderr, "orlanse_sensor: cannot write to stdout: %s\n", console_output_failure());
  return view_status_output_failed;
}

int view_calibration_setup(const char *load_path, const char *out_path) {
  calibration_out = out_path;
  calibration_loaded = false;
  if (load_path == nullptr) return 0;
  char error[200];
  if (!calibration_load_file(load_path, &loaded, error, sizeof error)) {
    std::fprintf(stderr, "orlanse_sensor: calibration file %s: %s\n", load_path, error);
    return view_status_bad_calibration;
  }
  calibration_loaded = true;
  return 0;
}

int run_csv_session(void) {
  console_io io(false);
  return status_of(view_run_csv(io, loaded_calibration()));
}

int run_view_session(const char *com_name, const char *device_node, const char *description,
                     bool force_ascii) {
  for (std::size_t k = 0; k < sizeof leave_text; ++k) leave_text[k] = view_vt_leave_text[k];
  if (!console_screen_open(view_vt_enter_text, leave_text)) {
    std::fprintf(stderr, "orlanse_sensor: --view needs a terminal on standard output\n");
    return view_status_no_terminal;
  }
  // Ctrl-C ends the view as a key does, so that a calibration is still
  // printed; the program then ends by SIGINT.
  console_defer_interrupt();
  const view_style style =
      force_ascii || !console_screen_unicode() ? view_style_ascii : view_style_utf8;
  console_io io(true);
  const view_end end =
      view_run_live(&session, io, style, com_name, device_node, description, loaded_calibration());
  // The key that ended a wait for stdout is the view's ending key: taken,
  // as the view takes its keys.
  if (console_unwritten_bytes() > 0 && console_key_waiting()) console_read_key();
  say_held_notices();
  return status_of(end);
}
