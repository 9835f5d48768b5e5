// SPDX-License-Identifier: MIT
// The real program against modules that misbehave (hostile_modules.h): each
// case asserts the exact stdout, that a key still ends the program with
// status 0, where the module answers every request, that each answer gave
// its line, and what stderr tells about the module. The key-to-exit delay is recorded as a
// property, never asserted: bench/key_bench prints the figures.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "fixture.h"

namespace {

using namespace std::chrono_literals;

constexpr auto patience = 30s;

class hostile_module_test : public testing::TestWithParam<hostile_module> {};

TEST_P(hostile_module_test, prints_only_true_samples_and_a_key_ends_it) {
  const hostile_module &c = GetParam();
  module_scenario module(c.options);
  ASSERT_TRUE(module.bed.ok()) << module.bed.error();
  program_run program;
  ASSERT_TRUE(program.started()) << program.error();
  if (c.at_least > 0) {
    ASSERT_TRUE(program.wait_for_lines(banner_lines + c.at_least, patience)) << program.out();
  } else {
    std::this_thread::sleep_for(c.run_for);
  }
  const std::chrono::milliseconds key_to_exit = program.press_key_and_time_exit(patience);
  ASSERT_GE(key_to_exit.count(), 0) << "a key must end the program";
  RecordProperty("key_to_exit_ms", static_cast<int>(key_to_exit.count()));
  EXPECT_TRUE(program.exit_info().exited);
  EXPECT_EQ(program.exit_info().status, 0);

  const std::vector<std::string> printed = lines_after_banner(program);
  if (c.numbered) {
    int last = 0;
    for (const std::string &line : printed) {
      int n = 0;
      for (n = last + 1; n <= 2000 && line != sample_line(0, n, 0, 0, 0, 0); ++n) {
      }
      ASSERT_LE(n, 2000) << "not a later sample of the module: " << line;
      last = n;
    }
  } else {
    EXPECT_EQ(program.out(), expected_stdout(c, printed.size()));
  }
  if (c.every_request) {
    EXPECT_EQ(static_cast<int>(printed.size()), module.sim.log().samples_sent());
  }
  const std::vector<std::string> err = err_lines_of(program);
  ASSERT_GE(err.size(), 1 + c.told.size()) << program.err();
  EXPECT_EQ(err[0], first_adapter_line);
  EXPECT_EQ(
      std::vector<std::string>(err.begin() + 1, err.begin() + 1 + static_cast<long>(c.told.size())),
      c.told)
      << program.err();
  for (std::size_t k = 1 + c.told.size(); k < err.size(); ++k) {
    EXPECT_NE(std::find(c.more.begin(), c.more.end(), err[k]), c.more.end()) << program.err();
  }
}

std::string case_name(const testing::TestParamInfo<hostile_module> &info) {
  std::string name;
  for (const char *p = info.param.name; *p != '\0'; ++p) {
    const char ch = *p;
    const bool alnum =
        (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9');
    name += alnum ? ch : '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(modules, hostile_module_test, testing::ValuesIn(hostile_modules()),
                         case_name);

}  // namespace
