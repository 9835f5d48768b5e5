// SPDX-License-Identifier: MIT
// What the live view shows, kept up to date from the outcomes of the sensor
// link: the last sample, ten seconds of history, the field magnitudes' range,
// the counts of broken replies and silent periods, the rate, the
// geomagnetic and accelerometer calibrations as they are made, and a
// calibration loaded from a file. No I/O; times are milliseconds of a
// monotonic clock.
#pragma once

#include <cstdint>

#include "accel_calibration.h"
#include "calibration_file.h"
#include "calibration_fit.h"
#include "sensor_link.h"
#include "view_numerics.h"

// Ten seconds of history in buckets of 50 ms, each the sum of the samples
// that came in it.
constexpr int64_t view_history_span_ms = 10000;
constexpr int64_t view_bucket_ms = 50;
constexpr int view_bucket_count = static_cast<int>(view_history_span_ms / view_bucket_ms);

struct view_bucket {
  int64_t number;  // time / view_bucket_ms of the bucket's start; -1 empty
  int32_t count;
  int64_t sums[6];
};

enum view_calibration_mode {
  view_calibration_off,
  view_calibration_running,
  view_calibration_done
};

constexpr int view_port_text_size = 96;

// Geomagnetic readings kept during a calibration for the fit: a reading
// counts when it lies at least 1 % of its length from the last one counted
// (a module held still adds nothing); every one counted is kept at first;
// once the store is full every second one is dropped and from then on only
// every second one counted is kept, then every fourth, and so on, so that
// the store samples the whole calibration evenly.
constexpr int view_kept_capacity = 1024;
constexpr double view_keep_distance = 0.01;

struct view_model {
  char com_name[view_port_text_size];
  char device_node[view_port_text_size];
  char description[view_port_text_size];

  int64_t start_ms;  // the clock when the model was started
  int64_t now_ms;    // the clock at the last update, since start_ms
  int64_t samples;
  int32_t last[6];
  double geo_low, geo_high;  // |B| since start
  double acc_low, acc_high;  // |A| since start
  int64_t broken_replies;
  int64_t silent_periods;
  bool silent;  // the last request got no reply

  view_rate_meter rate;
  view_bucket history[view_bucket_count];

  view_calibration_mode calibration_mode;  // geomagnetic, key c
  geo_calibration geo_fit;                 // of the kept readings
  double kept[view_kept_capacity][3];
  int kept_count;
  double last_counted[3];
  int64_t counted;
  int64_t keep_stride;
  signed char kept_face[view_kept_capacity];  // the face up of each kept reading; -1: none

  view_calibration_mode accel_mode;  // accelerometer, key a
  accel_collect accel;
  accel_result accel_fit;

  calibration_set loaded;  // from --calibration; sections absent: none
};

// Starts an empty model at the clock's start_ms, with the port's texts
// (NULL counts as empty; longer ones are cut).
void view_model_start(view_model *model, int64_t start_ms, const char *com_name,
                      const char *device_node, const char *description);

// Takes one outcome of the sensor link at the clock's now_ms; values are read
// only for sensor_sample_read.
void view_model_add(view_model *model, int64_t now_ms, sensor_outcome outcome,
                    const int32_t (&values)[6]);

// Moves the clock on without an outcome.
void view_model_tick(view_model *model, int64_t now_ms);

// The geomagnetic calibration (key c): off or done -> running (from
// scratch); running -> done, with a final fit.
void view_model_toggle_calibration(view_model *model);
// The accelerometer calibration (key a), the same way.
void view_model_toggle_accel_calibration(view_model *model);
// A calibration loaded from a file, applied while no new one replaces it.
void view_model_load(view_model *model, const calibration_set &loaded);

// The geomagnetic calibration in use: the one being made once it has a
// model, else the loaded one; false (identity) when there is none.
bool view_model_geo_calibration(const view_model &model, geo_calibration *calibration);
// The accelerometer calibration in use: the one made once complete, else
// the loaded one; false (offsets 0, gains 1) when there is none.
bool view_model_accel_calibration(const view_model &model, accel_result *calibration);
// What this session's calibrations give to save: a section for each that
// has a result (a geomagnetic model, all six faces).
calibration_set view_model_results(const view_model &model);

// The last sample's vectors with the calibrations in use applied (the
// acceleration in g when calibrated, else raw).
view_vector view_model_geomagnetic(const view_model &model);
view_vector view_model_acceleration(const view_model &model);

// The heading with the calibrations applied; false while undefined.
bool view_model_heading(const view_model &model, double *heading_deg);

// The faces the geomagnetic calibration has too few readings from, in the
// order of accel_face_name, as a bit set (bit f: face f missing).
unsigned view_model_missing_poses(const view_model &model);

// One axis's history over the last ten seconds split into cells equal time
// slices ending now: the mean of each slice, and whether it has samples.
void view_model_history(const view_model &model, int axis, int cells, double *means, bool *present);
