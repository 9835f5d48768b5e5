// SPDX-License-Identifier: MIT
// The numbers of the live view, with no I/O: field magnitudes, tilt and a
// tilt-compensated heading, and a sample-rate meter. The calibrations have
// files of their own (calibration_fit.h, accel_calibration.h).
//
// Axis convention: axes 1, 2, 3 of each group are x, y, z of one
// right-handed frame. Lying level, at rest, the acceleration points along +z
// (z up); pitch and roll are then 0. The heading is the angle from magnetic
// north to the x axis projected on the horizontal plane, clockwise seen from
// above: 0 north, 90 east, 0 to 360.
#pragma once

#include <cstdint>

struct view_vector {
  double x;
  double y;
  double z;
};

view_vector view_vector_of(const int32_t (&axes)[3]);

// Euclidean length.
double view_magnitude(view_vector v);

// Pitch and roll in degrees: roll = atan2(ay, az),
// pitch = atan2(-ax, sqrt(ay^2 + az^2)). Not valid for a zero vector.
struct view_tilt {
  double pitch_deg;
  double roll_deg;
  bool valid;
};
view_tilt view_tilt_of(view_vector acceleration);

// Tilt-compensated heading in degrees, 0 <= heading < 360. False when it is
// undefined: either vector zero, or the field parallel to the acceleration.
bool view_heading(view_vector geomagnetic, view_vector acceleration, double *heading_deg);

// Samples a second that 9600 baud allows: 38 bytes on the wire per sample
// (both commands and both replies with their line ends and extra
// characters), 10 bits a byte with start and stop bit.
constexpr double view_wire_limit_per_s = 9600.0 / (38.0 * 10.0);

// Sample rate over the last two seconds, from the times the samples came.
constexpr int view_rate_capacity = 512;
constexpr int64_t view_rate_window_ms = 2000;
struct view_rate_meter {
  int64_t times_ms[view_rate_capacity];  // ring, oldest overwritten
  int next;
  int stored;
};
void view_rate_reset(view_rate_meter *meter);
void view_rate_add(view_rate_meter *meter, int64_t now_ms);
// Samples a second as of now_ms; 0 before two samples.
double view_rate_per_s(const view_rate_meter &meter, int64_t now_ms);
