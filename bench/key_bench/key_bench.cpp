// SPDX-License-Identifier: MIT
// key_bench: the delay from a key press to the end of the real program,
// against a well-formed module and against each module that misbehaves
// (tests/fixture/hostile_modules.h: broken replies, CR-only and LF-only
// line ends, a slow drip, consistently late replies, silence from the start
// and after the opening), and with a well-formed module while stdout takes
// no output (paused by Ctrl-S, which is then the key; a pty or a pipe that
// is not read). Each case runs several times with the key falling at
// different points of the exchanges; prints the median and worst delay per
// case and the worst of all. Figures only, never pass/fail.
//
// usage: key_bench [RUNS]   (default 3 runs per case)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "fixture.h"

namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

constexpr auto patience = 60s;

// What stdout does when the key falls.
enum class stdout_state {
  read,         // read as it comes
  ctrl_s,       // the key is Ctrl-S, which pauses a terminal's output
  unread_pty,   // stdout is the terminal, which nobody reads any more
  unread_pipe,  // stdout is a pipe, which nobody reads any more
};

struct bench_case {
  hostile_module module;
  stdout_state out;
};

// Waits until the module gets no more requests: the program is held in a
// write that stdout does not take.
void wait_until_requests_stop(const sensor_sim &module) {
  int sent = -1;
  for (int k = 0; k < 100 && module.log().samples_sent() != sent; ++k) {
    sent = module.log().samples_sent();
    std::this_thread::sleep_for(300ms);
  }
}

// One run: the key falls offset after the case is under way. The delay, or
// negative when the run failed.
long long key_to_exit_ms(const bench_case &b, milliseconds offset) {
  const hostile_module &c = b.module;
  // At the pace of the 9600 baud wire, as a real module answers.
  sim_options options = c.options;
  options.pace = true;
  module_scenario module(options);
  if (!module.bed.ok()) return -1;
  program_run program(b.out == stdout_state::unread_pty
                          ? run_options().stdout_as(stream_mode::terminal)
                          : run_options());
  if (!program.started()) return -1;
  if (c.at_least > 0) {
    if (!program.wait_for_lines(banner_lines + c.at_least, patience)) return -1;
  } else {
    std::this_thread::sleep_for(c.run_for);
  }
  std::this_thread::sleep_for(offset);
  if (b.out == stdout_state::unread_pty || b.out == stdout_state::unread_pipe) {
    program.stall_out();
    wait_until_requests_stop(module.sim);
  }
  const milliseconds delay =
      program.press_key_and_time_exit(patience, b.out == stdout_state::ctrl_s ? '\x13' : 'q');
  program.release_out();
  if (!program.exit_info().exited || program.exit_info().status != 0) return -1;
  return delay.count();
}

}  // namespace

int main(int argc, char **argv) {
  int runs = 3;
  if (argc > 2 || (argc == 2 && (runs = std::atoi(argv[1])) < 1)) {
    std::fprintf(stderr, "usage: key_bench [RUNS]\n");
    return 2;
  }
  const hostile_module well_formed = {
      "well-formed module", replies({reply_a, reply_b}), {line_a, line_b}, 3, 0ms, true};
  std::vector<bench_case> cases = {{well_formed, stdout_state::read}};
  for (const hostile_module &m : hostile_modules()) cases.push_back({m, stdout_state::read});
  const struct {
    const char *name;
    stdout_state out;
  } stalls[] = {{"stdout paused: Ctrl-S", stdout_state::ctrl_s},
                {"stdout an unread pty", stdout_state::unread_pty},
                {"stdout an unread pipe", stdout_state::unread_pipe}};
  for (const auto &stall : stalls) {
    bench_case b = {well_formed, stall.out};
    b.module.name = stall.name;
    cases.push_back(b);
  }

  std::printf("key press to exit of %s, %d runs per case\n", sensor_program_path(), runs);
  std::printf("%-36s %8s %8s\n", "module", "median", "worst");
  long long worst_of_all = 0;
  const char *worst_case = "";
  for (const bench_case &b : cases) {
    const hostile_module &c = b.module;
    std::vector<long long> delays;
    for (int run = 0; run < runs; ++run) {
      // Offsets spread over a second, so the key falls in every state.
      const milliseconds offset((run * 367) % 1000);
      const long long delay = key_to_exit_ms(b, offset);
      if (delay < 0) {
        std::fprintf(stderr, "key_bench: a run of \"%s\" failed\n", c.name);
        return 1;
      }
      delays.push_back(delay);
    }
    std::sort(delays.begin(), delays.end());
    std::printf("%-36s %5lld ms %5lld ms\n", c.name, delays[delays.size() / 2], delays.back());
    std::fflush(stdout);
    if (delays.back() > worst_of_all) {
      worst_of_all = delays.back();
      worst_case = c.name;
    }
  }
  std::printf("worst key press to exit           %lld ms (%s)\n", worst_of_all, worst_case);
  return 0;
}
