// SPDX-License-Identifier: MIT
// The calibrations against synthetic readings with known parameters: the
// ellipsoid fit and its figures on noisy, partial, planar and clustered
// clouds; the accelerometer's six positions; the file read back and bad
// files refused. Built for Windows too (tests/windows).
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "accel_calibration.h"
#include "calibration_file.h"
#include "calibration_fit.h"

namespace {

// Uniform in [-1, 1) from the generator's raw output, the same on every
// platform (the standard distributions are not).
double unit_noise(std::mt19937 &generator) {
  return static_cast<double>(generator()) / 2147483648.0 - 1.0;
}

view_vector random_direction(std::mt19937 &generator) {
  const double z = unit_noise(generator);
  const double angle = 3.14159265358979323846 * unit_noise(generator);
  const double r = std::sqrt(1.0 - z * z);
  return {r * std::cos(angle), r * std::sin(angle), z};
}

using matrix3 = double[3][3];

struct cloud_case {
  const char *name;
  double offset[3];
  matrix3 soft_iron;  // symmetric
  double field;
  double noise;  // of the field, uniform
  int points;
  std::function<bool(view_vector)> keep;
  calib_model model;
  calib_doubt doubt;
};

bool everywhere(view_vector) { return true; }

// Readings of a field of the given strength in directions the case keeps,
// through the soft iron, plus the offset and noise.
std::vector<std::array<double, 3>> cloud_of(const cloud_case &c) {
  std::mt19937 generator(20261207u);
  std::vector<std::array<double, 3>> points;
  while (static_cast<int>(points.size()) < c.points) {
    const view_vector d = random_direction(generator);
    if (!c.keep(d)) continue;
    const double b[3] = {c.field * d.x, c.field * d.y, c.field * d.z};
    std::array<double, 3> p{};
    for (int i = 0; i < 3; ++i) {
      p[i] = c.offset[i] + c.noise * c.field * unit_noise(generator);
      for (int j = 0; j < 3; ++j) p[i] += c.soft_iron[i][j] * b[j];
    }
    points.push_back(p);
  }
  return points;
}

geo_calibration fit(const std::vector<std::array<double, 3>> &points) {
  return calib_fit_geomagnetic(reinterpret_cast<const double(*)[3]>(points.data()),
                               static_cast<int>(points.size()));
}

Eigen::Matrix3d as_matrix(const matrix3 &m) {
  Eigen::Matrix3d out;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out(i, j) = m[i][j];
  }
  return out;
}

// The matrix a calibration should find: the soft iron's inverse, scaled to
// determinant 1.
Eigen::Matrix3d expected_matrix(const matrix3 &soft_iron) {
  const Eigen::Matrix3d inverse = as_matrix(soft_iron).inverse();
  return inverse / std::cbrt(inverse.determinant());
}

#define IDENTITY                      \
  {                                   \
    {1, 0, 0}, {0, 1, 0}, { 0, 0, 1 } \
  }
#define SOFT_IRON                                                  \
  {                                                                \
    {1.08, 0.05, -0.03}, {0.05, 0.94, 0.04}, { -0.03, 0.04, 1.02 } \
  }
#define STRETCH                              \
  {                                          \
    {1.15, 0, 0}, {0, 0.9, 0}, { 0, 0, 1.0 } \
  }

