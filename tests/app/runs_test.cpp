// SPDX-License-Identifier: MIT
// Runs a script can drive: --count and --duration end sampling by
// themselves, with status 0, in every mode and without a terminal; a
// recording of a run and its replay; a module behind a real ser2net.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fixture.h"

namespace {

using namespace std::chrono_literals;

constexpr auto patience = 20s;
constexpr const char csv_header[] =
    "index,seconds,geo1,geo2,geo3,acc1,acc2,acc3,geo_magnitude,acc_magnitude\n";

// The CSV rows' six values, without index and time.
std::vector<std::string> csv_values(const std::string &csv) {
  std::vector<std::string> rows;
  std::istringstream lines(csv);
  std::string line;
  std::getline(lines, line);  // the header
  while (std::getline(lines, line)) {
    std::size_t at = line.find(',');
    at = line.find(',', at + 1);
    std::size_t end = at;
    for (int k = 0; k < 6; ++k) end = line.find(',', end + 1);
    rows.push_back(line.substr(at + 1, end - at - 1));
  }
  return rows;
}

TEST(runs, count_ends_sampling_with_0_in_every_mode_without_a_key) {
  const struct {
    const char *name;
    std::vector<std::string> args;
    bool terminal;
  } cases[] = {
      {"lines, no terminal", {"--count", "5"}, false},
      {"lines, a terminal", {"--count=5"}, true},
      {"CSV, no terminal", {"--csv", "--count", "5"}, false},
      {"view", {"--view", "--count", "5"}, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    module_scenario module(replies({reply_a, reply_b}));
    ASSERT_TRUE(module.bed.ok()) << module.bed.error();
    run_options options;
    options.args = c.args;
    if (!c.terminal) options.no_terminal();
    if (c.args[0] == "--view") options.stdout_as(stream_mode::terminal);
    program_run program(options);
    ASSERT_TRUE(program.wait_exit(patience)) << program.out() << program.err();
    EXPECT_TRUE(program.exit_info().exited);
    EXPECT_EQ(program.exit_info().status, 0) << program.err();
    EXPECT_EQ(err_lines_of(program), std::vector<std::string>{first_adapter_line});
    if (c.args[0] == "--csv") {
      EXPECT_EQ(program.out().rfind(csv_header, 0), 0u);
      EXPECT_EQ(csv_values(program.out()),
                (std::vector<std::string>{"2,1,3,327680,-10,-327670", "32767,32767,32767,0,0,0",
                                          "2,1,3,327680,-10,-327670", "32767,32767,32767,0,0,0",
                                          "2,1,3,327680,-10,-327670"}));
    } else if (c.args[0] != "--view") {
      EXPECT_EQ(program.out().rfind(banner_output, 0), 0u);
      EXPECT_EQ(lines_after_banner(program), alternating_lines(5));
    }
    EXPECT_EQ(module.sim.log().samples_sent(), 5);
  }
}

TEST(runs, duration_ends_sampling_that_long_after_the_first_sample) {
  for (const bool csv : {false, true}) {
    SCOPED_TRACE(csv ? "CSV" : "lines");
    module_scenario module(replies({reply_a, reply_b}));
    ASSERT_TRUE(module.bed.ok()) << module.bed.error();
    run_options options = run_options().arg("--duration").arg("1.5").no_terminal();
    if (csv) options.arg("--csv");
    program_run program(options);
    ASSERT_TRUE(program.wait_exit(patience)) << program.out() << program.err();
    EXPECT_EQ(program.exit_info().status, 0) << program.err();
    const std::vector<output_line> lines = program.out_lines();
    const std::size_t first = csv ? 1 : banner_lines;
    ASSERT_GT(lines.size(), first + 1) << program.out();
    // No sample after the time is up (give or take the pipe), and the end
    // comes soon after it (a request takes well under a second here).
    const auto sampled = lines.back().arrived - lines[first].arrived;
    EXPECT_LT(sampled, 1550ms);
    EXPECT_GE(program.exit_info().when - lines[first].arrived, 1500ms);
    EXPECT_LT(program.exit_info().when - lines[first].arrived, 3000ms);
  }
}

}  // namespace
