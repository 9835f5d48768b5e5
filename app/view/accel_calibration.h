// SPDX-License-Identifier: MIT
// The accelerometer's six-position calibration: the module is held still
// with each face up in turn, in any order. A position is taken once the
// readings have been still for a second and gravity names the face; from
// the six come each axis's offset and gain, so that
//   acceleration in g = gain * (reading - offset), axis by axis.
// No I/O; times are milliseconds of a monotonic clock.
#pragma once

#include <cstdint>

#include "view_numerics.h"

// The faces by the axis that points up (gravity reads along it): +x, -x,
// +y, -y, +z, -z. Lying level the module is face up (+z).
constexpr int accel_face_count = 6;
// The face of the vector's largest component when that holds at least
// min_share of its length (0: always), or -1 (also for the zero vector).
int accel_face_of(view_vector acceleration, double min_share);
// "nose up", "nose down", "left side up", "right side up", "face up",
// "face down".
const char *accel_face_name(int face);
// What to do to bring a face up: "tilt it nose up", "turn it face down", ...
const char *accel_face_hint(int face);

// Still: at least a second of readings whose spread (standard deviation)
// on every axis is under 1 % of their mean's length.
constexpr int64_t accel_still_ms = 1000;
constexpr double accel_still_spread = 0.01;
// A face is recognised when gravity lies within about 25 degrees of its axis.
constexpr double accel_face_share = 0.9;
constexpr int accel_window_capacity = 256;

struct accel_collect {
  int64_t times_ms[accel_window_capacity];  // ring of recent readings
  double readings[accel_window_capacity][3];
  int next;
  int stored;
  bool taken[accel_face_count];
  double position[accel_face_count][3];  // mean reading of each face taken
  int positions;
  bool still;  // the last reading ended a still second
};
void accel_collect_reset(accel_collect *collect);
// Adds one reading; returns the face taken by it, or -1.
int accel_collect_add(accel_collect *collect, int64_t now_ms, view_vector reading);

struct accel_result {
  double offset[3];
  double gain[3];
  int positions;
  double worst_error;  // largest | |calibrated A| - 1 g | over the six, in %
  bool complete;       // all six faces taken
  bool good;           // complete, and worst_error under 1 %
};
constexpr double accel_good_error = 1.0;
// The offsets and gains from the six faces (zeros and ones before).
accel_result accel_fit(const accel_collect &collect);
// gain * (reading - offset): the acceleration in g.
view_vector accel_apply(const accel_result &result, view_vector reading);
