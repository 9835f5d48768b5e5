// SPDX-License-Identifier: MIT
// Calibrations end to end: the real program's live view calibrates the
// simulator's distorted module and saves it with --calibration-out, also
// when Ctrl-C ends it; a bad file given with --calibration is refused before
// any port is touched.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <string>

#include "calibration_file.h"
#include "fixture.h"
#include "sim_orientations.h"

namespace {

using namespace std::chrono_literals;

constexpr auto patience = 20s;

TEST(calibration_program, a_bad_file_is_refused_before_any_port_is_touched) {
  scratch_directory dir;
  const struct {
    std::string path;
    std::vector<std::string> mode;
    std::string reason;
  } cases[] = {
      {dir.path + "/missing.json", {}, "No such file or directory"},
      {dir.write("broken.json", "{\"version\": 1,"), {"--csv"}, "not valid JSON"},
      {dir.write("v2.json", "{\"version\": 2}"), {"--view"}, "version is not 1"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    module_scenario module(replies({reply_a}));
    run_options options = run_options().arg("--calibration").arg(c.path);
    for (const std::string &a : c.mode) options.arg(a);
    if (!c.mode.empty() && c.mode[0] == "--view") options.stdout_as(stream_mode::terminal);
    program_run program(options);
    ASSERT_TRUE(program.wait_exit(patience));
    EXPECT_EQ(program.exit_info().status, 2);
    EXPECT_EQ(program.err(), "orlanse_sensor: calibration file " + c.path + ": " + c.reason + "\n");
    EXPECT_EQ(program.out(), "");
    EXPECT_TRUE(module.sim.log().commands().empty()) << "no port is touched";
  }
}

// The simulated module turns through all orientations and holds each face
// still at 9600 baud; c and a start the calibrations, the sixth face ends
// the accelerometer's, c ends the field's.
TEST(calibration_program, the_view_finds_the_simulators_distortion_and_saves_it) {
  scratch_directory dir;
  const std::string out_path = dir.path + "/calibration.json";
  const sim_distortion d = sim_demo_distortion();
  sim_orientation_options shape;
  shape.turn_samples = 350;
  shape.hold_samples = 35;
  shape.move_samples = 8;
  sim_options options;
  options.samples = sim_orientation_script(d, shape);
  options.pace = true;
  const int script_size = static_cast<int>(options.samples.size());
  module_scenario module(options);
  program_run program(run_options()
                          .arg("--view")
                          .arg("--calibration-out")
                          .arg(out_path)
                          .stdout_as(stream_mode::terminal));
  ASSERT_TRUE(program.started()) << program.error();
  program.press_key('c');
  program.press_key('a');
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (module.sim.log().samples_sent() < script_size + 5 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(100ms);
  }
  program.press_key('c');
  program.press_key('q');
  ASSERT_TRUE(program.wait_exit(patience));
  EXPECT_EQ(program.exit_info().status, 0) << program.err();

  calibration_set set{};
  char error[160] = "";
  ASSERT_TRUE(calibration_load_file(out_path.c_str(), &set, error, sizeof error))
      << error << "\n"
      << file_text(out_path);
  ASSERT_TRUE(set.has_geomagnetic);
  ASSERT_TRUE(set.has_acceleration);
  EXPECT_TRUE(set.geomagnetic.good);
  EXPECT_TRUE(set.acceleration.good);
  EXPECT_NE(program.err().find("orlanse_sensor: calibration written to " + out_path + "\n"),
            std::string::npos)
      << program.err();
  EXPECT_NE(program.err().find("static const double geo_matrix[3][3] = {"), std::string::npos);

  // The matrix is the soft iron's inverse, up to scale: compare at determinant 1.
  Eigen::Matrix3d inverse;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) inverse(i, j) = d.soft_iron[i][j];
  }
  inverse = inverse.inverse() / std::cbrt(inverse.inverse().determinant());
  const geo_calibration &g = set.geomagnetic;
  const accel_result &a = set.acceleration;
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(g.offset[i], d.geo_offset[i], 0.01 * shape.field) << i;
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(g.matrix[i][j], inverse(i, j), 0.02) << i << j;
    EXPECT_NEAR(a.offset[i], d.acc_offset[i], 0.003 * d.acc_scale[i]) << i;
    EXPECT_NEAR(a.gain[i] * d.acc_scale[i], 1.0, 0.005) << i;
  }
}

// Ctrl-C ends the program by its signal; the calibration's results of a
// few seconds before are in the file.
TEST(calibration_program, an_interrupted_calibration_is_in_the_file) {
  scratch_directory dir;
  const std::string out_path = dir.path + "/calibration.json";
  sim_options options;
  options.samples = sim_orientation_script(sim_demo_distortion(), {});
  options.pace = true;
  module_scenario module(options);
  program_run program(run_options()
                          .arg("--view")
                          .arg("--calibration-out=" + out_path)
                          .stdout_as(stream_mode::terminal));
  ASSERT_TRUE(program.started()) << program.error();
  program.press_key('c');
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (module.sim.log().samples_sent() < 25 * 7 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(100ms);
  }
  program.send_signal(SIGINT);
  ASSERT_TRUE(program.wait_exit(patience));
  EXPECT_EQ(program.exit_info().signal_number, SIGINT);
  calibration_set set{};
  char error[160] = "";
  ASSERT_TRUE(calibration_load_file(out_path.c_str(), &set, error, sizeof error)) << error;
  EXPECT_TRUE(set.has_geomagnetic);
  EXPECT_GE(set.geomagnetic.points, calib_sphere_points);
}

}  // namespace
