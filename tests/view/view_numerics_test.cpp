// SPDX-License-Identifier: MIT
// The view's numbers against synthetic readings: attitude from vectors
// rotated by known angles, hard-iron offsets from noisy spheres, sector
// coverage of partial clouds, and the rate meter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <set>

#include "view_fixture.h"
#include "view_numerics.h"

namespace {

constexpr double pi = 3.14159265358979323846;

double angle_difference(double a, double b) {
  double d = std::fmod(a - b, 360.0);
  if (d > 180.0) d -= 360.0;
  if (d < -180.0) d += 360.0;
  return std::fabs(d);
}

const attitude poses[] = {
    {0.0, 0.0, 0.0},       {90.0, 0.0, 0.0},     {180.0, 0.0, 0.0},   {270.0, 0.0, 0.0},
    {45.0, 10.0, -20.0},   {200.0, -30.0, 15.0}, {359.5, 5.0, 5.0},   {123.4, 60.0, -70.0},
    {300.0, -75.0, 170.0}, {12.0, 0.0, -150.0},  {250.0, 45.0, 90.0}, {0.05, -10.0, 0.0},
};

TEST(view_attitude, recovers_heading_pitch_and_roll_of_rotated_vectors) {
  for (const attitude &pose : poses) {
    SCOPED_TRACE(testing::Message() << "heading " << pose.heading_deg << " pitch " << pose.pitch_deg
                                    << " roll " << pose.roll_deg);
    view_vector geo{};
    view_vector acc{};
    readings_of(pose, 1.0, 1.0, &geo, &acc);
    const view_tilt tilt = view_tilt_of(acc);
    ASSERT_TRUE(tilt.valid);
    EXPECT_NEAR(tilt.pitch_deg, pose.pitch_deg, 1e-9);
    EXPECT_LT(angle_difference(tilt.roll_deg, pose.roll_deg), 1e-9);
    double heading = -1.0;
    ASSERT_TRUE(view_heading(geo, acc, &heading));
    EXPECT_LT(angle_difference(heading, pose.heading_deg), 1e-9);
    EXPECT_GE(heading, 0.0);
    EXPECT_LT(heading, 360.0);
  }
}

// The module's integer readings, geomagnetic about 2000 and acceleration
// about 1000 raw (times 10), still give the heading within 0.1 degree.
TEST(view_attitude, heading_from_module_integers_is_within_a_tenth_of_a_degree) {
  for (const attitude &pose : poses) {
    if (std::fabs(pose.pitch_deg) > 70.0) continue;  // field nearly vertical in the body
    SCOPED_TRACE(testing::Message() << "heading " << pose.heading_deg);
    int32_t values[6];
    sample_of(pose, module_shape{}, values);
    const int32_t geo[3] = {values[0], values[1], values[2]};
    const int32_t acc[3] = {values[3], values[4], values[5]};
    double heading = -1.0;
    ASSERT_TRUE(view_heading(view_vector_of(geo), view_vector_of(acc), &heading));
    EXPECT_LT(angle_difference(heading, pose.heading_deg), 0.1);
  }
}

TEST(view_attitude, level_module_reads_zero_tilt_and_undefined_cases_say_so) {
  const view_tilt level = view_tilt_of({0.0, 0.0, 9810.0});
  EXPECT_TRUE(level.valid);
  EXPECT_EQ(level.pitch_deg, 0.0);
  EXPECT_EQ(level.roll_deg, 0.0);
  EXPECT_FALSE(view_tilt_of({0.0, 0.0, 0.0}).valid);

  double heading = 42.0;
  EXPECT_FALSE(view_heading({1.0, 0.0, 0.0}, {0.0, 0.0, 0.0}, &heading));
  EXPECT_FALSE(view_heading({0.0, 0.0, 0.0}, {0.0, 0.0, 1.0}, &heading));
  EXPECT_FALSE(view_heading({0.0, 0.0, -5.0}, {0.0, 0.0, 1.0}, &heading));  // field vertical
  EXPECT_EQ(heading, 42.0);
}

TEST(view_magnitude, is_euclidean) {
  EXPECT_EQ(view_magnitude({3.0, 4.0, 12.0}), 13.0);
  EXPECT_EQ(view_magnitude({-3.0, -4.0, 0.0}), 5.0);
  EXPECT_EQ(view_magnitude({0.0, 0.0, 0.0}), 0.0);
}

// Uniform in [-1, 1) from the generator's raw output, the same on every
// platform (the standard distributions are not).
double unit_noise(std::mt19937 &generator) {
  return static_cast<double>(generator()) / 2147483648.0 - 1.0;
}

view_vector random_direction(std::mt19937 &generator) {
  const double z = unit_noise(generator);
  const double angle = pi * unit_noise(generator);
  const double r = std::sqrt(1.0 - z * z);
  return {r * std::cos(angle), r * std::sin(angle), z};
}

struct sphere_case {
  double offset[3];
  double radius;
  double noise;
  int points;
};

TEST(view_hard_iron, recovers_the_offset_of_a_noisy_sphere) {
  const sphere_case cases[] = {
      {{313.0, -1234.0, 77.0}, 2500.0, 8.0, 4000},
      {{0.0, 0.0, 0.0}, 1000.0, 0.0, 2000},
      {{-20000.0, 15000.0, 3000.0}, 9000.0, 40.0, 8000},
      {{5.5, -5.5, 0.5}, 300.0, 2.0, 3000},
  };
  std::mt19937 generator(20261207u);
  for (const sphere_case &c : cases) {
    SCOPED_TRACE(testing::Message() << "offset " << c.offset[0] << " noise " << c.noise);
    view_hard_iron calibration;
    view_hard_iron_reset(&calibration);
    for (int k = 0; k < c.points; ++k) {
      const view_vector d = random_direction(generator);
      const int32_t reading[3] = {
          static_cast<int32_t>(
              std::lround(c.offset[0] + c.radius * d.x + c.noise * unit_noise(generator))),
          static_cast<int32_t>(
              std::lround(c.offset[1] + c.radius * d.y + c.noise * unit_noise(generator))),
          static_cast<int32_t>(
              std::lround(c.offset[2] + c.radius * d.z + c.noise * unit_noise(generator)))};
      view_hard_iron_add(&calibration, reading);
    }
    double offsets[3];
    ASSERT_TRUE(view_hard_iron_offsets(calibration, offsets));
    for (int axis = 0; axis < 3; ++axis) {
      // Min and max each miss by at most the noise, the sphere's missed
      // extremes and the rounding.
      EXPECT_NEAR(offsets[axis], c.offset[axis], c.noise + 0.01 * c.radius + 1.0)
          << "axis " << axis;
    }
  }
}

TEST(view_hard_iron, has_no_offsets_before_a_sample_and_takes_min_max_per_axis) {
  view_hard_iron calibration;
  view_hard_iron_reset(&calibration);
  double offsets[3] = {1.0, 1.0, 1.0};
  EXPECT_FALSE(view_hard_iron_offsets(calibration, offsets));
  EXPECT_EQ(offsets[0], 0.0);
  const int32_t a[3] = {-32767, 10, 5};
  const int32_t b[3] = {32768, -10, 6};
  view_hard_iron_add(&calibration, a);
  view_hard_iron_add(&calibration, b);
  EXPECT_TRUE(view_hard_iron_offsets(calibration, offsets));
  EXPECT_EQ(offsets[0], 0.5);
  EXPECT_EQ(offsets[1], 0.0);
  EXPECT_EQ(offsets[2], 5.5);
}

TEST(view_coverage, the_26_cube_directions_fall_in_26_different_sectors) {
  std::set<int> sectors;
  for (int x = -1; x <= 1; ++x) {
    for (int y = -1; y <= 1; ++y) {
      for (int z = -1; z <= 1; ++z) {
        if (x == 0 && y == 0 && z == 0) continue;
        const int sector = view_sector_of({x * 7.0, y * 7.0, z * 7.0});
        EXPECT_GE(sector, 0);
        EXPECT_LT(sector, view_sector_count);
        sectors.insert(sector);
      }
    }
  }
  EXPECT_EQ(sectors.size(), 26u);
  EXPECT_EQ(view_sector_of({0.0, 0.0, 0.0}), -1);
}

struct cloud_case {
  const char *name;
  bool (*keep)(view_vector);
  int expected;
};

TEST(view_coverage, counts_the_sectors_of_partial_clouds) {
  const cloud_case cases[] = {
      {"whole sphere", [](view_vector) { return true; }, 26},
      {"upper hemisphere", [](view_vector v) { return v.z > 0.0; }, 17},
      {"one octant", [](view_vector v) { return v.x > 0 && v.y > 0 && v.z > 0; }, 7},
      {"cone of 10 degrees around +x", [](view_vector v) { return v.x > std::cos(10 * pi / 180); },
       1},
      {"band along the equator", [](view_vector v) { return std::fabs(v.z) < 0.05; }, 8},
      {"nothing", [](view_vector) { return false; }, 0},
  };
  for (const cloud_case &c : cases) {
    SCOPED_TRACE(c.name);
    std::mt19937 generator(7u);
    view_coverage coverage;
    view_coverage_reset(&coverage);
    for (int k = 0; k < 20000; ++k) {
      const view_vector d = random_direction(generator);
      if (c.keep(d)) view_coverage_add(&coverage, {d.x * 1500.0, d.y * 1500.0, d.z * 1500.0});
    }
    EXPECT_EQ(coverage.count, c.expected);
    int visited = 0;
    for (bool v : coverage.visited) visited += v ? 1 : 0;
    EXPECT_EQ(visited, c.expected);
  }
}

struct rate_case {
  int64_t interval_ms;
  int samples;
  int64_t read_after_ms;  // after the last sample
  double expected;
};

TEST(view_rate, measures_steady_streams_and_falls_to_zero_when_they_stop) {
  const rate_case cases[] = {
      {40, 100, 0, 25.0},   {5, 1000, 0, 200.0}, {100, 50, 0, 10.0}, {40, 100, 1500, 6.5},
      {40, 100, 3000, 0.0}, {40, 1, 0, 0.0},     {40, 0, 0, 0.0},
  };
  for (const rate_case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.interval_ms << " ms x " << c.samples << ", read "
                                    << c.read_after_ms << " ms later");
    view_rate_meter meter;
    view_rate_reset(&meter);
    int64_t now = 5000;
    for (int k = 0; k < c.samples; ++k) {
      now += c.interval_ms;
      view_rate_add(&meter, now);
    }
    EXPECT_NEAR(view_rate_per_s(meter, now + c.read_after_ms), c.expected, 0.01);
  }
  EXPECT_NEAR(view_wire_limit_per_s, 25.26, 0.005);
}

}  // namespace

