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
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

// Symmetric soft iron: none, a general one, stretched axes.
const double soft_irons[3][3][3] = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}},
                                    {{1.08, 0.05, -0.03}, {0.05, 0.94, 0.04}, {-0.03, 0.04, 1.02}},
                                    {{1.15, 0, 0}, {0, 0.9, 0}, {0, 0, 1.0}}};

enum coverage { whole, upper_half, equator_band, cone_3_degrees };

bool covers(coverage c, view_vector v) {
  switch (c) {
    case upper_half: return v.z > 0.0;
    case equator_band: return std::fabs(v.z) < 0.05;
    case cone_3_degrees: return v.x > std::cos(3.0 * 3.14159265 / 180.0);
    case whole: break;
  }
  return true;
}

struct cloud_case {
  const char *name;
  double offset[3];
  int soft_iron;
  double field;
  double noise;  // of the field, uniform
  int points;
  coverage where;
  calib_model model;
  calib_doubt doubt;
};

// clang-format off
const cloud_case clouds[] = {
    {"sphere, no noise", {300, -150, 80}, 0, 2000, 0.0, 2000, whole, calib_model_full, calib_doubt_none},
    {"soft iron, 1 % noise", {420, -310, 150}, 1, 2500, 0.01, 600, whole, calib_model_full, calib_doubt_none},
    {"large offsets", {-20000, 15000, 3000}, 1, 9000, 0.005, 1000, whole, calib_model_full, calib_doubt_none},
    // Too few points to cover the regions: right, but not good.
    {"stretched, 120 points", {50, 60, -70}, 2, 1500, 0.005, 120, whole, calib_model_diagonal, calib_doubt_quality},
    {"60 points", {50, 60, -70}, 0, 1500, 0.005, 60, whole, calib_model_sphere, calib_doubt_quality},
    {"30 points", {50, 60, -70}, 0, 1500, 0.005, 30, whole, calib_model_none, calib_doubt_too_few},
    {"upper half", {420, -310, 150}, 1, 2500, 0.005, 600, upper_half, calib_model_full, calib_doubt_quality},
    {"equator band", {420, -310, 150}, 0, 2500, 0.002, 600, equator_band, calib_model_sphere, calib_doubt_planar},
    {"cone of 3 degrees", {420, -310, 150}, 0, 2500, 0.0005, 600, cone_3_degrees, calib_model_none, calib_doubt_cluster},
};
// clang-format on

// Readings of a field of the given strength in the covered directions,
// through the soft iron, plus the offset and noise; then fitted.
geo_calibration fit_cloud(const cloud_case &c) {
  std::mt19937 generator(20261207u);
  std::vector<std::array<double, 3>> points;
  const auto &s = soft_irons[c.soft_iron];
  while (static_cast<int>(points.size()) < c.points) {
    const view_vector d = random_direction(generator);
    if (!covers(c.where, d)) continue;
    const double b[3] = {c.field * d.x, c.field * d.y, c.field * d.z};
    std::array<double, 3> p{};
    for (int i = 0; i < 3; ++i) {
      p[i] = c.offset[i] + c.noise * c.field * unit_noise(generator);
      for (int j = 0; j < 3; ++j) p[i] += s[i][j] * b[j];
    }
    points.push_back(p);
  }
  return calib_fit_geomagnetic(reinterpret_cast<const double(*)[3]>(points.data()), c.points);
}

TEST(calibration_fit, finds_known_offsets_and_matrix_or_says_why_not) {
  for (const cloud_case &c : clouds) {
    SCOPED_TRACE(c.name);
    const geo_calibration g = fit_cloud(c);
    EXPECT_EQ(g.model, c.model) << calib_model_name(g.model);
    EXPECT_EQ(g.doubt, c.doubt) << calib_doubt_text(g.doubt) << " gaps " << g.quality.gaps
                                << " wobble " << g.quality.wobble;
    EXPECT_EQ(g.good, c.doubt == calib_doubt_none);
    EXPECT_EQ(g.points, c.points);
    if (g.model == calib_model_none) continue;
    // Planar data keep the in-plane offsets, and the points' own height.
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(g.offset[i], c.offset[i], 0.01 * c.field) << i;
    if (c.doubt == calib_doubt_planar) continue;
    // The matrix is the soft iron's inverse at determinant 1.
    Eigen::Matrix3d inverse;
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) inverse(i, j) = soft_irons[c.soft_iron][i][j];
    }
    const double det = inverse.determinant();
    inverse = inverse.inverse() * std::cbrt(det);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(g.matrix[i][j], inverse(i, j), 0.02) << i << j;
    }
    EXPECT_NEAR(g.field, c.field * std::cbrt(det), 0.01 * c.field);
  }
}

