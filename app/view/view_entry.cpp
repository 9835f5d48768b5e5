// SPDX-License-Identifier: MIT
#include "view_entry.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "console.h"
#include "sensor_link.h"
#include "view_csv.h"
#include "view_session.h"

const char view_output_failed_format[] = "orlanse_sensor: cannot write to stdout: %s\n";

namespace {

// Written by the console whenever it is restored while the full screen is in
// use (on every way out, signals included). Once the view has left the full
// screen itself it empties the text, so that the console's own restore does
// not leave it a second time (which would move the cursor back up).
char leave_text[sizeof view_vt_leave_text];

calibration_set loaded;  // from --calibration
bool calibration_loaded = false;
const char *calibration_out = nullptr;  // --calibration-out
std::string calibration_file_name;      // chosen at the first save

const calibration_set *loaded_calibration() { return calibration_loaded ? &loaded : nullptr; }

class console_io final : public view_io {
public:
  sensor_outcome read_sample(int32_t (&values)[6]) override {
    return sensor_read(&values[0], &values[1], &values[2], &values[3], &values[4], &values[5]);
  }
  bool key_waiting() override { return console_key_waiting(); }
  int read_key() override { return console_read_key(); }
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
};

int status_of(view_end end) {
  switch (end) {
    case view_end_key: return 0;
    case view_end_port_gone: return view_status_port_gone;
    case view_end_output_failed: break;
  }
  std::fprintf(stderr, view_output_failed_format, console_output_failure());
  return view_status_output_failed;
}

view_session session;  // large: static storage

}  // namespace

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
  console_io io;
  return status_of(view_run_csv(io, loaded_calibration()));
}

int run_view_session(const char *com_name, const char *device_node, const char *description,
                     bool force_ascii) {
  for (std::size_t k = 0; k < sizeof leave_text; ++k) leave_text[k] = view_vt_leave_text[k];
  if (!console_screen_open(leave_text)) {
    std::fprintf(stderr, "orlanse_sensor: --view needs a terminal on standard output\n");
    return view_status_no_terminal;
  }
  const view_style style =
      force_ascii || !console_screen_unicode() ? view_style_ascii : view_style_utf8;
  console_io io;
  return status_of(
      view_run_live(&session, io, style, com_name, device_node, description, loaded_calibration()));
}