namespace {

// Through the model: the sectors are counted against the centre the
// calibration ends with, also over more readings than it keeps one by one.
TEST(view_model_calibration, counts_sectors_against_the_final_centre) {
  struct model_case {
    int readings;
    bool whole_sphere;
    int expected;
  };
  const model_case cases[] = {{300, true, 26}, {5000, true, 26}, {5000, false, 8}};
  for (const model_case &c : cases) {
    SCOPED_TRACE(testing::Message() << c.readings << (c.whole_sphere ? " sphere" : " circle"));
    auto model = std::make_unique<view_model>();
    view_model_start(model.get(), 0, "", "", "");
    view_model_toggle_calibration(model.get());
    std::mt19937 generator(11u);
    for (int k = 0; k < c.readings; ++k) {
      view_vector d = random_direction(generator);
      if (!c.whole_sphere) {
        const double angle = 2 * pi * k / c.readings;
        d = {std::cos(angle), std::sin(angle), 0.0};
      }
      const int32_t values[6] = {static_cast<int32_t>(std::lround(-5000 + 2000 * d.x)),
                                 static_cast<int32_t>(std::lround(1200 + 2000 * d.y)),
                                 static_cast<int32_t>(std::lround(300 + 2000 * d.z)),
                                 0,
                                 0,
                                 10000};
      view_model_add(model.get(), 10 * k, sensor_sample_read, values);
    }
    EXPECT_EQ(model->coverage.count, c.expected);
    EXPECT_LE(model->kept_count, view_kept_capacity);
    double offsets[3];
    ASSERT_TRUE(view_model_offsets(*model, offsets));
    EXPECT_NEAR(offsets[0], -5000, 60);
    EXPECT_NEAR(offsets[1], 1200, 60);
  }
}

}  // namespace
