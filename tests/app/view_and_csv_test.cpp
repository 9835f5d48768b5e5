// SPDX-License-Identifier: MIT
// The CSV record and the live view end to end: the real program against the
// module simulator, the CSV on a pipe and the view on the program's own
// terminal.
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
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

// A compiled terminfo entry (legacy format) for name below dir: the hardcopy
// flag and the cursor-address string (empty: none), nothing else.
void write_terminfo(const std::string &dir, const std::string &name, bool hardcopy,
                    const std::string &cup) {
  const std::string names = name + "|a terminal made up by the test";
  std::string entry;
  auto put_short = [&](int value) {
    entry += static_cast<char>(value & 0xFF);
    entry += static_cast<char>((value >> 8) & 0xFF);
  };
  const int strings = 11;  // up to cup
  for (int value : {0432, static_cast<int>(names.size()) + 1, 8, 0, strings,
                    static_cast<int>(cup.size()) + 1}) {
    put_short(value);
  }
  entry += names + '\0';
  for (int flag = 0; flag < 8; ++flag) entry += static_cast<char>(flag == 7 && hardcopy);
  if (entry.size() % 2 != 0) entry += '\0';
  for (int k = 0; k < strings; ++k) put_short(k == 10 && !cup.empty() ? 0 : -1);
  entry += cup + '\0';
  mkdir(dir.c_str(), 0755);
  mkdir((dir + "/" + name.substr(0, 1)).c_str(), 0755);
  std::ofstream(dir + "/" + name.substr(0, 1) + "/" + name, std::ios::binary) << entry;
}

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
  const std::string terminfo = testing::TempDir() + "orlanse_terminfo";
  write_terminfo(terminfo, "paper-tty", true, "");
  write_terminfo(terminfo, "vt52-like", false, "\x1bY%p1%' '%+%c%p2%' '%+%c");
  write_terminfo(terminfo, "ansi-like", false, "\x1b[%i%p1%d;%p2%dH");
  const char no_cursor[] = "orlanse_sensor: --view needs a terminal that can move its cursor; ";
  const struct {
    const char *term;  // nullptr: TERM unset
    const char *refusal;
  } cases[] = {
      {"dumb", "TERM=dumb cannot\n"},
      {nullptr, "orlanse_sensor: --view needs TERM to name the terminal; TERM is not set\n"},
      {"", "orlanse_sensor: --view needs TERM to name the terminal; TERM is not set\n"},
      {"paper-tty", "TERM=paper-tty cannot\n"},
      {"vt52-like",
       "orlanse_sensor: --view needs a terminal that takes ANSI (VT100) sequences; "
       "TERM=vt52-like takes others\n"},
      {"no-such-terminal",
       "orlanse_sensor: --view does not know the terminal TERM=no-such-terminal (no terminfo "
       "entry for it)\n"},
      {"ansi-like", nullptr},
      {"xterm-256color", nullptr},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.term != nullptr ? c.term : "(unset)");
    module_scenario module(replies({reply_a}));
    run_options options = run_options().arg("--view").stdout_as(stream_mode::terminal);
    options.set_env("TERMINFO=" + terminfo);
    if (c.term != nullptr) {
      options.set_env(std::string("TERM=") + c.term);
    } else {
      options.unset_env("TERM");
    }
    program_run program(options);
    if (c.refusal == nullptr) {
      ASSERT_TRUE(program.wait_for_out(shows_a_sample, patience)) << program.err();
      program.press_key('q');
      ASSERT_TRUE(program.wait_exit(patience));
      EXPECT_EQ(program.exit_info().status, 0);
      continue;
    }
    ASSERT_TRUE(program.wait_exit(patience));
    EXPECT_EQ(program.exit_info().status, 2);
    const std::string refusal =
        c.refusal[0] == 'T' ? no_cursor + std::string(c.refusal) : std::string(c.refusal);
    EXPECT_EQ(program.err(), refusal);
    EXPECT_EQ(program.out(), "") << "not a byte to the terminal";
    EXPECT_TRUE(module.sim.log().commands().empty()) << "no port is touched";
    EXPECT_TRUE(same_settings(program.terminal_settings(), program.terminal_settings_at_start()));
  }
}