const cloud_case clouds[] = {
    {"sphere, no noise",
     {300, -150, 80},
     IDENTITY,
     2000,
     0.0,
     2000,
     everywhere,
     calib_model_full,
     calib_doubt_none},
    {"soft iron, 1 % noise",
     {420, -310, 150},
     SOFT_IRON,
     2500,
     0.01,
     600,
     everywhere,
     calib_model_full,
     calib_doubt_none},
    {"large offsets",
     {-20000, 15000, 3000},
     SOFT_IRON,
     9000,
     0.005,
     1000,
     everywhere,
     calib_model_full,
     calib_doubt_none},
    // Too few points to cover the regions: right, but not good.
    {"stretched axes, 120 points",
     {50, 60, -70},
     STRETCH,
     1500,
     0.005,
     120,
     everywhere,
     calib_model_diagonal,
     calib_doubt_quality},
    {"60 points",
     {50, 60, -70},
     IDENTITY,
     1500,
     0.005,
     60,
     everywhere,
     calib_model_sphere,
     calib_doubt_quality},
    {"30 points",
     {50, 60, -70},
     IDENTITY,
     1500,
     0.005,
     30,
     everywhere,
     calib_model_none,
     calib_doubt_too_few},
    {"upper hemisphere",
     {420, -310, 150},
     SOFT_IRON,
     2500,
     0.005,
     600,
     [](view_vector v) { return v.z > 0.0; },
     calib_model_full,
     calib_doubt_quality},
    {"band along the equator",
     {420, -310, 150},
     IDENTITY,
     2500,
     0.002,
     600,
     [](view_vector v) { return std::fabs(v.z) < 0.05; },
     calib_model_sphere,
     calib_doubt_planar},
    {"cone of 3 degrees",
     {420, -310, 150},
     IDENTITY,
     2500,
     0.0005,
     600,
     [](view_vector v) { return v.x > std::cos(3.0 * 3.14159265 / 180.0); },
     calib_model_none,
     calib_doubt_cluster},
};

TEST(calibration_fit, finds_known_offsets_and_matrix_or_says_why_not) {
  for (const cloud_case &c : clouds) {
    SCOPED_TRACE(c.name);
    const geo_calibration g = fit(cloud_of(c));
    EXPECT_EQ(g.model, c.model) << calib_model_name(g.model);
    EXPECT_EQ(g.doubt, c.doubt) << calib_doubt_text(g.doubt) << " gaps " << g.quality.gaps
                                << " variance " << g.quality.variance << " wobble "
                                << g.quality.wobble << " fit error " << g.quality.fit_error;
    EXPECT_EQ(g.good, c.doubt == calib_doubt_none);
    EXPECT_EQ(g.points, c.points);
    if (g.model == calib_model_none || c.doubt == calib_doubt_planar) continue;
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(g.offset[i], c.offset[i], 0.01 * c.field) << i;
    const Eigen::Matrix3d expected = expected_matrix(c.soft_iron);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(g.matrix[i][j], expected(i, j), 0.02) << i << j;
    }
    EXPECT_NEAR(g.field, c.field * std::cbrt(as_matrix(c.soft_iron).determinant()), 0.01 * c.field);
  }
}

// A module turned flat keeps its in-plane offsets.
TEST(calibration_fit, planar_data_keeps_the_in_plane_offsets) {
  const geo_calibration g = fit(cloud_of(clouds[7]));
  EXPECT_NEAR(g.offset[0], 420, 10);
  EXPECT_NEAR(g.offset[1], -310, 10);
  EXPECT_NEAR(g.offset[2], 150, 10);  // the points' own height: no better guess
}

// The figures: noise shows as variance and fit error, a half sphere as
// gaps and wobble.
TEST(calibration_fit, figures_measure_noise_gaps_and_wobble) {
  struct figure_case {
    const cloud_case &cloud;
    double gaps_low, gaps_high, variance_high, wobble_low, wobble_high;
  };
  const figure_case cases[] = {
      {clouds[0], 0, 1, 0.01, 0, 8},     // exact: variance ~0; wobble only sampling
      {clouds[1], 0, 2, 1.0, 0, 4},      // 1 % uniform noise: ~0.6 %
      {clouds[6], 45, 55, 1.0, 30, 70},  // half: half the regions, centre far off
  };
  for (const figure_case &c : cases) {
    SCOPED_TRACE(c.cloud.name);
    const geo_calibration g = fit(cloud_of(c.cloud));
    EXPECT_GE(g.quality.gaps, c.gaps_low);
    EXPECT_LE(g.quality.gaps, c.gaps_high);
    EXPECT_LE(g.quality.variance, c.variance_high);
    EXPECT_GE(g.quality.wobble, c.wobble_low);
    EXPECT_LE(g.quality.wobble, c.wobble_high);
    EXPECT_LE(g.quality.fit_error, c.variance_high + 0.1);
  }
}

