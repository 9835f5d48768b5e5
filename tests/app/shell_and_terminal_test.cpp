// SPDX-License-Identifier: MIT
// The program as shells, scripts and launchers run it: ended by any signal,
// piped into programs that stop reading, on a full disk, with standard
// streams closed, with its command line; and the port held by another
// program. Each case checks the terminal afterwards where there is one.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "fixture.h"

namespace {

using namespace std::chrono_literals;

constexpr auto patience = 20s;
constexpr auto still_waiting = 500ms;

sim_options alternating_samples() { return replies({reply_a, reply_b}); }

// The program's terminal is back as it was before the program started.
void expect_terminal_restored(const program_run &program) {
  EXPECT_TRUE(same_settings(program.terminal_settings(), program.terminal_settings_at_start()))
      << "the terminal was not restored";
}

// Whether the program has taken the keys (non-canonical, no echo).
bool keys_taken(const program_run &program) {
  return (program.terminal_settings().c_lflag & (ICANON | ECHO)) == 0;
}

dev_t device_of(const std::string &path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_rdev : 0;
}

bool contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

// What the program wrote, without the NULs stall_out filled stdout with and
// with a terminal's line ends as the program wrote them.
std::string program_output(const program_run &program) {
  std::string text = program.out();
  text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
}

std::vector<std::string> split_lines(const std::string &text) {
  std::vector<std::string> lines;
  for (std::size_t from = 0, end; from < text.size(); from = end + 1) {
    end = text.find('\n', from);
    if (end == std::string::npos) end = text.size() - 1;
    lines.push_back(text.substr(from, end - from + 1));
  }
  return lines;
}

// Waits until the module gets no more requests: the program is held
// elsewhere (in a write that stdout does not take).
bool wait_until_requests_stop(const sensor_sim &module) {
  const auto deadline = run_clock::now() + patience;
  int sent = -1;
  while (run_clock::now() < deadline) {
    const int now_sent = module.log().samples_sent();
    if (now_sent == sent) return true;
    sent = now_sent;
    std::this_thread::sleep_for(300ms);
  }
  return false;
}

}  // namespace

TEST(signals, every_ending_signal_restores_the_terminal_and_ends_the_program_by_it) {
  const int signals[] = {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM,
                         SIGHUP,  SIGINT,  SIGPIPE, SIGXCPU, SIGRTMIN + 2};
  for (const int signal_number : signals) {
    SCOPED_TRACE(strsignal(signal_number));
    module_scenario module(alternating_samples());
    ASSERT_TRUE(module.bed.ok()) << module.bed.error();
    program_run program;
    ASSERT_TRUE(program.wait_for_lines(banner_lines + 2, patience)) << program.out();
    ASSERT_TRUE(keys_taken(program));
    program.send_signal(signal_number);
    ASSERT_TRUE(program.wait_exit(patience));
    EXPECT_FALSE(program.exit_info().exited);
    EXPECT_EQ(program.exit_info().signal_number, signal_number);
    expect_terminal_restored(program);
  }
}

TEST(signals, a_signal_ignored_by_the_parent_stays_ignored) {
  module_scenario module(alternating_samples());
  program_run program(run_options().ignoring(SIGUSR1));
  ASSERT_TRUE(program.wait_for_lines(banner_lines + 2, patience)) << program.out();
  program.send_signal(SIGUSR1);
  const std::size_t lines = program.out_lines().size();
  ASSERT_TRUE(program.wait_for_lines(lines + 2, patience)) << "sampling goes on";
  program.press_key();
  ASSERT_TRUE(program.wait_exit(patience));
  EXPECT_EQ(program.exit_info().status, 0);
  expect_terminal_restored(program);
}

