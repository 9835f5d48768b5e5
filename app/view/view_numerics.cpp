// SPDX-License-Identifier: MIT
#include "view_numerics.h"

#include <cmath>

namespace {

constexpr double degrees_per_radian = 57.295779513082320876798;

view_vector cross(view_vector a, view_vector b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

}  // namespace

view_vector view_vector_of(const int32_t (&axes)[3]) {
  return {static_cast<double>(axes[0]), static_cast<double>(axes[1]), static_cast<double>(axes[2])};
}

double view_magnitude(view_vector v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

view_tilt view_tilt_of(view_vector acceleration) {
  const view_vector &a = acceleration;
  if (view_magnitude(a) == 0.0) return {0.0, 0.0, false};
  return {std::atan2(-a.x, std::sqrt(a.y * a.y + a.z * a.z)) * degrees_per_radian,
          std::atan2(a.y, a.z) * degrees_per_radian, true};
}

// East is the field crossed with up (the field's vertical part drops out);
// north is up crossed with east. The heading is the angle of the x axis
// between them, taken from their x components.
bool view_heading(view_vector geomagnetic, view_vector acceleration, double *heading_deg) {
  const view_vector east = cross(geomagnetic, acceleration);
  const view_vector north = cross(acceleration, east);
  const double east_length = view_magnitude(east);
  const double north_length = view_magnitude(north);
  if (east_length == 0.0 || north_length == 0.0) return false;
  double heading = std::atan2(east.x / east_length, north.x / north_length) * degrees_per_radian;
  if (heading < 0.0) heading += 360.0;
  if (heading >= 360.0) heading -= 360.0;
  *heading_deg = heading;
  return true;
}

void view_rate_reset(view_rate_meter *meter) { *meter = view_rate_meter{}; }

void view_rate_add(view_rate_meter *meter, int64_t now_ms) {
  meter->times_ms[meter->next] = now_ms;
  meter->next = (meter->next + 1) % view_rate_capacity;
  if (meter->stored < view_rate_capacity) ++meter->stored;
}

// While samples keep coming, the rate is the count of intervals between the
// samples of the window over their time span, which is steady for a steady
// stream. Once the newest sample is half a window old the stream has
// stopped or slowed down: then the count over the whole window, which falls
// to 0 as the window empties.
double view_rate_per_s(const view_rate_meter &meter, int64_t now_ms) {
  int in_window = 0;
  int64_t oldest = 0;
  int64_t newest = 0;
  for (int k = 1; k <= meter.stored; ++k) {
    const int64_t time = meter.times_ms[(meter.next - k + view_rate_capacity) % view_rate_capacity];
    if (now_ms - time >= view_rate_window_ms) break;
    if (in_window == 0) newest = time;
    oldest = time;
    ++in_window;
  }
  if (in_window == 0) return 0.0;
  if (now_ms - newest >= view_rate_window_ms / 2) {
    return in_window * 1000.0 / static_cast<double>(view_rate_window_ms);
  }
  if (in_window < 2 || newest == oldest) return 0.0;
  return (in_window - 1) * 1000.0 / static_cast<double>(newest - oldest);
}