TEST(calibration_fit, regions_have_equal_area) {
  std::mt19937 generator(5u);
  int counts[calib_region_count] = {};
  const int draws = 200000;
  for (int k = 0; k < draws; ++k) {
    const int region = calib_region_of(random_direction(generator));
    ASSERT_GE(region, 0);
    ASSERT_LT(region, calib_region_count);
    ++counts[region];
  }
  for (int count : counts) EXPECT_NEAR(count, draws / calib_region_count, 200);
  // Band by height from the bottom, then sector by longitude from -180 degrees.
  const std::pair<view_vector, int> known[] = {
      {{0, 0, 0}, -1},      {{0, 0, 1}, 95},     {{0, 0, -1}, 5},     {{1, 0, 0}, 55},
      {{-1, -0.01, 0}, 50}, {{-1, 0.01, 0}, 59}, {{0, -1, 0.05}, 52}, {{0.1, 0.1, -0.99}, 6},
  };
  for (const auto &[v, region] : known) EXPECT_EQ(calib_region_of(v), region) << v.x << v.y << v.z;
}

// --- the accelerometer

struct face_case {
  view_vector a;
  int face;
};

TEST(accel_calibration, names_the_face_up_within_about_25_degrees) {
  const face_case cases[] = {
      {{0, 0, 9800}, 4},     {{0, 0, -9800}, 5}, {{9800, 0, 0}, 0},    {{-9800, 0, 0}, 1},
      {{0, 9800, 0}, 2},     {{0, -9800, 0}, 3}, {{3000, 0, 9000}, 4},  // 18 degrees
      {{5000, 0, 8000}, -1},                                            // 32 degrees
      {{0, 0, 0}, -1},
  };
  for (const face_case &c : cases) {
    EXPECT_EQ(accel_face_of(c.a, accel_face_share), c.face)
        << c.a.x << " " << c.a.y << " " << c.a.z;
  }
  // With no least share, the largest component names the face.
  EXPECT_EQ(accel_face_of({5000, 0, 8000}, 0.0), 4);
  EXPECT_EQ(accel_face_of({100, -200, 150}, 0.0), 3);
  EXPECT_EQ(accel_face_of({-7, 6, 0}, 0.0), 1);
}

struct accel_case {
  const char *name;
  double offset[3];
  double scale[3];  // units per g
  double tilt_deg;  // every position off its face by this much
  double cross;     // share of x read into y (axes not orthogonal)
  double noise;     // of 1 g
  int hold_ms;
  int faces_taken;
  bool good;
};

TEST(accel_calibration, six_still_faces_give_offsets_and_gains) {
  const accel_case cases[] = {
      {"ideal", {0, 0, 0}, {9800, 9800, 9800}, 0, 0, 0, 1500, 6, true},
      {"offsets and gains", {120, -80, 200}, {9996, 9506, 9898}, 0, 0, 0.002, 1500, 6, true},
      {"3 degrees off each face", {120, -80, 200}, {9996, 9506, 9898}, 3, 0, 0.002, 1500, 6, true},
      {"axes 15 % out of square",
       {120, -80, 200},
       {9996, 9506, 9898},
       0,
       0.15,
       0.002,
       1500,
       6,
       false},
      {"held under a second", {0, 0, 0}, {9800, 9800, 9800}, 0, 0, 0.0, 700, 0, false},
      {"shaking", {0, 0, 0}, {9800, 9800, 9800}, 0, 0, 0.08, 1500, 0, false},
  };
  const view_vector faces[6] = {{1, 0, 0},  {-1, 0, 0}, {0, 1, 0},
                                {0, -1, 0}, {0, 0, 1},  {0, 0, -1}};
  for (const accel_case &c : cases) {
    SCOPED_TRACE(c.name);
    auto collect = std::make_unique<accel_collect>();
    accel_collect_reset(collect.get());
    std::mt19937 generator(3u);
    int64_t now = 0;
    const double t = c.tilt_deg * 3.14159265358979 / 180.0;
    for (const view_vector &f : faces) {
      // Tilted towards the next axis round.
      const view_vector g{f.x * std::cos(t) + f.z * std::sin(t),
                          f.y * std::cos(t) + f.x * std::sin(t),
                          f.z * std::cos(t) + f.y * std::sin(t)};
      for (int ms = 0; ms < c.hold_ms; ms += 40) {
        now += 40;
        const double n[3] = {c.noise * unit_noise(generator), c.noise * unit_noise(generator),
                             c.noise * unit_noise(generator)};
        const view_vector reading{c.offset[0] + c.scale[0] * (g.x + n[0]),
                                  c.offset[1] + c.scale[1] * (g.y + c.cross * g.x + n[1]),
                                  c.offset[2] + c.scale[2] * (g.z + n[2])};
        accel_collect_add(collect.get(), now, reading);
      }
      now += 2000;  // moved to the next face: a gap in time
    }
    EXPECT_EQ(collect->positions, c.faces_taken);
    const accel_result r = accel_fit(*collect);
    EXPECT_EQ(r.complete, c.faces_taken == 6);
    EXPECT_EQ(r.good, c.good) << r.worst_error;
    if (!c.good) continue;
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(r.offset[i], c.offset[i], 0.003 * 9800) << i;
      EXPECT_NEAR(r.gain[i] * c.scale[i], 1.0, 0.005) << i;
    }
    const view_vector level = accel_apply(r, {c.offset[0], c.offset[1], c.offset[2] + c.scale[2]});
    EXPECT_NEAR(level.z, 1.0, 0.005);
  }
}

