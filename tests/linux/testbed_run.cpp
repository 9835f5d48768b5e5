// SPDX-License-Identifier: MIT
// testbed_run PROGRAM [ARGS...]: runs PROGRAM over the standard fake serial
// hardware (see fake_serial_devices.h) and exits with its status, so that
// scripts can run programs that know nothing of umockdev.
#include <chrono>
#include <cstdio>

#include "fixture.h"

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: testbed_run PROGRAM [ARGS...]\n");
    return 2;
  }
  test_bed bed(standard_bed_records());
  if (!bed.ok()) {
    std::fprintf(stderr, "testbed_run: %s\n", bed.error().c_str());
    return 1;
  }
  run_options options = run_options().program(argv[1]).in_this_terminal();
  for (int i = 2; i < argc; ++i) options.arg(argv[i]);
  std::fflush(nullptr);
  const program_run program(options);
  if (!program.started()) {
    std::fprintf(stderr, "testbed_run: %s\n", program.error().c_str());
    return 1;
  }
  program.wait_exit(std::chrono::hours(24));
  const program_exit end = program.exit_info();
  if (end.exited && end.status == 127)
    std::fprintf(stderr, "testbed_run: cannot run %s\n", argv[1]);
  return end.exited ? end.status : 128 + end.signal_number;
}