// A terminal that reports no size (a serial console says 0x0) is drawn at
// the size COLUMNS and LINES give, else at 80x24: every row is addressed,
// none beyond.
TEST(view, a_terminal_without_a_size_takes_columns_and_lines) {
  const struct {
    std::vector<std::string> env;
    int rows;
  } cases[] = {
      {{"COLUMNS=100", "LINES=30"}, 30},
      {{}, 24},
      {{"COLUMNS=0", "LINES=many"}, 24},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.rows);
    module_scenario module(replies({reply_a}));
    run_options options =
        run_options().arg("--view").stdout_as(stream_mode::terminal).terminal_size(0, 0);
    options.unset_env("COLUMNS").unset_env("LINES");
    for (const std::string &e : c.env) options.set_env(e);
    program_run program(options);
    ASSERT_TRUE(program.wait_for_out(shows_a_sample, patience)) << program.err();
    program.press_key('q');
    ASSERT_TRUE(program.wait_exit(patience));
    EXPECT_EQ(program.exit_info().status, 0) << program.err();
    const std::string out = program.out();
    EXPECT_TRUE(contains(out, "\x1b[" + std::to_string(c.rows) + ";1H"));
    EXPECT_FALSE(contains(out, "\x1b[" + std::to_string(c.rows + 1) + ";1H"));
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

// A key that sends an escape sequence ends the view with all of it read:
// the shell finds nothing of it afterwards.
TEST(view, a_key_that_sends_a_sequence_is_read_whole) {
  const struct {
    const char *name;
    const char *keys;
  } cases[] = {
      {"up arrow", "\x1b[A"},      {"F1 (SS3)", "\x1bOP"},          {"F5", "\x1b[15~"},
      {"Ctrl-right", "\x1b[1;5C"}, {"Linux console F1", "\x1b[[A"}, {"Escape alone", "\x1b"},
      {"Alt-x", "\x1bx"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    module_scenario module(replies({reply_a}));
    program_run program(
        run_options().arg("--view").stdout_as(stream_mode::terminal).holding_terminal());
    ASSERT_TRUE(program.wait_for_out(shows_a_sample, patience)) << program.err();
    program.press_keys(c.keys);
    ASSERT_TRUE(program.wait_exit(patience));
    EXPECT_EQ(program.exit_info().status, 0);
    EXPECT_TRUE(ends_with(program.out(), view_leave_text));
    EXPECT_EQ(program.input_left_for_shell(), "\n");
    EXPECT_TRUE(same_settings(program.terminal_settings(), program.terminal_settings_at_start()));
  }
}

// Ctrl-C ends the view as a key does: the screen is left, the calibration's
// offsets are printed, and the program then ends by SIGINT.
TEST(view, ctrl_c_prints_the_calibration_and_ends_by_sigint) {
  module_scenario module(replies({reply_a, reply_b}));
  program_run program(run_options().arg("--view").stdout_as(stream_mode::terminal));
  ASSERT_TRUE(program.wait_for_out(shows_a_sample, patience)) << program.err();
  program.press_key('c');
  const int sent = module.sim.log().samples_sent();
  const auto deadline = run_clock::now() + patience;
  while (module.sim.log().samples_sent() < sent + 4 && run_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  program.press_key('\x03');
  ASSERT_TRUE(program.wait_exit(patience));
  EXPECT_FALSE(program.exit_info().exited);
  EXPECT_EQ(program.exit_info().signal_number, SIGINT);
  EXPECT_TRUE(ends_with(program.out(), view_leave_text));
  const std::string offsets =
      "orlanse_sensor: hard-iron offsets (geo1,geo2,geo3): 16384.5,16384.0,16385.0 (";
  EXPECT_TRUE(contains(program.err(), offsets)) << program.err();
  EXPECT_TRUE(same_settings(program.terminal_settings(), program.terminal_settings_at_start()));
}
