// SPDX-License-Identifier: MIT
// The CSV record and the live view end to end: the real program against the
// module simulator, the CSV on a pipe and the view on the program's own
// terminal.
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
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
constexpr const char view_leave_text[] = "\x1b[0m\x1b[?25h\x1b[?1049l";
constexpr const char view_enter_text[] = "\x1b[?1049h\x1b[?25l\x1b[H\x1b[2J";

bool contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

bool shows_a_sample(const std::string &out) { return contains(out, "-327670"); }

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

// The view draws with ANSI (VT100) sequences: a terminal that cannot take
// them is refused before any port is touched, saying why.
TEST(view, a_terminal_it_cannot_draw_on_is_refused_and_says_why) {
  const struct {
    const char *term;  // nullptr: TERM unset
    const char *refusal;
  } cases[] = {
      {"dumb", "needs a terminal that can move its cursor; TERM=dumb cannot"},
      {nullptr, "needs TERM to name the terminal; TERM is not set"},
      {"vt52", "needs a terminal that takes ANSI (VT100) sequences; TERM=vt52 takes others"},
      {"no-such-terminal",
       "does not know the terminal TERM=no-such-terminal (no terminfo entry for it)"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.term != nullptr ? c.term : "(unset)");
    module_scenario module(replies({reply_a}));
    run_options options = run_options().arg("--view").stdout_as(stream_mode::terminal);
    if (c.term != nullptr) {
      options.set_env(std::string("TERM=") + c.term);
    } else {
      options.unset_env("TERM");
    }
    program_run program(options);
    ASSERT_TRUE(program.wait_exit(patience));
    EXPECT_EQ(program.exit_info().status, 2);
    EXPECT_EQ(program.err(), std::string("orlanse_sensor: --view ") + c.refusal + "\n");
    EXPECT_EQ(program.out(), "") << "not a byte to the terminal";
    EXPECT_TRUE(module.sim.log().commands().empty()) << "no port is touched";
  }
}

// How the view ends on a terminal the test holds as a shell does: a terminal
// without a size (a serial console says 0x0) is drawn at COLUMNS x LINES,
// else 80x24; a key that sends a sequence is read whole, leaving the shell
// nothing; Ctrl-C ends it as a key does, with the calibration printed, and
// then ends the program by SIGINT.
TEST(view, ends_as_found_whatever_ends_it) {
  const std::string offsets =
      "orlanse_sensor: geomagnetic offsets (geo1,geo2,geo3): 16384.5,16384.0,16385.0 (";
  const std::string saved = "/tmp/orlanse_view_ends_" + std::to_string(getpid()) + ".json";
  const struct {
    const char *name;
    std::vector<std::string> env;
    unsigned short size;  // columns and rows both, 0 for 0x0
    const char *keys;     // after a 'c' when the calibration is wanted
    bool calibrated;
    int rows_drawn;
  } cases[] = {
      {"0x0 with COLUMNS and LINES", {"COLUMNS=100", "LINES=30"}, 0, "q", false, 30},
      {"0x0 without them", {"COLUMNS=0", "LINES=many"}, 0, "q", false, 24},
      {"F1 (SS3)", {}, 24, "\x1bOP", false, 24},
      {"F5", {}, 24, "\x1b[15~", false, 24},
      {"Linux console F1", {}, 24, "\x1b[[A", false, 24},
      {"Alt-x", {}, 24, "\x1bx", false, 24},
      {"Ctrl-C after a calibration", {}, 24, "\x03", true, 24},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    module_scenario module(replies({reply_a, reply_b}));
    std::remove(saved.c_str());
    run_options options = run_options().arg("--view").arg("--calibration-out").arg(saved);
    options.stdout_as(stream_mode::terminal);
    options.terminal_size(c.size == 0 ? 0 : 80, c.size).holding_terminal();
    options.unset_env("COLUMNS").unset_env("LINES");
    for (const std::string &e : c.env) options.set_env(e);
    program_run program(options);
    ASSERT_TRUE(program.wait_for_out(shows_a_sample, patience)) << program.err();
    if (c.calibrated) {
      program.press_key('c');
      // Enough points for the fit to give a model, and so offsets to print:
      // 60 more samples, two commands each.
      const std::size_t asked = module.sim.log().commands().size();
      ASSERT_TRUE(module.sim.log().wait_for_commands(asked + 120, patience)) << program.err();
    }
    program.press_keys(c.keys);
    ASSERT_TRUE(program.wait_exit(patience));
    EXPECT_EQ(program.exit_info().status, c.calibrated ? -1 : 0);
    EXPECT_EQ(program.exit_info().signal_number, c.calibrated ? SIGINT : 0);
    EXPECT_EQ(contains(program.err(), offsets), c.calibrated) << program.err();
    EXPECT_EQ(std::remove(saved.c_str()) == 0, c.calibrated) << "the calibration is saved";
    const std::string out = program.out();
    EXPECT_TRUE(ends_with(out, view_leave_text));
    EXPECT_TRUE(contains(out, "\x1b[" + std::to_string(c.rows_drawn) + ";1H"));
    EXPECT_FALSE(contains(out, "\x1b[" + std::to_string(c.rows_drawn + 1) + ";1H"));
    EXPECT_EQ(program.input_left_for_shell(), "\n");
    EXPECT_TRUE(same_settings(program.terminal_settings(), program.terminal_settings_at_start()));
  }
}

