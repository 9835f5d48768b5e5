// SPDX-License-Identifier: MIT
// Runs the real orlanse_sensor inside a umockdev test bed of fake serial
// adapters: the module simulator plays the sensor on an adapter's pty master,
// the program's stdout and stderr arrive on pipes, and a pty of its own is its
// controlling terminal, so that the harness can press keys and read the
// terminal's settings.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>
#include <termios.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sensor_sim.h"

struct _UMockdevTestbed;

// The texts of the program as they appear on stdout (UTF-8).
extern const char banner_output[];     // banner and the empty line
extern const char not_found_output[];  // the sensor-not-found line

// The sample line the program prints for six delivered values.
std::string sample_line(int geo1, int geo2, int geo3, int acc1, int acc2, int acc3);

// A umockdev test bed holding fake devices. The environment it sets up
// (UMOCKDEV_DIR) is inherited by the programs started afterwards.
class adapter_bed {
public:
  explicit adapter_bed(const std::string &records);
  ~adapter_bed();
  adapter_bed(const adapter_bed &) = delete;
  adapter_bed &operator=(const adapter_bed &) = delete;

  bool ok() const { return ok_; }
  const std::string &error() const { return error_; }
  // Root directory of the bed: where /dev and /sys live for the program.
  std::string root() const;
  // The pty master behind a tty node such as "/dev/ttyUSB0", set to a cooked
  // line (so a missing raw set-up by the program shows), close-on-exec; -1
  // when the bed has no such node. The bed keeps it; closing it hangs the
  // port up.
  int master(const std::string &node);
  // Removes the device at syspath (and everything under it) from the bed.
  void remove(const std::string &syspath);

private:
  _UMockdevTestbed *bed_;
  bool ok_ = true;
  std::string error_;
};

// One fake FTDI adapter as a record: ttyUSB<index> on its own USB port.
std::string ftdi_adapter_record(int index);
std::string ftdi_adapter_syspath(int index);

// The settings of a tty as the program could change them.
bool same_settings(const termios &a, const termios &b);

// The cooked line a fresh terminal has: canonical input with echo and
// signals, CR to NL on input, NL to CR NL on output, 38400 baud.
termios cooked_settings(termios base);

// How the program ended.
struct program_exit {
  bool exited = false;    // exit() or return from main
  int status = -1;        // exit status when exited
  int signal_number = 0;  // the signal that ended it otherwise
  rusage usage{};         // CPU time of the program
  sim_clock::time_point when{};
};

// One line of the program's stdout, with the time its end arrived.
struct output_line {
  std::string text;  // with its newline
  sim_clock::time_point arrived;
};

// The program, started under libumockdev-preload in the current test bed.
class program_run {
public:
  // With terminal false the program has no controlling terminal. Keys in
  // typeahead are typed on the terminal before the program starts. A user
  // other than -1 runs the program as that user and group, with no
  // supplementary groups (the harness must run as root for that).
  program_run(const std::string &path, bool terminal, const std::string &typeahead = "",
              uid_t user = static_cast<uid_t>(-1));
  ~program_run();
  program_run(const program_run &) = delete;
  program_run &operator=(const program_run &) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  const std::string &error() const { return error_; }
  sim_clock::time_point start_time() const { return start_; }

  // The master of the program's terminal: write to it to press keys, read
  // its settings with tcgetattr. -1 without a terminal.
  int terminal() const { return terminal_master_; }
  termios terminal_settings() const;
  // The terminal's settings just before the program started.
  const termios &terminal_settings_at_start() const { return terminal_at_start_; }
  void press_key(char key = 'q') const;
  void send_signal(int signal_number) const;

  std::string out() const;
  std::string err() const;
  std::vector<output_line> out_lines() const;
  // Waits until stdout holds what the predicate wants; false on timeout.
  bool wait_for_out(const std::function<bool(const std::string &)> &wanted,
                    std::chrono::milliseconds timeout) const;
  // Waits until stdout has at least count complete lines.
  bool wait_for_lines(std::size_t count, std::chrono::milliseconds timeout) const;

  // Waits until the program has ended and its output is complete.
  bool wait_exit(std::chrono::milliseconds timeout) const;
  bool running() const;
  // Waits until the program is stopped (by SIGSTOP or the like).
  bool wait_stopped(std::chrono::milliseconds timeout) const;
  program_exit exit_info() const;

private:
  void collect();

  pid_t pid_ = -1;
  int pidfd_ = -1;
  int terminal_master_ = -1;
  termios terminal_at_start_{};
  int out_fd_ = -1;
  int err_fd_ = -1;
  std::string error_;
  sim_clock::time_point start_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string out_;
  std::string err_;
  std::vector<output_line> lines_;
  std::size_t line_start_ = 0;  // where the unfinished line of out_ begins
  bool ended_ = false;          // reaped and both pipes at their end
  program_exit exit_;
  std::thread collector_;
};

// The environment for a program run in the current test bed: ours, with
// libumockdev-preload first and the sanitizer told that its runtime no longer
// comes first. Build it before forking.
std::vector<std::string> program_environment();

// Path of the orlanse_sensor binary to run: the one built alongside, or the
// one named by the environment variable ORLANSE_SENSOR_PROGRAM.
const char *sensor_program_path();
