// SPDX-License-Identifier: MIT
// The geomagnetic calibration: an ellipsoid fitted to readings taken while
// the module turns through all orientations, and the quality of the data in
// four figures. No I/O.
//
// The fit grows with the points: a sphere (offsets only) from 40 points, an
// axis-aligned ellipsoid (offsets and a gain per axis) from 100, a full
// ellipsoid (offsets and a symmetric 3x3 soft-iron matrix) from 150.
// Degenerate data (too few points, all near one plane, one cluster) or a fit
// that is no ellipsoid falls back to the simpler model and is never good.
//
// The result maps a reading to the calibrated field:
//   calibrated = matrix * (reading - offset),
// with |calibrated| = field on the fitted ellipsoid. The matrix has
// determinant 1, so it stays near the identity and field is the geometric
// mean of the ellipsoid's radii, in the readings' units.
#pragma once

#include "view_numerics.h"

enum calib_model { calib_model_none, calib_model_sphere, calib_model_diagonal, calib_model_full };

// Why a calibration is simpler than its points allow, or not good.
enum calib_doubt {
  calib_doubt_none,
  calib_doubt_too_few,   // under 40 points (or under the next model's count)
  calib_doubt_cluster,   // the points lie in one small cluster
  calib_doubt_planar,    // the points lie near one plane
  calib_doubt_unstable,  // a richer fit was no ellipsoid
  calib_doubt_quality    // a figure is over its limit
};

constexpr int calib_sphere_points = 40;
constexpr int calib_diagonal_points = 100;
constexpr int calib_full_points = 150;

// The sphere split into 100 regions of equal area: 10 bands of equal height
// along z (equal height is equal area on a sphere), each cut into 10 equal
// sectors of longitude.
constexpr int calib_region_count = 100;
// 0..99, or -1 for the zero vector.
int calib_region_of(view_vector direction);

// The data's quality, each in %. Limits of a good calibration below.
struct calib_quality {
  double gaps;       // share of the 100 regions with no calibrated point
  double variance;   // standard deviation of calibrated |B| over its mean
  double wobble;     // distance of the points' mean from the fitted centre, of the field
  double fit_error;  // root mean square of calibrated |B| less field, of the field
};
constexpr double calib_gaps_limit = 15.0;
constexpr double calib_variance_limit = 4.5;
constexpr double calib_wobble_limit = 4.0;
constexpr double calib_fit_error_limit = 5.0;
bool calib_quality_good(const calib_quality &quality);

struct geo_calibration {
  calib_model model;
  calib_doubt doubt;
  double offset[3];
  double matrix[3][3];
  double field;
  int points;
  calib_quality quality;
  bool good;
};

// The identity calibration (no model, offsets 0, unit matrix).
geo_calibration calib_none(int points);

// Fits points[0..count-1] (readings in the module's units).
geo_calibration calib_fit_geomagnetic(const double (*points)[3], int count);

// matrix * (reading - offset).
view_vector calib_apply_geomagnetic(const geo_calibration &calibration, view_vector reading);

// Names for the screen and the file.
const char *calib_model_name(calib_model model);
const char *calib_doubt_text(calib_doubt doubt);
