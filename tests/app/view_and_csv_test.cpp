// SPDX-License-Identifier: MIT
// The CSV record and the live view end to end: the real program against the
// module simulator, the CSV on a pipe and the view on the program's own
// terminal.
#include <sys/ioctl.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "fixture.h"

namespace {

using namespace std::chrono_literals;

constexpr auto patience = 20s;
constexpr const char csv_header[] =
    "index,seconds,geo1,geo2,geo3,acc1,acc2,acc3,geo_magnitude,acc_magnitude\n";
constexpr const char view_leave_text[] = "\x1b[0m\x1b[?25h\x1b[?1049l";

std::vector<std::string> fields_of(const std::string &line) {
  std::vector<std::string> fields;
  std::stringstream stream(line.substr(0, line.find('\n')));
  for (std::string field; std::getline(stream, field, ',');) fields.push_back(field);
  return fields;
}

std::string two_decimals(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// The six values and two magnitudes a CSV row shows for a sample line's
// values.
std::vector<std::string> row_values(const std::vector<long> &v) {
  std::vector<std::string> values;
  for (long x : v) values.push_back(std::to_string(x));
  values.push_back(
      two_decimals(std::sqrt(double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2])));
  values.push_back(
      two_decimals(std::sqrt(double(v[3]) * v[3] + double(v[4]) * v[4] + double(v[5]) * v[5])));
  return values;
}

}  // namespace

TEST(csv, rows_are_the_modules_samples_with_times_and_magnitudes) {
  module_scenario module(replies({reply_a, reply_b}));
  ASSERT_TRUE(module.bed.ok()) << module.bed.error();
  program_run program(run_options().arg("--csv"));
  ASSERT_TRUE(program.wait_for_lines(1 + 6, patience)) << program.out() << program.err();
  program.press_key();
  ASSERT_TRUE(program.wait_exit(patience));
  EXPECT_EQ(program.exit_info().status, 0);

  const std::vector<output_line> lines = program.out_lines();
  ASSERT_GE(lines.size(), 7u);
  EXPECT_EQ(lines[0].text, csv_header) << "stdout is pure CSV: the header first, no banner";
  const std::vector<std::string> a = row_values({2, 1, 3, 327680, -10, -327670});
  const std::vector<std::string> b = row_values({32767, 32767, 32767, 0, 0, 0});
  double last_seconds = -1;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i].text);
    const std::vector<std::string> f = fields_of(lines[i].text);
    ASSERT_EQ(f.size(), 10u);
    EXPECT_EQ(f[0], std::to_string(i - 1));
    ASSERT_EQ(f[1].size() - f[1].find('.'), 4u) << "milliseconds";
    const double seconds = std::stod(f[1]);
    EXPECT_GE(seconds, last_seconds);
    last_seconds = seconds;
    EXPECT_EQ(std::vector<std::string>(f.begin() + 2, f.end()), i % 2 == 1 ? a : b);
  }
  EXPECT_EQ(static_cast<int>(lines.size()) - 1, module.sim.log().samples_sent());
  EXPECT_EQ(program.err(), first_adapter_line);
}

TEST(csv, without_a_sensor_stdout_stays_empty_and_the_status_is_1) {
  test_bed bed(virtual_tty_record("ttyprintk"));
  program_run program(run_options().arg("--csv"));
  ASSERT_TRUE(program.wait_for_err(
      [](const std::string &err) { return ends_with(err, press_key_hint); }, patience));
  program.press_key();
  ASSERT_TRUE(program.wait_exit(patience));
  EXPECT_EQ(program.exit_info().status, 1);
  EXPECT_EQ(program.out(), "");
}

TEST(view, shows_the_last_sample_and_leaves_the_terminal_as_found) {
  const struct {
    const char *name;
    std::vector<std::string> args;
    const char *lang;
    bool ascii_only;
  } cases[] = {
      {"UTF-8 terminal", {"--view"}, "LANG=C.UTF-8", false},
      {"--ascii on a UTF-8 terminal", {"--view", "--ascii"}, "LANG=C.UTF-8", true},
      {"a terminal of another encoding", {"--view"}, "LANG=C", true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    module_scenario module(replies({reply_a}));
    run_options options = run_options().stdout_as(stream_mode::terminal).set_env(c.lang);
    options.unset_env("LC_ALL").unset_env("LC_CTYPE");
    for (const std::string &a : c.args) options.arg(a);
    program_run program(options);
    ASSERT_TRUE(program.started()) << program.error();
    // A size of its own, set while the view runs: the view redraws for it.
    winsize size = {30, 100, 0, 0};
    ASSERT_EQ(ioctl(program.terminal(), TIOCSWINSZ, &size), 0);
    ASSERT_TRUE(program.wait_for_out(
        [](const std::string &out) {
          return out.find("327680") != std::string::npos &&
                 out.find("-327670") != std::string::npos;
        },
        patience))
        << program.out() << program.err();
    program.press_key('q');
    ASSERT_TRUE(program.wait_exit(patience));
    EXPECT_EQ(program.exit_info().status, 0);
    const std::string shown = program.out();
    EXPECT_TRUE(ends_with(shown, view_leave_text)) << "the screen is left as found";
    EXPECT_NE(shown.find("COM1"), std::string::npos);
    EXPECT_NE(shown.find("/dev/ttyUSB0"), std::string::npos);
    const bool all_ascii = std::all_of(
        shown.begin(), shown.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
    EXPECT_EQ(all_ascii, c.ascii_only);
    EXPECT_TRUE(same_settings(program.terminal_settings(), program.terminal_settings_at_start()));
  }
}

TEST(view, a_signal_leaves_the_screen_and_the_terminal_as_found) {
  module_scenario module(replies({reply_a}));
  program_run program(run_options().arg("--view").stdout_as(stream_mode::terminal));
  ASSERT_TRUE(program.wait_for_out(
      [](const std::string &out) { return out.find("-327670") != std::string::npos; }, patience));
  program.send_signal(SIGTERM);
  ASSERT_TRUE(program.wait_exit(patience));
  EXPECT_EQ(program.exit_info().signal_number, SIGTERM);
  EXPECT_TRUE(ends_with(program.out(), view_leave_text));
  EXPECT_TRUE(same_settings(program.terminal_settings(), program.terminal_settings_at_start()));
}

TEST(view, needs_a_terminal_on_stdout) {
  module_scenario module(replies({reply_a}));
  program_run program(run_options().arg("--view"));
  ASSERT_TRUE(program.wait_exit(patience));
  EXPECT_EQ(program.exit_info().status, 2);
  EXPECT_EQ(program.err(), "orlanse_sensor: --view needs a terminal on standard output\n");
  EXPECT_EQ(program.out(), "");
  EXPECT_TRUE(module.sim.log().commands().empty()) << "no port is touched";
}
