// SPDX-License-Identifier: MIT
// The numbers of the live view, with no I/O: field magnitudes, tilt and a
// tilt-compensated heading, a hard-iron calibration by per-axis min/max, the
// coverage of 26 orientation sectors, and a sample-rate meter.
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

// Hard-iron calibration: the smallest and largest reading of each
// geomagnetic axis; the offset of an axis is the middle of the two.
struct view_hard_iron {
  int32_t low[3];
  int32_t high[3];
  int64_t samples;
};
void view_hard_iron_reset(view_hard_iron *calibration);
void view_hard_iron_add(view_hard_iron *calibration, const int32_t (&geomagnetic)[3]);
// False (offsets all 0) before the first sample.
bool view_hard_iron_offsets(const view_hard_iron &calibration, double (&offsets)[3]);

// The 26 directions of a 3x3x3 cube less its centre. A vector falls in the
// sector (sx, sy, sz), each -1, 0 or +1: projected on the cube's surface
// (divided by its largest absolute component), each component beyond one
// third of the way to the surface counts as -1 or +1.
constexpr int view_sector_count = 26;
// 0..25, or -1 for the zero vector.
int view_sector_of(view_vector v);

struct view_coverage {
  bool visited[view_sector_count];
  int count;
};
void view_coverage_reset(view_coverage *coverage);
void view_coverage_add(view_coverage *coverage, view_vector v);

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
