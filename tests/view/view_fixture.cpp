// SPDX-License-Identifier: MIT
#include "view_fixture.h"

#include "sim_orientations.h"

#include <cstdio>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

constexpr double pi = 3.14159265358979323846;
double radians(double degrees) { return degrees * pi / 180.0; }

// Body axes in world coordinates (east, north, up) for a pose: yaw turns x
// from east towards north, then pitch about y, then roll about x (all
// right-handed), giving the rotation R whose columns are the body axes.
void body_axes(attitude pose, double (&r)[3][3]) {
  const double yaw = radians(90.0 - pose.heading_deg);
  const double p = radians(pose.pitch_deg);
  const double q = radians(pose.roll_deg);
  const double rz[3][3] = {
      {std::cos(yaw), -std::sin(yaw), 0}, {std::sin(yaw), std::cos(yaw), 0}, {0, 0, 1}};
  const double ry[3][3] = {
      {std::cos(p), 0, std::sin(p)}, {0, 1, 0}, {-std::sin(p), 0, std::cos(p)}};
  const double rx[3][3] = {
      {1, 0, 0}, {0, std::cos(q), -std::sin(q)}, {0, std::sin(q), std::cos(q)}};
  double ryx[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      ryx[i][j] = 0;
      for (int k = 0; k < 3; ++k) ryx[i][j] += ry[i][k] * rx[k][j];
    }
  }
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      r[i][j] = 0;
      for (int k = 0; k < 3; ++k) r[i][j] += rz[i][k] * ryx[k][j];
    }
  }
}

// World vector into body coordinates: R transposed times it.
view_vector to_body(const double (&r)[3][3], const double (&w)[3]) {
  return {r[0][0] * w[0] + r[1][0] * w[1] + r[2][0] * w[2],
          r[0][1] * w[0] + r[1][1] * w[1] + r[2][1] * w[2],
          r[0][2] * w[0] + r[1][2] * w[1] + r[2][2] * w[2]};
}

std::string golden_path(const std::string &name) {
  return std::string(ORLANSE_VIEW_GOLDEN_DIR) + "/" + name;
}

}  // namespace

void readings_of(attitude pose, double field, double gravity, view_vector *geomagnetic,
                 view_vector *acceleration) {
  double r[3][3];
  body_axes(pose, r);
  const double dip = radians(60.0);
  const double earth_field[3] = {0.0, field * std::cos(dip), -field * std::sin(dip)};
  const double up[3] = {0.0, 0.0, gravity};
  *geomagnetic = to_body(r, earth_field);
  *acceleration = to_body(r, up);
}

void sample_of(attitude pose, const module_shape &shape, int32_t (&values)[6]) {
  view_vector geo{};
  view_vector acc{};
  readings_of(pose, shape.field, shape.gravity, &geo, &acc);
  values[0] = static_cast<int32_t>(std::lround(geo.x + shape.offset[0]));
  values[1] = static_cast<int32_t>(std::lround(geo.y + shape.offset[1]));
  values[2] = static_cast<int32_t>(std::lround(geo.z + shape.offset[2]));
  values[3] = static_cast<int32_t>(std::lround(acc.x)) * 10;
  values[4] = static_cast<int32_t>(std::lround(acc.y)) * 10;
  values[5] = static_cast<int32_t>(std::lround(acc.z)) * 10;
}

attitude turning_pose(int k, double samples_per_s, double degrees_per_s, double pitch_deg,
                      double roll_deg) {
  return {std::fmod(k * degrees_per_s / samples_per_s, 360.0), pitch_deg, roll_deg};
}

std::vector<scripted_step> turning_stream(int count, double samples_per_s, double degrees_per_s,
                                          double pitch_deg, double roll_deg,
                                          const module_shape &shape) {
  std::vector<scripted_step> steps;
  const auto duration = static_cast<int64_t>(std::lround(1000.0 / samples_per_s));
  for (int k = 0; k < count; ++k) {
    scripted_step step{sensor_sample_read, {}, duration};
    sample_of(turning_pose(k, samples_per_s, degrees_per_s, pitch_deg, roll_deg), shape,
              step.values);
    steps.push_back(step);
  }
  return steps;
}

sensor_outcome scripted_io::read_sample(int32_t (&values)[6]) {
  if (next_step == steps.size()) {
    clock_ms += 2000;
    return sensor_no_reply;
  }
  const scripted_step &step = steps[next_step++];
  clock_ms += step.duration_ms;
  if (step.outcome == sensor_sample_read) {
    for (int k = 0; k < 6; ++k) values[k] = step.values[k];
  }
  return step.outcome;
}