// --- the file

calibration_set sample_set() {
  calibration_set set{};
  set.has_geomagnetic = true;
  geo_calibration &g = set.geomagnetic;
  g = calib_none(512);
  g.model = calib_model_full;
  g.doubt = calib_doubt_none;
  const double offset[3] = {420.25, -310.5, 150.125};
  const matrix3 matrix = {{0.93, -0.05, 0.03}, {-0.05, 1.07, -0.04}, {0.03, -0.04, 0.98}};
  for (int i = 0; i < 3; ++i) {
    g.offset[i] = offset[i];
    for (int j = 0; j < 3; ++j) g.matrix[i][j] = matrix[i][j];
  }
  g.field = 2497.5;
  g.quality = {3.0, 0.75, 0.5, 0.8};
  g.good = true;
  set.has_acceleration = true;
  accel_result &a = set.acceleration;
  a = accel_result{};
  const double acc_offset[3] = {120, -80, 200};
  const double gain[3] = {1.0004e-4, 1.0519e-4, 1.0103e-4};
  for (int i = 0; i < 3; ++i) {
    a.offset[i] = acc_offset[i];
    a.gain[i] = gain[i];
  }
  a.positions = 6;
  a.complete = true;
  a.good = true;
  return set;
}

TEST(calibration_file, reads_back_what_it_writes) {
  for (int sections = 1; sections <= 3; ++sections) {
    SCOPED_TRACE(sections);
    calibration_set set = sample_set();
    set.has_geomagnetic = (sections & 1) != 0;
    set.has_acceleration = (sections & 2) != 0;
    const std::string text = calibration_json(set);
    EXPECT_EQ(text.find("\"geomagnetic\"") != std::string::npos, set.has_geomagnetic) << text;
    calibration_set back{};
    char error[160] = "";
    ASSERT_TRUE(calibration_parse(text, &back, error, sizeof error)) << error;
    EXPECT_EQ(back.has_geomagnetic, set.has_geomagnetic);
    EXPECT_EQ(back.has_acceleration, set.has_acceleration);
    if (set.has_geomagnetic) {
      const geo_calibration &a = set.geomagnetic;
      const geo_calibration &b = back.geomagnetic;
      EXPECT_EQ(b.model, a.model);
      EXPECT_EQ(b.points, a.points);
      EXPECT_EQ(b.good, a.good);
      EXPECT_EQ(b.field, a.field);
      EXPECT_EQ(b.quality.fit_error, a.quality.fit_error);
      for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(b.offset[i], a.offset[i]);
        for (int j = 0; j < 3; ++j) EXPECT_EQ(b.matrix[i][j], a.matrix[i][j]);
      }
    }
    if (set.has_acceleration) {
      for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(back.acceleration.offset[i], set.acceleration.offset[i]);
        EXPECT_EQ(back.acceleration.gain[i], set.acceleration.gain[i]);
      }
      EXPECT_EQ(back.acceleration.positions, 6);
    }
  }
}

TEST(calibration_file, the_c_snippet_holds_the_same_values) {
  const std::string c = calibration_c_snippet(sample_set());
  for (const char *part :
       {"static const double geo_offset[3] = {420.25, -310.5, 150.125};",
        "    {0.93, -0.05, 0.03},", "static const double geo_field = 2497.5;",
        "static const double acc_offset[3] = {120, -80, 200};",
        "static const double acc_gain[3] = {0.00010004, 0.00010519, 0.00010103};"}) {
    EXPECT_NE(c.find(part), std::string::npos) << part << "\n" << c;
  }
}