// Ctrl-Z under a job-control shell (which needs the terminal on its stderr;
// the program's stderr stays the test's pipe): the view leaves the full
// screen and hands the terminal back as found; fg brings it back and it
// redraws.
TEST(view, ctrl_z_leaves_the_screen_and_fg_redraws_it) {
  module_scenario module(replies({reply_a, reply_b}));
  program_run program(
      run_options()
          .in_shell("exec 3>&2 2>/dev/tty; set -m; \"$0\" --view 2>&3; echo \"stopped $?\" >&3; "
                    "read -r; fg; echo \"status $?\" >&3")
          .stdout_as(stream_mode::terminal));
  ASSERT_TRUE(program.wait_for_out(shows_a_sample, patience)) << program.err();
  program.press_key('\x1a');
  ASSERT_TRUE(program.wait_for_err(
      [](const std::string &err) { return contains(err, "stopped 148\n"); }, patience))
      << program.err();
  const std::string at_stop = program.out();
  const std::size_t left = at_stop.rfind(view_leave_text);
  ASSERT_NE(left, std::string::npos) << "the screen is left, the cursor shown";
  EXPECT_EQ(at_stop.find('\x1b', left + std::strlen(view_leave_text)), std::string::npos)
      << "nothing drawn after";
  EXPECT_TRUE(same_settings(program.terminal_settings(), program.terminal_settings_at_start()));
  program.press_key('\n');  // the shell's read; then fg
  ASSERT_TRUE(program.wait_for_out(
      [&](const std::string &out) {
        return out.size() > at_stop.size() && shows_a_sample(out.substr(at_stop.size()));
      },
      patience))
      << program.err();
  const std::string after = program.out().substr(at_stop.size());
  const std::size_t entered = after.find(view_enter_text);
  ASSERT_NE(entered, std::string::npos) << "the full screen again";
  EXPECT_EQ(after.find('\x1b'), entered) << "before anything is drawn";
  EXPECT_TRUE(contains(after, "\x1b[H\x1b[2J\x1b[1;1H")) << "and redrawn whole";
  program.press_key('q');
  ASSERT_TRUE(program.wait_exit(patience));
  EXPECT_TRUE(contains(program.err(), "status 0\n")) << program.err();
  EXPECT_TRUE(ends_with(program.out(), view_leave_text));
  EXPECT_TRUE(same_settings(program.terminal_settings(), program.terminal_settings_at_start()));
}