bool scripted_io::key_waiting() {
  if (next_key < keys.size()) return keys[next_key].at_ms <= clock_ms;
  return next_step == steps.size();
}

int scripted_io::read_key() {
  ++keys_read;
  if (next_key < keys.size() && keys[next_key].at_ms <= clock_ms) return keys[next_key++].key;
  return 'q';
}

bool scripted_io::write_out(const char *text) {
  const bool fails = fail_writes_from >= 0 && static_cast<int>(out.size()) >= fail_writes_from;
  out.push_back({clock_ms, text});
  return !fails;
}

bool scripted_io::screen_size(int *columns_out, int *rows_out) {
  if (!size_known) return false;
  *columns_out = columns;
  *rows_out = rows;
  return true;
}

bool scripted_io::screen_resized() {
  if (next_resize == resizes.size() || resizes[next_resize].at_ms > clock_ms) return false;
  columns = resizes[next_resize].columns;
  rows = resizes[next_resize].rows;
  ++next_resize;
  return true;
}

bool scripted_io::leave_screen() {
  ++leaves;
  left_at_write = static_cast<int64_t>(out.size());
  return write_out(view_vt_leave_text);
}

bool scripted_io::save_calibration(const calibration_set &set, char *where,
                                   std::size_t where_size) {
  saves.push_back(set);
  std::snprintf(where, where_size, "%s",
                fail_saves ? "calib.json: No space left on device" : "calib.json");
  return !fail_saves;
}

std::vector<timed_text> scripted_io::frames() const {
  std::vector<timed_text> found;
  for (const timed_text &write : out) {
    if (write.text != view_vt_enter_text && write.text != view_vt_leave_text) {
      found.push_back(write);
    }
  }
  return found;
}

std::string scripted_io::all_out() const {
  std::string text;
  for (const timed_text &write : out) text += write.text;
  return text;
}

std::unique_ptr<view_session> new_session() { return std::make_unique<view_session>(); }

std::string screen_dump(const view_screen &screen) {
  std::string dump;
  for (int row = 0; row < screen.rows; ++row) {
    char text[view_screen_max_columns * 4 + 1];
    view_screen_row_text(screen, row, text, sizeof text);
    dump += text;
    dump += "|\n";
  }
  return dump;
}

void expect_golden(const std::string &name, const std::string &dump) {
  const char *update = std::getenv("ORLANSE_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(golden_path(name), std::ios::binary) << dump;
    ADD_FAILURE() << "rewrote " << golden_path(name) << "; run again without ORLANSE_UPDATE_GOLDEN";
    return;
  }
  std::ifstream file(golden_path(name), std::ios::binary);
  ASSERT_TRUE(file) << "missing " << golden_path(name);
  std::stringstream expected;
  expected << file.rdbuf();
  EXPECT_EQ(expected.str(), dump) << "screen differs from " << golden_path(name);
}

void play_scene(view_model *model) {
  module_shape shape;
  shape.offset[0] = 300.0;
  shape.offset[1] = -150.0;
  shape.offset[2] = 80.0;
  const int64_t start = scripted_io::start_ms;
  view_model_start(model, start, "COM3", "/dev/ttyUSB0", "FT232R USB UART");
  int64_t now = start;
  const int32_t none[6] = {};
  for (int k = 0; k < 300; ++k) {
    now += 40;
    if (k == 50) view_model_toggle_calibration(model);
    if (k == 250) view_model_toggle_calibration(model);
    if (k == 100 || k == 180) view_model_add(model, now, sensor_bad_reply, none);
    if (k == 200) {
      now += 2000;
      view_model_add(model, now, sensor_no_reply, none);
    }
    // Turning 30 degrees a second while tumbling in pitch and roll.
    const attitude pose{std::fmod(k * 1.2, 360.0), 60.0 * std::sin(k * 0.07),
                        -150.0 * std::sin(k * 0.045)};
    int32_t values[6];
    sample_of(pose, shape, values);
    view_model_add(model, now, sensor_sample_read, values);
  }
}

void play_calibration_scene(view_model *model, int samples) {
  const std::vector<sim_sample> script = sim_orientation_samples(sim_demo_distortion(), {});
  int64_t now = scripted_io::start_ms;
  view_model_start(model, now, "COM3", "/dev/ttyUSB0", "FT232R USB UART");
  view_model_toggle_calibration(model);
  view_model_toggle_accel_calibration(model);
  for (int k = 0; k < samples && k < static_cast<int>(script.size()); ++k) {
    now += 40;
    int32_t values[6];
    for (int axis = 0; axis < 6; ++axis) values[axis] = script[static_cast<std::size_t>(k)][axis];
    view_model_add(model, now, sensor_sample_read, values);
  }
}
