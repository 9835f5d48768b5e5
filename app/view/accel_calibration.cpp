// SPDX-License-Identifier: MIT
#include "accel_calibration.h"

#include <Eigen/Dense>
#include <cmath>
#include <cstddef>

namespace {

Eigen::Vector3d as_eigen(const double (&v)[3]) { return {v[0], v[1], v[2]}; }

// The readings of the last still_ms: their mean and the largest per-axis
// standard deviation. False when they do not yet span the whole time (the
// oldest of them at most a quarter second after its start).
bool recent_readings(const accel_collect &c, int64_t now_ms, Eigen::Vector3d *mean,
                     double *spread) {
  Eigen::Vector3d sum = Eigen::Vector3d::Zero();
  Eigen::Vector3d squares = Eigen::Vector3d::Zero();
  int count = 0;
  int64_t oldest_age = 0;
  for (int k = 1; k <= c.stored; ++k) {
    const int slot = (c.next - k + accel_window_capacity) % accel_window_capacity;
    const int64_t age = now_ms - c.times_ms[slot];
    if (age > accel_still_ms) break;
    oldest_age = age;
    const Eigen::Vector3d r = as_eigen(c.readings[slot]);
    sum += r;
    squares += r.cwiseProduct(r);
    ++count;
  }
  if (oldest_age < accel_still_ms - accel_still_ms / 4 || count < 5) return false;
  *mean = sum / count;
  *spread = (squares / count - mean->cwiseProduct(*mean)).cwiseMax(0.0).cwiseSqrt().maxCoeff();
  return true;
}

}  // namespace

int accel_face_of(view_vector a, double min_share) {
  const double length = view_magnitude(a);
  if (!(length > 0.0)) return -1;
  const double axes[3] = {a.x, a.y, a.z};
  int largest = 0;
  for (int axis = 1; axis < 3; ++axis) {
    if (std::fabs(axes[axis]) > std::fabs(axes[largest])) largest = axis;
  }
  if (std::fabs(axes[largest]) < min_share * length) return -1;
  return largest * 2 + (axes[largest] > 0 ? 0 : 1);
}

const char *accel_face_name(int face) {
  static const char *const names[accel_face_count] = {"nose up",       "nose down", "left side up",
                                                      "right side up", "face up",   "face down"};
  return face >= 0 && face < accel_face_count ? names[face] : "";
}

const char *accel_face_hint(int face) {
  static const char *const hints[accel_face_count] = {
      "tilt it nose up",       "tilt it nose down", "roll it left side up",
      "roll it right side up", "turn it face up",   "turn it face down"};
  return face >= 0 && face < accel_face_count ? hints[face] : "";
}

void accel_collect_reset(accel_collect *collect) { *collect = accel_collect{}; }

int accel_collect_add(accel_collect *c, int64_t now_ms, view_vector reading) {
  c->times_ms[c->next] = now_ms;
  c->readings[c->next][0] = reading.x;
  c->readings[c->next][1] = reading.y;
  c->readings[c->next][2] = reading.z;
  c->next = (c->next + 1) % accel_window_capacity;
  if (c->stored < accel_window_capacity) ++c->stored;
  Eigen::Vector3d mean;
  double spread = 0.0;
  c->still =
      recent_readings(*c, now_ms, &mean, &spread) && spread < accel_still_spread * mean.norm();
  if (!c->still) return -1;
  const int face = accel_face_of({mean(0), mean(1), mean(2)}, accel_face_share);
  if (face < 0 || c->taken[face]) return -1;
  c->taken[face] = true;
  for (int axis = 0; axis < 3; ++axis) c->position[face][axis] = mean(axis);
  ++c->positions;
  return face;
}

// Each axis from its two faces: the offset is the middle of the readings
// with the axis up and down, the gain 2 g over their difference. A tilt of
// a few degrees in a position changes them only in the second order.
accel_result accel_fit(const accel_collect &c) {
  accel_result r{};
  r.positions = c.positions;
  for (int axis = 0; axis < 3; ++axis) r.gain[axis] = 1.0;
  r.complete = c.positions == accel_face_count;
  if (!r.complete) return r;
  Eigen::Vector3d up;
  Eigen::Vector3d down;
  for (int axis = 0; axis < 3; ++axis) {
    const auto face = static_cast<std::size_t>(axis) * 2;
    up(axis) = c.position[face][axis];
    down(axis) = c.position[face + 1][axis];
  }
  const Eigen::Vector3d offset = (up + down) / 2.0;
  const Eigen::Vector3d gain = 2.0 * (up - down).cwiseInverse();
  if (!gain.allFinite() || (gain.array() <= 0.0).any()) {
    r.worst_error = 100.0;
    return r;
  }
  for (int axis = 0; axis < 3; ++axis) {
    r.offset[axis] = offset(axis);
    r.gain[axis] = gain(axis);
  }
  for (int face = 0; face < accel_face_count; ++face) {
    const double g = gain.cwiseProduct(as_eigen(c.position[face]) - offset).norm();
    r.worst_error = std::fmax(r.worst_error, 100.0 * std::fabs(g - 1.0));
  }
  r.good = r.worst_error < accel_good_error;
  return r;
}

view_vector accel_apply(const accel_result &r, view_vector reading) {
  return {r.gain[0] * (reading.x - r.offset[0]), r.gain[1] * (reading.y - r.offset[1]),
          r.gain[2] * (reading.z - r.offset[2])};
}