// Noise shows as variance and fit error, a half sphere as gaps and wobble.
TEST(calibration_fit, figures_measure_noise_gaps_and_wobble) {
  const struct {
    int cloud;
    double gaps_low, gaps_high, variance_high, wobble_low, wobble_high;
  } cases[] = {
      {0, 0, 1, 0.01, 0, 4},     // exact: variance 0; wobble only from sampling
      {1, 0, 2, 1.0, 0, 4},      // 1 % uniform noise: about 0.6 %
      {6, 45, 55, 1.0, 30, 70},  // half the regions, the centre far off
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(clouds[c.cloud].name);
    const calib_quality q = fit_cloud(clouds[c.cloud]).quality;
    EXPECT_GE(q.gaps, c.gaps_low);
    EXPECT_LE(q.gaps, c.gaps_high);
    EXPECT_LE(q.variance, c.variance_high);
    EXPECT_LE(q.fit_error, c.variance_high + 0.1);
    EXPECT_GE(q.wobble, c.wobble_low);
    EXPECT_LE(q.wobble, c.wobble_high);
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

TEST(accel_calibration, names_the_face_up) {
  const struct {
    view_vector a;
    double min_share;
    int face;
  } cases[] = {
      {{0, 0, 9800}, 0.9, 4},     {{0, 0, -9800}, 0.9, 5},    {{9800, 0, 0}, 0.9, 0},
      {{-9800, 0, 0}, 0.9, 1},    {{0, 9800, 0}, 0.9, 2},     {{0, -9800, 0}, 0.9, 3},
      {{3000, 0, 9000}, 0.9, 4},   // 18 degrees off
      {{5000, 0, 8000}, 0.9, -1},  // 32 degrees off
      {{5000, 0, 8000}, 0.0, 4},  {{100, -200, 150}, 0.0, 3}, {{0, 0, 0}, 0.0, -1},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(accel_face_of(c.a, c.min_share), c.face) << c.a.x << " " << c.a.y << " " << c.a.z;
  }
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

// clang-format off
const accel_case accel_cases[] = {
    {"ideal", {0, 0, 0}, {9800, 9800, 9800}, 0, 0, 0, 1500, 6, true},
    {"offsets and gains", {120, -80, 200}, {9996, 9506, 9898}, 0, 0, 0.002, 1500, 6, true},
    {"3 degrees off each face", {120, -80, 200}, {9996, 9506, 9898}, 3, 0, 0.002, 1500, 6, true},
    {"axes 15 % out of square", {120, -80, 200}, {9996, 9506, 9898}, 0, 0.15, 0.002, 1500, 6, false},
    {"held under a second", {0, 0, 0}, {9800, 9800, 9800}, 0, 0, 0.0, 700, 0, false},
    {"shaking", {0, 0, 0}, {9800, 9800, 9800}, 0, 0, 0.08, 1500, 0, false},
};
// clang-format on

TEST(accel_calibration, six_still_faces_give_offsets_and_gains) {
  const view_vector faces[6] = {{1, 0, 0},  {-1, 0, 0}, {0, 1, 0},
                                {0, -1, 0}, {0, 0, 1},  {0, 0, -1}};
  for (const accel_case &c : accel_cases) {
    SCOPED_TRACE(c.name);
    auto collect = std::make_unique<accel_collect>();
    accel_collect_reset(collect.get());
    std::mt19937 generator(3u);
    int64_t now = 0;
    const double cos_t = std::cos(c.tilt_deg * 3.14159265358979 / 180.0);
    const double sin_t = std::sin(c.tilt_deg * 3.14159265358979 / 180.0);
    for (const view_vector &f : faces) {
      // Tilted towards the next axis round.
      const view_vector g{f.x * cos_t + f.z * sin_t, f.y * cos_t + f.x * sin_t,
                          f.z * cos_t + f.y * sin_t};
      for (int ms = 0; ms < c.hold_ms; ms += 40) {
        now += 40;
        const double n[3] = {c.noise * unit_noise(generator), c.noise * unit_noise(generator),
                             c.noise * unit_noise(generator)};
        accel_collect_add(collect.get(), now,
                          {c.offset[0] + c.scale[0] * (g.x + n[0]),
                           c.offset[1] + c.scale[1] * (g.y + c.cross * g.x + n[1]),
                           c.offset[2] + c.scale[2] * (g.z + n[2])});
      }
      now += 2000;  // moved to the next face
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
  }
}

// --- the file

const char sample_file[] = R"({
  "version": 1,
  "geomagnetic": {"offset": [420.25, -310.5, 150.125],
                  "matrix": [[0.93, -0.05, 0.03], [-0.05, 1.07, -0.04], [0.03, -0.04, 0.98]],
                  "field": 2497.5, "points": 512, "model": "diagonal",
                  "quality": {"gaps": 3.0, "variance": 0.75, "wobble": 0.5, "fit_error": 0.8},
                  "good": true},
  "acceleration": {"offset": [120, -80, 200], "gain": [1.0004e-4, 1.0519e-4, 1.0103e-4],
                   "positions": 6, "good": true}})";

calibration_set parsed(const std::string &text) {
  calibration_set set{};
  char error[160] = "";
  EXPECT_TRUE(calibration_parse(text, &set, error, sizeof error)) << error << "\n" << text;
  return set;
}

// Read, written, read again: nothing lost or changed, each section alone too.
TEST(calibration_file, reads_back_what_it_writes) {
  const calibration_set set = parsed(sample_file);
  EXPECT_EQ(set.geomagnetic.model, calib_model_diagonal);
  EXPECT_EQ(set.geomagnetic.points, 512);
  EXPECT_EQ(set.geomagnetic.quality.wobble, 0.5);
  EXPECT_EQ(set.geomagnetic.matrix[1][2], -0.04);
  EXPECT_EQ(set.acceleration.gain[1], 1.0519e-4);
  for (int sections = 1; sections <= 3; ++sections) {
    calibration_set part = set;
    part.has_geomagnetic = (sections & 1) != 0;
    part.has_acceleration = (sections & 2) != 0;
    const std::string text = calibration_json(part);
    const calibration_set back = parsed(text);
    EXPECT_EQ(back.has_geomagnetic, part.has_geomagnetic) << text;
    EXPECT_EQ(back.has_acceleration, part.has_acceleration) << text;
    EXPECT_EQ(calibration_json(back), text);
  }
}

// A name handed out is taken at once: a second call, within the same second,
// never gives it again, and an existing file is never the answer.
TEST(calibration_file, a_new_file_name_is_taken_when_it_is_given) {
  const std::filesystem::path was = std::filesystem::current_path();
  const std::filesystem::path scratch =
      std::filesystem::temp_directory_path() / ("orlanse_names_" + std::to_string(std::rand()));
  std::filesystem::create_directories(scratch);
  std::filesystem::current_path(scratch);
  const std::string first = calibration_new_file_name();
  const std::string second = calibration_new_file_name();
  EXPECT_NE(first, second);
  EXPECT_TRUE(std::filesystem::exists(first));
  EXPECT_TRUE(std::filesystem::exists(second));
  std::filesystem::current_path(was);
  std::filesystem::remove_all(scratch);
}

TEST(calibration_file, the_c_snippet_holds_the_same_values) {
  const std::string c = calibration_c_snippet(parsed(sample_file));
  for (const char *part :
       {"static const double geo_offset[3] = {420.25, -310.5, 150.125};",
        "    {0.93, -0.05, 0.03},", "static const double geo_field = 2497.5;",
        "static const double acc_offset[3] = {120, -80, 200};",
        "static const double acc_gain[3] = {0.00010004, 0.00010519, 0.00010103};"}) {
    EXPECT_NE(c.find(part), std::string::npos) << part << "\n" << c;
  }
}

// A geomagnetic section with the given members after a good offset.
std::string geo(const std::string &members) {
  return R"({"version": 1, "geomagnetic": {"offset": [1, 2, 3])" + members + "}}";
}
const std::string unit = R"(, "matrix": [[1, 0, 0], [0, 1, 0], [0, 0, 1]])";

TEST(calibration_file, refuses_bad_files_saying_what_is_wrong) {
  const std::pair<std::string, const char *> cases[] = {
      {"", "not valid JSON"},
      {R"({"version": 1, "geomagnetic": {)", "not valid JSON"},
      {"[1, 2]", "not a JSON object"},
      {"{}", "no \"version\""},
      {R"({"version": "1"})", "version is not 1"},
      {R"({"version": 1})", "neither a \"geomagnetic\" nor an \"acceleration\" section"},
      {R"({"version": 1, "geomagnetic": []})", "\"geomagnetic\" is not an object"},
      {R"({"version": 1, "geomagnetic": {"offset": [1, "2", 3]}})",
       "geomagnetic offset is not an array of 3 numbers"},
      {geo(""), "geomagnetic: no \"matrix\""},
      {geo(R"(, "matrix": [[1, 0, 0], [0, 1, 0]])"),
       "geomagnetic matrix is not 3 rows of 3 numbers"},
      {geo(R"(, "matrix": [[1, 0, 0], [0, 1, 0], [0, 1, null]])"),
       "geomagnetic matrix row 3 is not an array of 3 numbers"},
      {geo(R"(, "matrix": [[1, 0, 0], [0, 1, 0], [0, 2, 0]])"), "geomagnetic matrix is singular"},
      {geo(unit + R"(, "model": "cube")"),
       "geomagnetic model is not \"sphere\", \"diagonal\" or \"full\""},
      {geo(unit + R"(, "quality": {"gaps": "low"})"),
       "geomagnetic quality: \"gaps\" is not a number"},
      {geo(unit + R"(, "points": -4)"), "geomagnetic: \"points\" is not a count"},
      {R"({"version": 1, "acceleration": {"offset": [1, 2, 3], "gain": [1, 0, 1]}})",
       "acceleration gain is 0"},
      {R"({"version": 1, "acceleration": {"offset": [1, 2, 3], "gain": [1, 1, 1], "good": 1}})",
       "acceleration: \"good\" is not true or false"},
  };
  for (const auto &[text, reason] : cases) {
    SCOPED_TRACE(text);
    calibration_set set{};
    char error[160] = "";
    EXPECT_FALSE(calibration_parse(text, &set, error, sizeof error));
    EXPECT_STREQ(error, reason);
  }
  char error[160] = "";
  calibration_set set{};
  EXPECT_FALSE(calibration_load_file("/nonexistent/calibration.json", &set, error, sizeof error));
  EXPECT_STREQ(error, std::strerror(ENOENT));
}

}  // namespace