// The program piped into head, which stops reading after the banner and one
// sample; the shell reports the program's status on stderr.
TEST(output, a_reader_that_goes_away_ends_the_run_with_the_terminal_restored) {
  const char pipeline[] = "\"$0\" | head -n 3 > /dev/null; echo \"status ${PIPESTATUS[0]}\" >&2";
  const struct {
    const char *name;
    bool sigpipe_ignored;
    const char *status;
    const char *said;
  } cases[] = {
      {"SIGPIPE at its default ends the program through it", false, "status 141\n", ""},
      {"SIGPIPE ignored: the failed write ends the run with 3", true, "status 3\n",
       "orlanse_sensor: cannot write to stdout: Broken pipe\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    module_scenario module(alternating_samples());
    run_options options = run_options().in_shell(pipeline);
    if (c.sigpipe_ignored) options.ignoring(SIGPIPE);
    program_run program(options);
    ASSERT_TRUE(program.wait_exit(patience)) << "the run must end by itself";
    EXPECT_TRUE(ends_with(program.err(), c.status)) << program.err();
    EXPECT_TRUE(contains(program.err(), c.said)) << program.err();
    expect_terminal_restored(program);
  }
}

TEST(output, a_full_disk_ends_the_run_with_3_and_says_why) {
  module_scenario module(alternating_samples());
  program_run program(run_options().in_shell("exec \"$0\" > /dev/full"));
  ASSERT_TRUE(program.wait_exit(patience)) << "the run must end by itself";
  EXPECT_EQ(program.exit_info().status, 3);
  EXPECT_EQ(program.err(), "orlanse_sensor: cannot write to stdout: No space left on device\n");
  EXPECT_TRUE(module.sim.log().commands().empty()) << "the banner failed: no port is opened";
  expect_terminal_restored(program);
}

// The test bed's preload library opens a socket of its own at start, which
// would take a closed stream's number before the program runs: these runs
// go without it, on this machine's own ports, where no FTDI adapter is. The
// program must then write its texts to /dev/null in the closed streams'
// place, not into whatever it opens next (the terminal, the port), and end
// as a run without a sensor does.
TEST(streams, closed_standard_streams_are_kept_from_what_the_program_opens) {
  const struct {
    const char *name;
    stream_mode in, out, err;
    bool terminal;
  } cases[] = {
      {"stdout closed", stream_mode::standard, stream_mode::closed, stream_mode::standard, true},
      {"all three closed", stream_mode::closed, stream_mode::closed, stream_mode::closed, true},
      {"all three closed, no terminal", stream_mode::closed, stream_mode::closed,
       stream_mode::closed, false},
      {"stderr closed", stream_mode::standard, stream_mode::standard, stream_mode::closed, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    run_options options =
        run_options().outside_test_bed().stdin_as(c.in).stdout_as(c.out).stderr_as(c.err);
    if (!c.terminal) options.no_terminal();
    program_run program(options);
    ASSERT_TRUE(program.started()) << program.error();
    if (c.terminal) {
      EXPECT_FALSE(program.wait_exit(still_waiting)) << "it waits for the key, as without a sensor";
      program.press_key();
    }
    ASSERT_TRUE(program.wait_exit(patience));
    EXPECT_EQ(program.exit_info().status, 1) << program.err();
    if (c.out == stream_mode::standard) {
      EXPECT_EQ(program.out(), std::string(banner_output) + not_found_output);
    }
    if (c.terminal) {
      const std::string shown = read_for(program.terminal(), 4096, 100ms);
      EXPECT_FALSE(contains(shown, "Orlanse")) << "the banner reached the terminal: " << shown;
      expect_terminal_restored(program);
    }
  }
}

TEST(busy_port, a_port_another_program_holds_is_reported_and_left_alone) {
  const struct {
    const char *name;
    bool exclusive;  // TIOCEXCL, which root's open passes by
    bool locked;     // the advisory lock terminal programs take
  } cases[] = {
      {"plainly open, as cat has it", false, false},
      {"open with TIOCEXCL", true, false},
      {"locked with flock", false, true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    if (c.exclusive && geteuid() != 0) GTEST_SKIP() << "TIOCEXCL is passed by root only";
    module_scenario module(alternating_samples());
    ASSERT_TRUE(module.bed.ok()) << module.bed.error();
    const int holder = open((module.bed.root() + "/dev/ttyUSB0").c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    if (c.exclusive) {
      ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
    }
    if (c.locked) {
      ASSERT_EQ(flock(holder, LOCK_EX), 0);
    }
    program_run program;
    ASSERT_TRUE(program.wait_for_out(
        [](const std::string &out) { return ends_with(out, not_found_output); }, patience))
        << program.out();
    program.press_key();
    ASSERT_TRUE(program.wait_exit(patience));
    EXPECT_EQ(program.exit_info().status, 1);
    EXPECT_EQ(program.out(), std::string(banner_output) + not_found_output);
    EXPECT_TRUE(contains(program.err(), "/dev/ttyUSB0 (COM1) is in use by another program"))
        << program.err();
    EXPECT_TRUE(module.sim.log().commands().empty()) << "nothing may be sent to a busy port";
    close(holder);
  }
}

TEST(busy_port, the_permission_hint_names_a_group_only_when_it_may_read_and_write) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
  if (!others_can_run(sensor_program_path())) GTEST_SKIP() << "another user cannot reach it";
  const struct {
    mode_t mode;
    const char *hint;
  } cases[] = {
      {0620, "; the user needs read and write access to it\n"},
      {0660, "; add your user to the group "},
      {0600, "; the user needs read and write access to it\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.mode);
    test_bed bed(ftdi_adapter_record(0));
    ASSERT_TRUE(bed.ok()) << bed.error();
    ASSERT_EQ(chmod(bed.root().c_str(), 0755), 0);
    ASSERT_EQ(chmod((bed.root() + "/ioctl/_default").c_str(), 0777), 0);
    ASSERT_EQ(chmod((bed.root() + "/dev/ttyUSB0").c_str(), c.mode), 0);
    const uid_t nobody = 65534;
    program_run program(run_options().as_user(nobody));
    ASSERT_TRUE(program.wait_for_out(
        [](const std::string &out) { return ends_with(out, not_found_output); }, patience))
        << program.out() << program.err();
    program.press_key();
    ASSERT_TRUE(program.wait_exit(patience));
    // The hint names the node's own group where that group may use it.
    struct stat st {};
    ASSERT_EQ(stat((bed.root() + "/dev/ttyUSB0").c_str(), &st), 0);
    const group *owner = getgrgid(st.st_gid);
    ASSERT_NE(owner, nullptr);
    std::string hint = c.hint;
    if (ends_with(hint, "group ")) hint += std::string(owner->gr_name) + "\n";
    EXPECT_TRUE(contains(program.err(), "Permission denied" + hint)) << program.err();
  }
}

TEST(failure, the_port_is_closed_before_the_key_is_awaited) {
  test_bed bed(ftdi_adapter_record(0));
  ASSERT_TRUE(bed.ok()) << bed.error();
  const int master = bed.master("/dev/ttyUSB0");
  const dev_t port = device_of(bed.root() + "/dev/ttyUSB0");
  ASSERT_NE(port, 0u);
  std::optional<sensor_sim> module(std::in_place, master, alternating_samples());
  program_run program;
  ASSERT_TRUE(program.wait_for_lines(banner_lines + 1, patience));
  EXPECT_TRUE(process_has_device_open(program.pid(), port)) << "sampling holds the port";
  // The adapter is unplugged.
  module.reset();
  bed.remove(ftdi_adapter_syspath(0));
  close(master);
  ASSERT_TRUE(program.wait_for_err(
      [](const std::string &err) { return ends_with(err, press_key_hint); }, patience))
      << program.err();
  EXPECT_TRUE(ends_with(program.out(), not_found_output));
  EXPECT_FALSE(program.wait_exit(still_waiting)) << "it waits for a key";
  EXPECT_FALSE(process_has_device_open(program.pid(), port)) << "the port is closed meanwhile";
  program.press_key();
  ASSERT_TRUE(program.wait_exit(patience));
  EXPECT_EQ(program.exit_info().status, 1);
}

TEST(diagnostics, a_module_that_falls_silent_and_answers_again_is_reported_once_each) {
  sim_options options = alternating_samples();
  options.answer_first = static_cast<int>(opening_commands().size()) + 2 * 3;
  test_bed bed(ftdi_adapter_record(0));
  ASSERT_TRUE(bed.ok()) << bed.error();
  const int master = bed.master("/dev/ttyUSB0");
  std::optional<sensor_sim> module(std::in_place, master, options);
  program_run program;
  ASSERT_TRUE(program.wait_for_err(
      [](const std::string &err) { return ends_with(err, silent_line); }, patience))
      << program.err();
  module.reset();  // the same module, answering again
  module.emplace(master, alternating_samples());
  const std::size_t lines = program.out_lines().size();
  ASSERT_TRUE(program.wait_for_lines(lines + 2, patience)) << program.err();
  program.press_key();
  ASSERT_TRUE(program.wait_exit(patience));
  EXPECT_EQ(program.exit_info().status, 0);
  EXPECT_EQ(err_lines_of(program),
            (std::vector<std::string>{first_adapter_line, silent_line, answers_again_line,
                                      "orlanse_sensor: the sensor was initialised again\n"}));
  // stdout keeps only the banner and the samples.
  for (const std::string &line : lines_after_banner(program)) {
    EXPECT_TRUE(line == line_a || line == line_b) << line;
  }
}

TEST(command_line, options_that_print_and_wrong_command_lines_touch_no_port) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char *out_starts;
    const char *err;
  } cases[] = {
      {{"--help"}, 0, "Usage: orlanse_sensor [--port PORT", ""},
      {{"--version"}, 0, "orlanse_sensor 1.", ""},
      {{"--bogus"},
       2,
       "",
       "orlanse_sensor: unknown option --bogus\n"
       "Usage: orlanse_sensor [--port PORT | --replay FILE [--fast]] [--csv | --view [--ascii]]\n"},
      {{"--port"}, 2, "", "orlanse_sensor: --port needs a port, such as COM3\n"},
      {{"extra"}, 2, "", "orlanse_sensor: unexpected argument extra\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args[0]);
    module_scenario module(alternating_samples());
    run_options options;
    for (const std::string &a : c.args) options.arg(a);
    program_run program(options);
    ASSERT_TRUE(program.wait_exit(patience)) << "it must end at once";
    EXPECT_EQ(program.exit_info().status, c.status);
    EXPECT_EQ(program.out().rfind(c.out_starts, 0), 0u) << program.out();
    if (c.status == 0) {
      EXPECT_EQ(program.err(), "");
    } else {
      EXPECT_EQ(program.err().rfind(c.err, 0), 0u) << program.err();
    }
    EXPECT_TRUE(module.sim.log().commands().empty()) << "no port may be touched";
    expect_terminal_restored(program);
  }
}

TEST(command_line, port_names_the_port_to_read) {
  // Two FTDI adapters; the module is on the second (COM2, ttyUSB1) and the
  // first stays silent.
  const struct {
    const char *port;
    bool found;
  } cases[] = {
      {"COM2", true},          {"/dev/ttyUSB1", true}, {"COM9", false},
      {"/dev/ttyUSB7", false}, {"com2", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.port);
    test_bed bed(ftdi_adapter_record(0) + ftdi_adapter_record(1));
    ASSERT_TRUE(bed.ok()) << bed.error();
    sim_options silent;
    silent.silent = true;
    sensor_sim first(bed.master("/dev/ttyUSB0"), silent);
    sensor_sim second(bed.master("/dev/ttyUSB1"), alternating_samples());
    program_run program(run_options().arg("--port").arg(c.port));
    if (c.found) {
      ASSERT_TRUE(program.wait_for_lines(banner_lines + 3, patience)) << program.err();
      program.press_key();
      ASSERT_TRUE(program.wait_exit(patience));
      EXPECT_EQ(program.exit_info().status, 0);
      EXPECT_EQ(lines_after_banner(program), alternating_lines(lines_after_banner(program).size()));
      EXPECT_EQ(err_lines_of(program).at(0),
                port_in_use_line(2, "/dev/ttyUSB1", "FT232R USB UART"));
      EXPECT_TRUE(first.log().commands().empty()) << "the first adapter is left alone";
    } else {
      ASSERT_TRUE(program.wait_for_out(
          [](const std::string &out) { return ends_with(out, not_found_output); }, patience));
      program.press_key();
      ASSERT_TRUE(program.wait_exit(patience));
      EXPECT_EQ(program.exit_info().status, 1);
      EXPECT_EQ(err_lines_of(program).at(0), "orlanse_sensor: no serial port " +
                                                 std::string(c.port) +
                                                 "; list_ports shows the ports there are\n");
      EXPECT_TRUE(first.log().commands().empty());
      EXPECT_TRUE(second.log().commands().empty());
    }
  }
}

// A key ends the run whatever stdout does: Ctrl-S is a key while sampling;
// a pipe or terminal that takes no output does not keep the key from ending
// the run, and what could not be written is counted on stderr. The program
// runs under bash, which shows stdout's file status flags before and after.
TEST(output, a_key_ends_the_run_whatever_stdout_does) {
  const char script[] =
      "grep ^flags /proc/$$/fdinfo/1 >&2; \"$0\" \"$@\"; echo \"status $?\" >&2; "
      "grep ^flags /proc/$$/fdinfo/1 >&2";
  const std::regex unwritten_line(
      "orlanse_sensor: a key ended the run while stdout took no output; ([0-9]+) bytes were not "
      "written\n");
  const struct {
    const char *name;
    const char *mode;  // "" for the plain run
    bool on_terminal;  // stdout is the terminal, else a pipe
    const char *typed;
    char key;
    bool stall;  // stdout filled up and not read before the key
  } cases[] = {
      {"Ctrl-S on the plain run", "", false, "", '\x13', false},
      {"Ctrl-S on the CSV record", "--csv", false, "", '\x13', false},
      {"Ctrl-S on the view", "--view", true, "", '\x13', false},
      {"Ctrl-S typed before the start", "", true, "\x13", 'q', false},
      {"a full pipe on the plain run", "", false, "", 'q', true},
      {"a full pipe on the CSV record", "--csv", false, "", 'q', true},
      {"an unread terminal on the plain run", "", true, "", 'q', true},
      {"an unread terminal on the view", "--view", true, "", 'q', true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    module_scenario module(alternating_samples());
    ASSERT_TRUE(module.bed.ok()) << module.bed.error();
    run_options options = run_options().in_shell(script).typed(c.typed);
    if (c.mode[0] != '\0') options.arg(c.mode);
    if (c.on_terminal) options.stdout_as(stream_mode::terminal);
    program_run program(options);
    const std::string view_sign = "-327670";
    ASSERT_TRUE(program.wait_for_out(
        [&](const std::string &out) {
          return std::string(c.mode) == "--view" ? contains(out, view_sign)
                                                 : std::count(out.begin(), out.end(), '\n') >= 4;
        },
        patience))
        << program.out() << program.err();
    EXPECT_TRUE(keys_taken(program));
    EXPECT_EQ(program.terminal_settings().c_iflag & IXON, 0u) << "Ctrl-S is a key while sampling";
    if (c.stall) {
      program.stall_out();
      ASSERT_TRUE(wait_until_requests_stop(module.sim)) << "the program waits for stdout";
    }
    program.press_key(c.key);
    ASSERT_TRUE(program.wait_reaped(patience)) << "the key must end the run";
    program.release_out();
    ASSERT_TRUE(program.wait_exit(patience));
    const std::string err = program.err();
    EXPECT_TRUE(contains(err, "\nstatus 0\n")) << err;
    expect_terminal_restored(program);
    std::vector<std::string> flags;
    for (const std::string &line : err_lines_of(program)) {
      if (line.rfind("flags:", 0) == 0) flags.push_back(line);
    }
    ASSERT_EQ(flags.size(), 2u) << err;
    EXPECT_EQ(flags[0], flags[1]) << "stdout's file status flags are left as found";

    std::smatch unwritten;
    const bool counted = std::regex_search(err, unwritten, unwritten_line);
    EXPECT_EQ(counted, c.stall) << err;
    const std::string out = program_output(program);
    if (std::string(c.mode) == "--csv") {
      EXPECT_EQ(out.rfind("index,seconds,", 0), 0u) << out;
      for (const std::string &row : split_lines(out)) EXPECT_EQ(row.back(), '\n') << row;
    }
    if (c.mode[0] != '\0' || (c.on_terminal && c.stall)) continue;
    // The plain run's stdout: the banner and whole sample lines; the line a
    // full pipe did not take is the one counted.
    ASSERT_EQ(out.rfind(banner_output, 0), 0u) << out;
    const std::vector<std::string> samples = split_lines(out.substr(std::strlen(banner_output)));
    EXPECT_EQ(samples, alternating_lines(samples.size()));
    if (counted) {
      EXPECT_EQ(std::stoul(unwritten[1].str()),
                alternating_lines(samples.size() + 1).back().size());
    }
  }
}
