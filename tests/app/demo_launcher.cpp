// SPDX-License-Identifier: MIT
// orlanse_demo [PATH] [OPTIONS...]: runs the real orlanse_sensor (with
// OPTIONS, such as --view or --csv) in this terminal against a
// simulated sensor module on a fake FTDI adapter (a umockdev test bed), so
// that samples stream without the hardware. The simulated module answers at
// 9600 baud and turns its vectors slowly; a key ends the program as usual.
// The exit status is the program's (128 + signal when a signal ended it).
// With ORLANSE_DEMO_ORIENTATIONS=1 in the environment the module is read
// through a known distortion, turns through all orientations and then holds
// each face still, for watching the view's calibrations converge.
#include <signal.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fixture.h"
#include "sim_orientations.h"

namespace {

constexpr int steps_per_turn = 360;
constexpr double pi = 3.14159265358979323846;

volatile sig_atomic_t child_pid = 0;

// A field as the module sends it: a 16-bit two's complement value.
uint16_t field(double value) {
  return static_cast<uint16_t>(static_cast<int16_t>(std::lround(value)));
}

// One turn of a slowly turning magnetic field and a gently tilting gravity
// vector. The program prints the first two fields of each group swapped, so
// the fields are stored swapped for the printed vectors to turn smoothly.
std::vector<sim_reply> turning_samples() {
  std::vector<sim_reply> samples;
  for (int step = 0; step < steps_per_turn; ++step) {
    const double angle = 2 * pi * step / steps_per_turn;
    const double tilt = 0.35 * std::sin(2 * angle);
    const double gx = 3000 * std::cos(angle), gy = 3000 * std::sin(angle), gz = -1200;
    const double ax = 980 * std::sin(tilt), ay = 120 * std::sin(3 * angle),
                 az = 980 * std::cos(tilt);
    samples.push_back(sim_fields(field(gy), field(gx), field(gz), field(ay), field(ax), field(az)));
  }
  return samples;
}

// What a calibration should find: the distortion's offsets, the inverse of
// its soft iron up to scale, and the accelerometer's offsets and gains.
void print_distortion(const sim_distortion &d) {
  std::fprintf(stderr,
               "orlanse_demo: the module turns through all orientations for a minute, then holds "
               "each face still for 2 s.\n"
               "orlanse_demo: press c and a at once to calibrate; a calibration should find\n"
               "  geomagnetic offsets %.1f %.1f %.1f, a matrix proportional to the inverse of\n",
               d.geo_offset[0], d.geo_offset[1], d.geo_offset[2]);
  for (const auto &row : d.soft_iron) {
    std::fprintf(stderr, "    %.3f %.3f %.3f\n", row[0], row[1], row[2]);
  }
  std::fprintf(stderr, "  acceleration offsets %.1f %.1f %.1f, gains %.4e %.4e %.4e\n\n",
               d.acc_offset[0], d.acc_offset[1], d.acc_offset[2], 1.0 / d.acc_scale[0],
               1.0 / d.acc_scale[1], 1.0 / d.acc_scale[2]);
}

void forward_signal(int signal_number) {
  if (child_pid > 0) kill(child_pid, signal_number);
}

// Runs path in this terminal with the test bed's environment and waits for
// it. Keyboard signals reach it directly (same process group); the launcher
// ignores them meanwhile and passes on SIGTERM and SIGHUP.
int run_here(const char *path, const std::vector<std::string> &args) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction forward {};
  forward.sa_handler = forward_signal;
  struct sigaction old_int, old_quit, old_term, old_hup;
  sigaction(SIGINT, &ignore, &old_int);
  sigaction(SIGQUIT, &ignore, &old_quit);
  sigaction(SIGTERM, &forward, &old_term);
  sigaction(SIGHUP, &forward, &old_hup);
  // The program gets the signal dispositions the launcher was started with:
  // ignored ones stay ignored across exec, so it is started with the old ones.
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGQUIT, &old_quit, nullptr);
  run_options options = run_options().program(path).in_this_terminal();
  for (const std::string &a : args) options.arg(a);
  const program_run program(options);
  sigaction(SIGINT, &ignore, nullptr);
  sigaction(SIGQUIT, &ignore, nullptr);
  if (!program.started()) {
    std::fprintf(stderr, "orlanse_demo: %s\n", program.error().c_str());
    return 1;
  }
  child_pid = program.pid();
  program.wait_exit(std::chrono::hours(24 * 365));
  child_pid = 0;
  const program_exit end = program.exit_info();
  if (end.exited) {
    if (end.status == 127) std::fprintf(stderr, "orlanse_demo: cannot run %s\n", path);
    return end.status;
  }
  return 128 + end.signal_number;
}

}  // namespace

int main(int argc, char **argv) {
  // [PATH-TO-orlanse_sensor] [OPTIONS...]: the options go to the program.
  int first_option = 1;
  const char *program = sensor_program_path();
  if (argc > 1 && argv[1][0] != '-') program = argv[first_option++];
  std::vector<std::string> args(argv + first_option, argv + argc);
  // An on-board port and one FTDI adapter: the program picks the adapter.
  test_bed bed(pnp_port_record("ttyS0", "00:00", "PNP0501", true) + ftdi_adapter_record(0));
  if (!bed.ok()) {
    std::fprintf(stderr, "orlanse_demo: cannot set up the fake adapter: %s\n", bed.error().c_str());
    return 1;
  }
  const int master = bed.master("/dev/ttyUSB0");
  if (master < 0) {
    std::fprintf(stderr, "orlanse_demo: the fake adapter has no port\n");
    return 1;
  }
  sim_options options;
  const char *orientations = std::getenv("ORLANSE_DEMO_ORIENTATIONS");
  const bool calibrating = orientations != nullptr && std::strcmp(orientations, "1") == 0;
  options.samples =
      calibrating ? sim_orientation_script(sim_demo_distortion(), {}) : turning_samples();
  options.pace = true;
  sensor_sim module(master, options);

  std::fprintf(stderr,
               "orlanse_demo: a simulated sensor module on a fake FTDI adapter; "
               "press any key to end the samples.\n\n");
  if (calibrating) print_distortion(sim_demo_distortion());
  const int status = run_here(program, args);
  module.stop();
  return status;
}
