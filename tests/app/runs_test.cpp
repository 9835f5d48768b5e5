// SPDX-License-Identifier: MIT
// Runs a script can drive: --count and --duration end sampling by
// themselves, with status 0, in every mode and without a terminal; a
// recording of a run and its replay; a module behind a real ser2net.
#include <unistd.h>

#include <gtest/gtest.h>

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

// The six values of the CSV rows of reply_a and reply_b.
const std::string csv_a = "2,1,3,327680,-10,-327670";
const std::string csv_b = "32767,32767,32767,0,0,0";

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
                (std::vector<std::string>{csv_a, csv_b, csv_a, csv_b, csv_a}));
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

// Runs the program to its end; its exit status, -1 when it did not end.
int run_to_end(program_run &program) {
  if (!program.wait_exit(patience) || !program.exit_info().exited) return -1;
  return program.exit_info().status;
}

TEST(runs, a_recorded_run_and_its_replay_give_the_same_samples) {
  scratch_directory dir;
  const std::string recording = dir.file("run.rec");
  std::vector<std::string> recorded;
  {
    module_scenario module(replies({reply_a, reply_b, "000A000B000CFFF6FFF5FFF4"}));
    ASSERT_TRUE(module.bed.ok()) << module.bed.error();
    program_run program(
        run_options().arg("--count").arg("7").arg("--record").arg(recording).no_terminal());
    ASSERT_EQ(run_to_end(program), 0) << program.err();
    recorded = lines_after_banner(program);
    ASSERT_EQ(recorded.size(), 7u);
  }
  const std::string text = file_text(recording);
  EXPECT_EQ(text.rfind("orlanse_sensor recording 1\n", 0), 0u) << text;
  EXPECT_NE(text.find(" w 0F\\r\\n\n"), std::string::npos) << "the opening's first command";
  EXPECT_NE(text.find(" r 000A000B000CFFF6FFF5FFF4"), std::string::npos) << text;

  // Played back, at the recorded pace and as fast as it goes, in the three
  // modes: the same samples, and the end of the recording ends the run.
  const struct {
    const char *name;
    std::vector<std::string> args;
  } cases[] = {
      {"recorded pace", {}},
      {"fast", {"--fast"}},
      {"CSV", {"--csv", "--fast"}},
      {"view", {"--view", "--fast"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    module_scenario module(replies({reply_b}));  // present, and never asked
    run_options options = run_options().arg("--replay").arg(recording);
    for (const std::string &arg : c.args) options.arg(arg);
    if (c.args.empty() || c.args[0] != "--view") options.no_terminal();
    if (!c.args.empty() && c.args[0] == "--view") options.stdout_as(stream_mode::terminal);
    program_run program(options);
    ASSERT_EQ(run_to_end(program), 0) << program.err();
    EXPECT_EQ(
        err_lines_of(program),
        std::vector<std::string>{"orlanse_sensor: replaying the recording " + recording + "\n"});
    if (c.args.empty() || c.args[0] == "--fast") {
      EXPECT_EQ(lines_after_banner(program), recorded);
    } else if (c.args[0] == "--csv") {
      const std::string c3 = "11,10,12,-110,-100,-120";
      EXPECT_EQ(csv_values(program.out()),
                (std::vector<std::string>{csv_a, csv_b, c3, csv_a, csv_b, c3, csv_a}));
    }
    EXPECT_TRUE(module.sim.log().commands().empty()) << "a replay touches no port";
  }
}

TEST(runs, a_recording_never_replaces_a_file_and_a_bad_one_is_refused) {
  scratch_directory dir;
  const std::string existing = dir.write("kept.rec", "precious\n");
  const std::string malformed =
      dir.write("bad.rec", "orlanse_sensor recording 1\n0 w 29\\r\\n\n5 x 00\n");
  const std::string foreign = dir.write("notes.txt", "0 w 29\n");
  const std::string missing = dir.file("missing.rec");
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--record", existing},
       "orlanse_sensor: " + existing + " exists already; a recording never replaces a file\n"},
      {{"--record", dir.path + "/no/such/dir.rec"},
       "orlanse_sensor: cannot create the recording " + dir.path +
           "/no/such/dir.rec: No such file or directory\n"},
      {{"--replay", missing},
       "orlanse_sensor: cannot read the recording " + missing + ": No such file or directory\n"},
      {{"--replay", malformed},
       "orlanse_sensor: " + malformed + " is not a recording: line 3 is malformed\n"},
      {{"--replay", foreign},
       "orlanse_sensor: " + foreign +
           " is not a recording (its first line is not \"orlanse_sensor recording 1\")\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args.back());
    module_scenario module(replies({reply_a}));
    run_options options;
    options.args = c.args;
    program_run program(options);
    EXPECT_EQ(run_to_end(program), 2);
    EXPECT_EQ(program.err(), c.err);
    EXPECT_EQ(program.out(), "");
    EXPECT_TRUE(module.sim.log().commands().empty()) << "refused before any port is touched";
  }
  EXPECT_EQ(file_text(existing), "precious\n");
}

TEST(runs, a_recording_of_a_run_that_found_no_sensor_is_not_left_behind) {
  scratch_directory dir;
  test_bed bed;  // no adapter at all
  program_run program(
      run_options().arg("--record").arg(dir.file("none.rec")).arg("--csv").no_terminal());
  EXPECT_EQ(run_to_end(program), 1);
  EXPECT_NE(access(dir.file("none.rec").c_str(), F_OK), 0) << "the recording is removed";
}

// A module on another machine, behind a real ser2net: the same samples as
// the simulator sends (the modes print them as they do from a local port).
TEST(network_port, samples_through_ser2net_are_the_modules) {
  test_bed bed;  // no local port at all
  network_module module(replies({reply_a, reply_b}));
  ASSERT_TRUE(module.ok()) << module.error();
  program_run program(
      run_options().arg("--port").arg(module.url()).arg("--count").arg("6").no_terminal());
  ASSERT_EQ(run_to_end(program), 0) << program.err();
  EXPECT_EQ(program.err(), "orlanse_sensor: reading the sensor on " + module.url() +
                               " (a serial-to-network server)\n");
  EXPECT_EQ(lines_after_banner(program), alternating_lines(6));
  EXPECT_EQ(module.sim().log().samples_sent(), 6);
}

// A server that stops mid-run, refuses, or closes the connection at once is
// the not-found path: a line on stderr, the not-found text, status 1.
TEST(network_port, a_server_that_stops_refuses_or_closes_is_the_not_found_path) {
  {
    SCOPED_TRACE("stops mid-run");
    test_bed bed;
    network_module module(replies({reply_a, reply_b}));
    ASSERT_TRUE(module.ok()) << module.error();
    program_run program(run_options().arg("--port").arg(module.url()).no_terminal());
    ASSERT_TRUE(program.wait_for_lines(banner_lines + 3, patience)) << program.err();
    module.stop_server();
    ASSERT_EQ(run_to_end(program), 1) << program.err();
    EXPECT_TRUE(ends_with(program.out(), not_found_output)) << program.out();
    const std::vector<std::string> err = err_lines_of(program);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.back(), port_gone_line);
  }
  {
    SCOPED_TRACE("refuses");
    test_bed bed;
    const std::string port = std::to_string(free_tcp_port());
    program_run program(run_options().arg("--port").arg("tcp://127.0.0.1:" + port).no_terminal());
    ASSERT_EQ(run_to_end(program), 1) << program.err();
    EXPECT_EQ(program.out(), std::string(banner_output) + not_found_output);
    EXPECT_EQ(program.err(), "orlanse_sensor: cannot connect to 127.0.0.1 port " + port +
                                 ": Connection refused\n");
  }
  {
    SCOPED_TRACE("closes at once: its device cannot be opened");
    test_bed bed;
    ser2net_setup setup;
    setup.device = "/dev/no-such-serial-port";
    network_module module(sim_options{}, setup);
    ASSERT_TRUE(module.ok()) << module.error();
    program_run program(run_options().arg("--port").arg(module.url()).no_terminal());
    ASSERT_EQ(run_to_end(program), 1) << program.err();
    EXPECT_EQ(program.out(), std::string(banner_output) + not_found_output);
    const std::vector<std::string> err = err_lines_of(program);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.back(), port_gone_line) << program.err();
  }
}

}  // namespace
