// SPDX-License-Identifier: MIT
// A module that turns through all orientations and then holds each face
// still, for watching a calibration converge: a script of sample replies
// for the simulator, read through a known distortion.
//
// The module sits in an Earth field of the given strength dipping down by
// dip_deg, with gravity reading along the axis that points up. The readings
// pass through the distortion:
//   geomagnetic  = soft_iron * field in the module's axes + geo_offset
//   acceleration = acc_scale * gravity in the module's axes (g) + acc_offset
// in the units the program prints (the acceleration's wire value times 10).
// A calibration that is right gives back geo_offset, a matrix proportional
// to the inverse of soft_iron (symmetric here, as soft iron is), acc_offset
// and gains 1 / acc_scale.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sensor_sim.h"

struct sim_distortion {
  double geo_offset[3] = {0.0, 0.0, 0.0};
  double soft_iron[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
  double acc_offset[3] = {0.0, 0.0, 0.0};          // printed units
  double acc_scale[3] = {9800.0, 9800.0, 9800.0};  // printed units per g
};

// The distortion of the demo: offsets, a soft-iron matrix, accelerometer
// offsets and gains, all well away from the ideal.
sim_distortion sim_demo_distortion(void);

struct sim_orientation_options {
  double field = 2500.0;  // |B| before the distortion
  double dip_deg = 60.0;
  int turn_samples = 1500;  // the turn through all orientations
  int hold_samples = 50;    // each face held still (2 s at 25 samples/s)
  int move_samples = 15;    // from one face to the next
  double noise = 0.002;     // of the field and of 1 g, uniform, deterministic
};

// The six values per sample as the program prints them (geo1..3, acc1..3).
using sim_sample = std::array<int32_t, 6>;
std::vector<sim_sample> sim_orientation_samples(const sim_distortion &distortion,
                                                const sim_orientation_options &options);

// The same samples as replies on the wire.
std::vector<sim_reply> sim_orientation_script(const sim_distortion &distortion,
                                              const sim_orientation_options &options);
