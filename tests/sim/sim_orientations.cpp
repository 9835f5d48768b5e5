// SPDX-License-Identifier: MIT
#include "sim_orientations.h"

#include <cmath>

namespace {

constexpr double pi = 3.14159265358979323846;

struct vec3 {
  double x, y, z;
};

vec3 normalised(vec3 v) {
  const double length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  return {v.x / length, v.y / length, v.z / length};
}

// The Earth's vectors in the module's axes, for a module whose up direction
// (in its own axes) is up and which is turned by heading about the
// vertical. The module's attitude is heading, then pitch, then roll, with
// up = (-sin pitch, cos pitch sin roll, cos pitch cos roll).
vec3 field_in_module(vec3 up, double heading, double field, double dip) {
  const double pitch = std::asin(-up.x);
  const double roll = std::atan2(up.y, up.z);
  // North along x of the Earth frame, z up; the field dips below north.
  vec3 v{field * std::cos(dip), 0.0, -field * std::sin(dip)};
  // The transposed rotations, in reverse order: z (heading), y (pitch), x (roll).
  const double ch = std::cos(heading), sh = std::sin(heading);
  v = {ch * v.x + sh * v.y, -sh * v.x + ch * v.y, v.z};
  const double cp = std::cos(pitch), sp = std::sin(pitch);
  v = {cp * v.x - sp * v.z, v.y, sp * v.x + cp * v.z};
  const double cr = std::cos(roll), sr = std::sin(roll);
  return {v.x, cr * v.y + sr * v.z, -sr * v.y + cr * v.z};
}

// Uniform noise in [-1, 1), the same on every platform.
struct noise_source {
  uint32_t state = 2463534242u;
  double next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return static_cast<double>(state) / 2147483648.0 - 1.0;
  }
};

struct sampler {
  const sim_distortion &d;
  const sim_orientation_options &o;
  noise_source noise;
  std::vector<sim_sample> samples;

  void add(vec3 up, double heading) {
    up = normalised(up);
    const vec3 b = field_in_module(up, heading, o.field, o.dip_deg * pi / 180.0);
    const double field[3] = {b.x, b.y, b.z};
    const double gravity[3] = {up.x, up.y, up.z};
    sim_sample s{};
    for (int i = 0; i < 3; ++i) {
      double geo = d.geo_offset[i] + o.noise * o.field * noise.next();
      for (int j = 0; j < 3; ++j) geo += d.soft_iron[i][j] * field[j];
      const double acc = d.acc_offset[i] + d.acc_scale[i] * (gravity[i] + o.noise * noise.next());
      s[static_cast<std::size_t>(i)] = static_cast<int32_t>(std::lround(geo));
      // On the wire the acceleration has a tenth of the printed resolution.
      s[static_cast<std::size_t>(i) + 3] = static_cast<int32_t>(std::lround(acc / 10.0)) * 10;
    }
    samples.push_back(s);
  }
};

// The up direction of the spiral's k-th point: from +z down to -z at
// equal steps of height (equal area), winding round 20 times.
vec3 spiral_up(int k, int count) {
  const double z = 1.0 - 2.0 * (k + 0.5) / count;
  const double r = std::sqrt(std::fmax(0.0, 1.0 - z * z));
  const double longitude = 2.0 * pi * 20.0 * k / count;
  return {r * std::cos(longitude), r * std::sin(longitude), z};
}

uint16_t wire(int32_t value) { return static_cast<uint16_t>(static_cast<int16_t>(value)); }

}  // namespace

sim_distortion sim_demo_distortion(void) {
  return {{420.0, -310.0, 150.0},
          {{1.08, 0.05, -0.03}, {0.05, 0.94, 0.04}, {-0.03, 0.04, 1.02}},
          {120.0, -80.0, 200.0},
          {9800.0 * 1.02, 9800.0 * 0.97, 9800.0 * 1.01}};
}

std::vector<sim_sample> sim_orientation_samples(const sim_distortion &distortion,
                                                const sim_orientation_options &options) {
  sampler s{distortion, options, {}, {}};
  for (int k = 0; k < options.turn_samples; ++k) {
    // A turn about the vertical every 11.3 samples, out of step with the
    // spiral, so that every up direction sees the field from all sides.
    s.add(spiral_up(k, options.turn_samples), 2.0 * pi * k / 11.3);
  }
  // Then each face up in turn, held still, with a move between.
  const vec3 faces[6] = {{0, 0, -1}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}, {0, 0, 1}};
  vec3 from = spiral_up(options.turn_samples - 1, options.turn_samples);
  for (int face = 0; face < 6; ++face) {
    const vec3 to = faces[face];
    for (int k = 1; k <= options.move_samples; ++k) {
      const double t = static_cast<double>(k) / (options.move_samples + 1);
      // Through a point off the great circle, so opposite faces have a path.
      const vec3 via{from.x + to.x + 0.3, from.y + to.y + 0.2, from.z + to.z + 0.1};
      const vec3 up =
          t < 0.5 ? vec3{from.x + (via.x - from.x) * 2 * t, from.y + (via.y - from.y) * 2 * t,
                         from.z + (via.z - from.z) * 2 * t}
                  : vec3{via.x + (to.x - via.x) * (2 * t - 1), via.y + (to.y - via.y) * (2 * t - 1),
                         via.z + (to.z - via.z) * (2 * t - 1)};
      s.add(up, 0.5 * face + t);
    }
    for (int k = 0; k < options.hold_samples; ++k) s.add(to, 0.5 * face + 1.0);
    from = to;
  }
  return s.samples;
}

std::vector<sim_reply> sim_orientation_script(const sim_distortion &distortion,
                                              const sim_orientation_options &options) {
  std::vector<sim_reply> replies;
  for (const sim_sample &s : sim_orientation_samples(distortion, options)) {
    // The program prints the first two fields of each group swapped.
    replies.push_back(sim_fields(wire(s[1]), wire(s[0]), wire(s[2]), wire(s[4] / 10),
                                 wire(s[3] / 10), wire(s[5] / 10)));
  }
  return replies;
}
