// SPDX-License-Identifier: MIT
// testbed_run PROGRAM [ARGS...]: runs PROGRAM over the standard fake serial
// hardware (see fake_serial_devices.h) and exits with its status, so that
// scripts can run programs that know nothing of umockdev.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "fake_serial_devices.h"
#include "umockdev_preload.h"

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: testbed_run PROGRAM [ARGS...]\n");
    return 2;
  }
  fake_testbed bed(standard_bed_records());
  if (!bed.ok()) {
    std::fprintf(stderr, "testbed_run: %s\n", bed.error().c_str());
    return 1;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    set_umockdev_preload_environment();
    execvp(argv[1], argv + 1);
    std::perror(argv[1]);
    _exit(127);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) {
    std::perror("testbed_run");
    return 1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