struct bad_file_case {
  const char *text;
  const char *error;
};

TEST(calibration_file, refuses_bad_files_saying_what_is_wrong) {
  const bad_file_case cases[] = {
      {"", "not valid JSON"},
      {"{\"version\": 1, \"geomagnetic\": {", "not valid JSON"},
      {"[1, 2]", "not a JSON object"},
      {"{}", "no \"version\""},
      {"{\"version\": 2, \"acceleration\": {}}", "version is not 1"},
      {"{\"version\": \"1\"}", "version is not 1"},
      {"{\"version\": 1}", "neither a \"geomagnetic\" nor an \"acceleration\" section"},
      {"{\"version\": 1, \"geomagnetic\": []}", "\"geomagnetic\" is not an object"},
      {"{\"version\": 1, \"geomagnetic\": {\"matrix\": []}}", "geomagnetic: no \"offset\""},
      {"{\"version\": 1, \"geomagnetic\": {\"offset\": [1, 2], \"matrix\": []}}",
       "geomagnetic offset is not an array of 3 numbers"},
      {"{\"version\": 1, \"geomagnetic\": {\"offset\": [1, 2, \"3\"]}}",
       "geomagnetic offset is not an array of 3 numbers"},
      {"{\"version\": 1, \"geomagnetic\": {\"offset\": [1, 2, 3]}}", "geomagnetic: no \"matrix\""},
      {"{\"version\": 1, \"geomagnetic\": {\"offset\": [1, 2, 3], \"matrix\": [[1, 0, 0], [0, 1, "
       "0]]}}",
       "geomagnetic matrix is not 3 rows of 3 numbers"},
      {"{\"version\": 1, \"geomagnetic\": {\"offset\": [1, 2, 3], \"matrix\": [[1, 0, 0], [0, 1, "
       "0], [0, 1, null]]}}",
       "geomagnetic matrix row 3 is not an array of 3 numbers"},
      {"{\"version\": 1, \"geomagnetic\": {\"offset\": [1, 2, 3], \"matrix\": [[1, 0, 0], [0, 1, "
       "0], [0, 2, 0]]}}",
       "geomagnetic matrix is singular"},
      {"{\"version\": 1, \"geomagnetic\": {\"offset\": [1, 2, 3], \"matrix\": [[1, 0, 0], [0, 1, "
       "0], [0, 0, 1]], \"model\": \"cube\"}}",
       "geomagnetic model is not \"sphere\", \"diagonal\" or \"full\""},
      {"{\"version\": 1, \"geomagnetic\": {\"offset\": [1, 2, 3], \"matrix\": [[1, 0, 0], [0, 1, "
       "0], [0, 0, 1]], \"quality\": {\"gaps\": \"low\"}}}",
       "geomagnetic quality: \"gaps\" is not a number"},
      {"{\"version\": 1, \"geomagnetic\": {\"offset\": [1, 2, 3], \"matrix\": [[1, 0, 0], [0, 1, "
       "0], [0, 0, 1]], \"points\": -4}}",
       "geomagnetic: \"points\" is not a count"},
      {"{\"version\": 1, \"acceleration\": {\"offset\": [1, 2, 3], \"gain\": [1, 0, 1]}}",
       "acceleration gain is 0"},
      {"{\"version\": 1, \"acceleration\": {\"offset\": [1, 2, 3], \"gain\": [1, 1, 1], "
       "\"good\": 1}}",
       "acceleration: \"good\" is not true or false"},
  };
  for (const bad_file_case &c : cases) {
    SCOPED_TRACE(c.text);
    calibration_set set{};
    char error[160] = "";
    EXPECT_FALSE(calibration_parse(c.text, &set, error, sizeof error));
    EXPECT_STREQ(error, c.error);
  }
}

TEST(calibration_file, a_missing_file_gives_the_systems_reason) {
  calibration_set set{};
  char error[160] = "";
  EXPECT_FALSE(calibration_load_file("/nonexistent/calibration.json", &set, error, sizeof error));
  EXPECT_STREQ(error, std::strerror(ENOENT));
}

}  // namespace
