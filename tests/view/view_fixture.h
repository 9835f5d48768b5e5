// SPDX-License-Identifier: MIT
// Shared pieces of the view tests: a module that turns at a steady pace, a
// scripted outside for the sessions (samples, a fake clock, keys, resizes,
// recorded output), and golden screen snapshots.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "view_io.h"
#include "view_model.h"
#include "view_screen.h"
#include "view_session.h"

// Attitude of the module: heading clockwise from magnetic north, pitch and
// roll as the view computes them from the acceleration, in degrees.
struct attitude {
  double heading_deg;
  double pitch_deg;
  double roll_deg;
};

// The readings of a module in that attitude in an Earth field of the given
// strength dipping 60 degrees, and gravity of the given strength, as double
// vectors in the module's axes.
void readings_of(attitude pose, double field, double gravity, view_vector *geomagnetic,
                 view_vector *acceleration);

// The six values the link would deliver: geomagnetic rounded, plus a
// hard-iron offset; acceleration rounded to the raw unit, times 10.
struct module_shape {
  double field = 2000.0;
  double gravity = 1000.0;  // raw units; delivered times 10
  double offset[3] = {0.0, 0.0, 0.0};
};
void sample_of(attitude pose, const module_shape &shape, int32_t (&values)[6]);

// One step of a script: what a sensor_read returns and how long it took.
struct scripted_step {
  sensor_outcome outcome;
  int32_t values[6];
  int64_t duration_ms;
};

// A module turning about the vertical at degrees_per_s with a fixed tilt,
// count samples at samples_per_s. Heading of sample k: start + k * turn.
std::vector<scripted_step> turning_stream(int count, double samples_per_s, double degrees_per_s,
                                          double pitch_deg, double roll_deg,
                                          const module_shape &shape = module_shape{});
attitude turning_pose(int k, double samples_per_s, double degrees_per_s, double pitch_deg,
                      double roll_deg);

struct timed_key {
  int64_t at_ms;  // waiting from this time of the fake clock on
  int key;
};
struct timed_resize {
  int64_t at_ms;
  int columns;
  int rows;
};
struct timed_text {
  int64_t at_ms;
  std::string text;
};

// The outside of a session, played from a script. When the script's steps
// are used up, a 'q' is waiting.
class scripted_io final : public view_io {
public:
  static constexpr int64_t start_ms = 100000;

  std::vector<scripted_step> steps;
  std::vector<timed_key> keys;
  std::vector<timed_resize> resizes;
  int columns = 80;
  int rows = 24;
  bool size_known = true;
  int fail_writes_from = -1;  // index of the first write_out that fails; -1 never

  int64_t clock_ms = start_ms;
  std::size_t next_step = 0;
  std::size_t next_key = 0;
  std::size_t next_resize = 0;
  std::vector<timed_text> out;  // every write_out, with the time
  std::string err;
  int keys_read = 0;
  int leaves = 0;
  int64_t left_at_write = -1;          // out.size() when leave_screen was called
  std::vector<calibration_set> saves;  // every save_calibration
  bool fail_saves = false;

  sensor_outcome read_sample(int32_t (&values)[6]) override;
  bool key_waiting() override;
  int read_key() override;
  int64_t now_ms() override { return clock_ms; }
  bool write_out(const char *text) override;
  void write_err(const char *text) override { err += text; }
  bool screen_size(int *columns_out, int *rows_out) override;
  bool screen_resized() override;
  bool leave_screen() override;
  bool save_calibration(const calibration_set &set, char *where, std::size_t where_size) override;

  // The writes that were frames (not the enter and leave texts).
  std::vector<timed_text> frames() const;
  // All of stdout as one text.
  std::string all_out() const;
};

// A session in heap storage (it is large).
std::unique_ptr<view_session> new_session();

// The screen as text: each row's characters, then '|' and a line end.
std::string screen_dump(const view_screen &screen);

// Compares a dump with tests/view/golden/<name>; with the environment
// variable ORLANSE_UPDATE_GOLDEN=1 it writes the file instead (and fails, so
// that a regeneration is never taken for a pass).
void expect_golden(const std::string &name, const std::string &dump);

// The scene of the snapshots: 12 s of a turning module at 25 samples/s with
// a hard-iron offset, tumbling, two broken replies, one silent period, and a
// calibration from 2 s to 10 s. Fills the model as the live view would.
void play_scene(view_model *model);

// The scene of the calibration snapshots: the simulator's distorted module
// turns through all orientations with both calibrations on, then holds
// three faces still (turn_samples + the samples of three faces).
void play_calibration_scene(view_model *model, int samples);
