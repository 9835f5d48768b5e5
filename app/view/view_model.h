// SPDX-License-Identifier: MIT
// What the live view shows, kept up to date from the outcomes of the sensor
// link: the last sample, ten seconds of history, the field magnitudes' range,
// the counts of broken replies and silent periods, the rate, and the
// hard-iron calibration. No I/O; times are milliseconds of a monotonic
// clock.
#pragma once

#include <cstdint>

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

// Geomagnetic readings kept during a calibration, to count the sectors
// against the latest offsets: every one at first, every second once the
// store is full, then every fourth, and so on.
constexpr int view_kept_capacity = 1024;

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

  view_calibration_mode calibration_mode;
  view_hard_iron calibration;
  view_coverage coverage;  // of the kept readings less the offsets
  int32_t kept[view_kept_capacity][3];
  int kept_count;
  int64_t keep_stride;
  int64_t calibration_seen;
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

// Off or done -> running (from scratch); running -> done.
void view_model_toggle_calibration(view_model *model);

// The hard-iron offsets that the heading uses; false (zeros) while no
// calibration has a sample.
bool view_model_offsets(const view_model &model, double (&offsets)[3]);

// The heading with the offsets applied; false while undefined.
bool view_model_heading(const view_model &model, double *heading_deg);

// One axis's history over the last ten seconds split into cells equal time
// slices ending now: the mean of each slice, and whether it has samples.
void view_model_history(const view_model &model, int axis, int cells, double *means, bool *present);
