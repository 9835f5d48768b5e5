// SPDX-License-Identifier: MIT
// key_bench: the delay from a key press to the end of the real program,
// against a well-formed module and against each module that misbehaves
// (tests/fixture/hostile_modules.h: broken replies, CR-only and LF-only
// line ends, a slow drip, consistently late replies, silence from the start
// and after the opening). Each case runs several times with the key falling
// at different points of the exchanges; prints the median and worst delay
// per case and the worst of all. Figures only, never pass/fail.
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

// One run: the key falls offset after the case is under way. The delay, or
// negative when the run failed.
long long key_to_exit_ms(const hostile_module &c, milliseconds offset) {
  // At the pace of the 9600 baud wire, as a real module answers.
  sim_options options = c.options;
  options.pace = true;
  module_scenario module(options);
  if (!module.bed.ok()) return -1;
  program_run program;
  if (!program.started()) return -1;
  if (c.at_least > 0) {
    if (!program.wait_for_lines(banner_lines + c.at_least, patience)) return -1;
  } else {
    std::this_thread::sleep_for(c.run_for);
  }
  std::this_thread::sleep_for(offset);
  const milliseconds delay = program.press_key_and_time_exit(patience);
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
  std::vector<hostile_module> cases = {
      {"well-formed module", replies({reply_a, reply_b}), {line_a, line_b}, 3, 0ms, true}};
  cases.insert(cases.end(), hostile_modules().begin(), hostile_modules().end());

  std::printf("key press to exit of %s, %d runs per case\n", sensor_program_path(), runs);
  std::printf("%-36s %8s %8s\n", "module", "median", "worst");
  long long worst_of_all = 0;
  const char *worst_case = "";
  for (const hostile_module &c : cases) {
    std::vector<long long> delays;
    for (int run = 0; run < runs; ++run) {
      // Offsets spread over a second, so the key falls in every state.
      const milliseconds offset((run * 367) % 1000);
      const long long delay = key_to_exit_ms(c, offset);
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
