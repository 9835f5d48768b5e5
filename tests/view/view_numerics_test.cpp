// SPDX-License-Identifier: MIT
// The view's numbers against synthetic readings: attitude from vectors
// rotated by known angles, and the rate meter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>

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
