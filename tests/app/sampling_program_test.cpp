// SPDX-License-Identifier: MIT
// The real orlanse_sensor end to end: fake FTDI adapters in a umockdev test
// bed, the module simulator on the adapter's pty master, keys typed on the
// program's own terminal. Time limits are generous and only bound waits: no
// case asserts speed.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fixture.h"

namespace {

using namespace std::chrono_literals;

constexpr auto patience = 20s;         // bound for anything that must happen
constexpr auto still_waiting = 500ms;  // how long a waiting program is watched

// Records of ports that are not FTDI adapters.
std::string other_ports_records() {
  return pnp_port_record("ttyS0", "00:00", "PNP0501", true) + placeholder_record("ttyS1") +
         usb_adapter_record({"usb2/2-1", "ttyUSB2", "cp210x", "10c4", "ea60", "CP2102"}) +
         usb_adapter_record({"usb1/1-3", "ttyUSB3", "pl2303", "067b", "2303", ""}) +
         virtual_tty_record("ttyprintk");
}

// Ends a running program with a key and expects status.
void press_key_and_expect_status(program_run &program, int status) {
  program.press_key();
  ASSERT_TRUE(program.wait_exit(patience)) << "the program did not end after a key";
  EXPECT_TRUE(program.exit_info().exited);
  EXPECT_EQ(program.exit_info().status, status);
}

// stderr of the not-found path with a terminal: the lines before it (the
// reason first), then the hint for the key. Returns the reason.
std::string expect_reason_and_key_hint(const program_run &program,
                                       const std::vector<std::string> &before = {}) {
  const std::vector<std::string> lines = err_lines_of(program);
  EXPECT_EQ(lines.size(), before.size() + 2) << program.err();
  if (lines.size() != before.size() + 2) return "";
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + before.size()), before);
  EXPECT_EQ(lines.back(), press_key_hint);
  return lines[before.size()];
}

using module_bed = module_scenario;

sim_options alternating_samples() {
  sim_options options;
  options.samples = {sim_raw(reply_a), sim_raw(reply_b)};
  return options;
}

}  // namespace

TEST(without_sensor, says_not_found_waits_for_one_key_and_ends_with_1) {
  const struct {
    const char *name;
    std::string records;
  } beds[] = {
      {"no serial port at all", virtual_tty_record("ttyprintk")},
      {"only ports that are not FTDI adapters", other_ports_records()},
  };
  for (const auto &c : beds) {
    SCOPED_TRACE(c.name);
    adapter_bed bed(c.records);
    ASSERT_TRUE(bed.ok()) << bed.error();
    program_run program(sensor_program_path(), true);
    ASSERT_TRUE(program.started()) << program.error();
    const std::string expected = std::string(banner_output) + not_found_output;
    ASSERT_TRUE(
        program.wait_for_out([&](const std::string &out) { return out == expected; }, patience))
        << program.out();
    EXPECT_FALSE(program.wait_exit(still_waiting)) << "it must wait for a key";
    press_key_and_expect_status(program, 1);
    EXPECT_EQ(program.out(), expected);
    EXPECT_EQ(expect_reason_and_key_hint(program),
              "orlanse_sensor: no FTDI serial adapter found\n");
  }
}

TEST(without_terminal, not_found_ends_with_1_at_once) {
  adapter_bed bed(other_ports_records());
  ASSERT_TRUE(bed.ok()) << bed.error();
  program_run program(sensor_program_path(), false);
  ASSERT_TRUE(program.started()) << program.error();
  ASSERT_TRUE(program.wait_exit(patience)) << "no key can come: it must not wait";
  EXPECT_TRUE(program.exit_info().exited);
  EXPECT_EQ(program.exit_info().status, 1);
  EXPECT_EQ(program.out(), std::string(banner_output) + not_found_output);
}

TEST(without_terminal, samples_until_a_signal) {
  module_bed module(alternating_samples());
  ASSERT_TRUE(module.bed.ok()) << module.bed.error();
  program_run program(sensor_program_path(), false);
  ASSERT_TRUE(program.started()) << program.error();
  ASSERT_TRUE(program.wait_for_lines(banner_lines + 4, patience)) << program.out();
  program.send_signal(SIGTERM);
  ASSERT_TRUE(program.wait_exit(patience));
  EXPECT_EQ(program.exit_info().signal_number, SIGTERM);
  const std::vector<std::string> lines = lines_after_banner(program);
  EXPECT_EQ(lines, alternating_lines(lines.size()));
}

TEST(opening, module_gets_the_commands_in_order_with_their_pauses) {
  module_bed module(alternating_samples());
  ASSERT_TRUE(module.bed.ok()) << module.bed.error();
  program_run program(sensor_program_path(), true);
  ASSERT_TRUE(program.started()) << program.error();
  std::vector<std::string> expected = opening_commands();
  for (int sample = 0; sample < 2; ++sample) {
    expected.insert(expected.end(), {sample_command, follow_up_command});
  }
  ASSERT_TRUE(module.sim.log().wait_for_commands(expected.size(), patience));
  press_key_and_expect_status(program, 0);

  const std::vector<sim_command> commands = module.sim.log().commands();
  std::vector<std::string> texts;
  for (std::size_t i = 0; i < expected.size(); ++i) texts.push_back(commands[i].text);
  EXPECT_EQ(texts, expected);
  // The pauses come after the reply was read, so the next command arrives at
  // least that much later.
  EXPECT_GE(commands[1].received - commands[0].received, 250ms) << "after 0F";
  EXPECT_GE(commands[5].received - commands[4].received, 100ms) << "after the opening's 21";
}

TEST(sampling, prints_one_exact_line_per_sample_and_ends_with_0_on_a_key) {
  module_bed module(alternating_samples());
  ASSERT_TRUE(module.bed.ok()) << module.bed.error();
  program_run program(sensor_program_path(), true);
  ASSERT_TRUE(program.started()) << program.error();
  ASSERT_TRUE(program.wait_for_lines(banner_lines + 6, patience)) << program.out();
  press_key_and_expect_status(program, 0);

  const std::string out = program.out();
  ASSERT_EQ(out.compare(0, std::strlen(banner_output), banner_output), 0) << out;
  const std::vector<std::string> lines = lines_after_banner(program);
  EXPECT_EQ(lines, alternating_lines(lines.size()));
  // Every answered request gave its line; none was made up.
  EXPECT_EQ(static_cast<int>(lines.size()), module.sim.log().samples_sent());
  EXPECT_EQ(program.err(), first_adapter_line);
}

TEST(sampling, uses_the_ftdi_adapter_with_the_lower_com_number) {
  // ttyUSB1 is listed first in the records; ttyUSB0 still gets the lower number.
  adapter_bed bed(ftdi_adapter_record(1) + ftdi_adapter_record(0));
  ASSERT_TRUE(bed.ok()) << bed.error();
  sim_options first;
  first.samples = {sim_raw(reply_a)};
  sim_options second;
  second.samples = {sim_raw(reply_b)};
  sensor_sim first_sim(bed.master("/dev/ttyUSB0"), first);
  sensor_sim second_sim(bed.master("/dev/ttyUSB1"), second);

  program_run program(sensor_program_path(), true);
  ASSERT_TRUE(program.started()) << program.error();
  ASSERT_TRUE(program.wait_for_lines(banner_lines + 3, patience)) << program.out();
  press_key_and_expect_status(program, 0);
  const std::vector<std::string> lines = lines_after_banner(program);
  EXPECT_EQ(lines, std::vector<std::string>(lines.size(), line_a));
  EXPECT_TRUE(second_sim.log().commands().empty());
}

TEST(keys, a_key_waiting_before_sampling_ends_it_before_any_sample) {
  const struct {
    const char *name;
    bool typed_before_start;
  } cases[] = {{"typed before the program started", true}, {"typed during the opening", false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<const program_run *> running{nullptr};
    sim_options options = alternating_samples();
    if (!c.typed_before_start) {
      // The terminal is set up before the port is opened: a key typed when
      // the first command arrives is waiting before the first sample.
      options.on_command = [&running](const sim_command &command) {
        const program_run *program = running.load();
        if (command.text == "0F" && program != nullptr) program->press_key();
      };
    }
    module_bed module(options);
    ASSERT_TRUE(module.bed.ok()) << module.bed.error();
    program_run program(sensor_program_path(), true, c.typed_before_start ? "k" : "");
    ASSERT_TRUE(program.started()) << program.error();
    running = &program;
    ASSERT_TRUE(program.wait_exit(patience)) << "the waiting key must end the program";
    running = nullptr;
    EXPECT_TRUE(program.exit_info().exited);
    EXPECT_EQ(program.exit_info().status, 0);
    EXPECT_EQ(program.out(), banner_output);
    EXPECT_EQ(count_commands(module.sim.log(), "29"), 0u);
    EXPECT_EQ(count_commands(module.sim.log(), "0F"), 1u) << "the module was opened";
  }
}

TEST(keys, a_key_during_a_sample_lets_that_sample_print_then_ends_with_0) {
  std::atomic<const program_run *> running{nullptr};
  std::atomic<int> requests{0};
  sim_options options = alternating_samples();
  options.pace = true;
  options.on_command = [&](const sim_command &command) {
    const program_run *program = running.load();
    if (command.text == "29" && ++requests == 3 && program != nullptr) program->press_key();
  };
  module_bed module(options);
  ASSERT_TRUE(module.bed.ok()) << module.bed.error();
  program_run program(sensor_program_path(), true);
  ASSERT_TRUE(program.started()) << program.error();
  running = &program;
  ASSERT_TRUE(program.wait_exit(patience));
  running = nullptr;
  EXPECT_TRUE(program.exit_info().exited);
  EXPECT_EQ(program.exit_info().status, 0);
  const std::vector<std::string> lines = lines_after_banner(program);
  EXPECT_GE(lines.size(), 3u) << "the sample under way when the key came is printed";
  EXPECT_EQ(lines, alternating_lines(lines.size()));
  EXPECT_EQ(static_cast<int>(lines.size()), module.sim.log().samples_sent());
}

TEST(keys, a_key_ends_sampling_when_the_module_falls_silent) {
  sim_options options;
  // The opening is answered; the first sample request never is.
  options.samples = {sim_raw(reply_a, true, 3600 * 1000)};
  module_bed module(options);
  ASSERT_TRUE(module.bed.ok()) << module.bed.error();
  program_run program(sensor_program_path(), true);
  ASSERT_TRUE(program.started()) << program.error();
  ASSERT_TRUE(module.sim.log().wait_for_commands(6, patience));
  std::this_thread::sleep_for(300ms);
  const sim_clock::time_point pressed = sim_clock::now();
  press_key_and_expect_status(program, 0);
  EXPECT_EQ(program.out(), banner_output);
  RecordProperty("key_to_exit_ms",
                 static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      program.exit_info().when - pressed)
                                      .count()));
}

TEST(unplugged, during_sampling_says_not_found_waits_for_one_key_and_ends_with_1) {
  const struct {
    const char *name;
    bool module_hangs_up;  // else the test removes the adapter and closes the port
  } cases[] = {{"the line hangs up at a sample request", true}, {"the adapter is removed", false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    sim_options options = alternating_samples();
    if (c.module_hangs_up) options.hang_up_after_samples = 3;
    module_bed module(options);
    ASSERT_TRUE(module.bed.ok()) << module.bed.error();
    program_run program(sensor_program_path(), true);
    ASSERT_TRUE(program.started()) << program.error();
    ASSERT_TRUE(program.wait_for_lines(banner_lines + 3, patience)) << program.out();
    if (!c.module_hangs_up) {
      module.sim.stop();
      module.bed.remove(ftdi_adapter_syspath(0));
      close(module.master);
    }
    ASSERT_TRUE(program.wait_for_out(
        [](const std::string &out) { return ends_with(out, not_found_output); }, patience))
        << program.out();
    EXPECT_FALSE(program.wait_exit(still_waiting)) << "it must wait for a key";
    press_key_and_expect_status(program, 1);

    std::vector<std::string> lines = lines_after_banner(program);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), not_found_output);
    lines.pop_back();
    EXPECT_GE(lines.size(), 3u);
    EXPECT_EQ(lines, alternating_lines(lines.size()));
    EXPECT_EQ(expect_reason_and_key_hint(program, {first_adapter_line}), port_gone_line);
  }
}

TEST(replies, broken_and_over_long_replies_print_no_line_and_the_next_sample_is_right) {
  sim_options options;
  options.samples = {
      sim_raw(reply_a),
      sim_raw("0001000200"),  // too short
      sim_raw(reply_b),
      sim_raw(std::string(300, 'Z')),  // over-long, far past the reply buffer
      sim_raw(reply_a),
      sim_raw("0001ZZZZ0003FFFF80008001"),  // a field that is not hexadecimal
      sim_raw(reply_b),
      sim_raw(std::string(300, 'Z') + reply_a),  // over-long with a sample at its end
      sim_raw(reply_a),
      sim_raw(reply_b + std::string(300, 'F')),  // over-long with a sample at its start
      sim_raw(reply_b)};
  module_bed module(options);
  ASSERT_TRUE(module.bed.ok()) << module.bed.error();
  program_run program(sensor_program_path(), true);
  ASSERT_TRUE(program.started()) << program.error();
  // Two rounds of the script.
  ASSERT_TRUE(program.wait_for_lines(banner_lines + 10, patience)) << program.out();
  press_key_and_expect_status(program, 0);
  const std::vector<std::string> lines = lines_after_banner(program);
  const std::vector<std::string> round = {line_a, line_b, line_a, line_b, line_a, line_b};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i], round[i % round.size()]) << "line " << i;
  }
}

TEST(settings, the_port_is_9600_raw_while_sampling_and_put_back_after) {
  module_bed module(alternating_samples());
  ASSERT_TRUE(module.bed.ok()) << module.bed.error();
  termios before;
  ASSERT_EQ(tcgetattr(module.master, &before), 0);
  ASSERT_TRUE(before.c_lflag & ICANON) << "the port starts cooked";
  program_run program(sensor_program_path(), true);
  ASSERT_TRUE(program.started()) << program.error();
  ASSERT_TRUE(program.wait_for_lines(banner_lines + 2, patience)) << program.out();

  termios port;
  ASSERT_EQ(tcgetattr(module.master, &port), 0);
  EXPECT_EQ(cfgetispeed(&port), B9600);
  EXPECT_EQ(cfgetospeed(&port), B9600);
  EXPECT_EQ(port.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
  EXPECT_EQ(port.c_iflag & (ICRNL | INLCR | IGNCR | IXON | IXOFF | ISTRIP | BRKINT | PARMRK), 0u);
  EXPECT_EQ(port.c_oflag & OPOST, 0u);
  EXPECT_EQ(port.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
  EXPECT_EQ(port.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));

  press_key_and_expect_status(program, 0);
  termios after;
  ASSERT_EQ(tcgetattr(module.master, &after), 0);
  EXPECT_TRUE(same_settings(after, before)) << "the port was closed and its settings put back";
}

TEST(settings, the_terminal_is_left_as_found_on_every_way_out) {
  const struct {
    const char *name;
    bool module;        // else no FTDI adapter: the failure path
    int signal_number;  // 0: end with a key
  } cases[] = {
      {"key after samples", true, 0},
      {"key after not found", false, 0},
      {"SIGINT while sampling", true, SIGINT},
      {"SIGTERM while sampling", true, SIGTERM},
      {"SIGHUP while sampling", true, SIGHUP},
      {"SIGTERM while waiting for the key", false, SIGTERM},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<module_bed> module;
    std::unique_ptr<adapter_bed> bed;
    if (c.module) {
      module = std::make_unique<module_bed>(alternating_samples());
      ASSERT_TRUE(module->bed.ok()) << module->bed.error();
    } else {
      bed = std::make_unique<adapter_bed>(other_ports_records());
      ASSERT_TRUE(bed->ok()) << bed->error();
    }
    program_run program(sensor_program_path(), true);
    ASSERT_TRUE(program.started()) << program.error();
    if (c.module) {
      ASSERT_TRUE(program.wait_for_lines(banner_lines + 2, patience)) << program.out();
    } else {
      ASSERT_TRUE(program.wait_for_out(
          [](const std::string &out) { return ends_with(out, not_found_output); }, patience));
    }
    const termios during = program.terminal_settings();
    EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u) << "keys are read one by one, unechoed";

    if (c.signal_number == 0) {
      press_key_and_expect_status(program, c.module ? 0 : 1);
    } else {
      program.send_signal(c.signal_number);
      ASSERT_TRUE(program.wait_exit(patience));
      EXPECT_EQ(program.exit_info().signal_number, c.signal_number);
    }
    EXPECT_TRUE(same_settings(program.terminal_settings(), program.terminal_settings_at_start()));
  }
}

TEST(settings, keys_still_end_sampling_after_a_stop_while_the_shell_reset_the_terminal) {
  module_bed module(alternating_samples());
  ASSERT_TRUE(module.bed.ok()) << module.bed.error();
  program_run program(sensor_program_path(), true);
  ASSERT_TRUE(program.started()) << program.error();
  ASSERT_TRUE(program.wait_for_lines(banner_lines + 2, patience)) << program.out();

  // What a job-control shell does: the job stops, the shell puts the
  // terminal back as it wants it, the job is continued.
  program.send_signal(SIGSTOP);
  ASSERT_TRUE(program.wait_stopped(patience));
  const termios shell = program.terminal_settings_at_start();
  ASSERT_EQ(tcsetattr(program.terminal(), TCSANOW, &shell), 0);
  const std::size_t lines_before = program.out_lines().size();
  program.send_signal(SIGCONT);
  ASSERT_TRUE(program.wait_for_lines(lines_before + 2, patience)) << "sampling goes on";

  EXPECT_EQ(program.terminal_settings().c_lflag & (ICANON | ECHO), 0u) << "keys are taken again";
  press_key_and_expect_status(program, 0);
  EXPECT_TRUE(same_settings(program.terminal_settings(), program.terminal_settings_at_start()));
}

TEST(open_failure, without_permission_stderr_names_the_node_and_the_access_needed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run the program as another user";
  if (!others_can_run(sensor_program_path())) {
    GTEST_SKIP() << "another user cannot reach " << sensor_program_path();
  }
  adapter_bed bed(ftdi_adapter_record(0));
  ASSERT_TRUE(bed.ok()) << bed.error();
  // The user may use the test bed (read it, reach umockdev's ioctl socket),
  // but not open the adapter's node: a pty of group tty, mode 0620.
  ASSERT_EQ(chmod(bed.root().c_str(), 0755), 0);
  ASSERT_EQ(chmod((bed.root() + "/ioctl/_default").c_str(), 0777), 0);
  const uid_t nobody = 65534;
  program_run program(sensor_program_path(), true, "", nobody);
  ASSERT_TRUE(program.started()) << program.error();
  const std::string expected = std::string(banner_output) + not_found_output;
  ASSERT_TRUE(
      program.wait_for_out([&](const std::string &out) { return out == expected; }, patience))
      << program.out() << program.err();
  press_key_and_expect_status(program, 1);
  const std::string reason = expect_reason_and_key_hint(program);
  EXPECT_NE(reason.find("/dev/ttyUSB0"), std::string::npos) << program.err();
  EXPECT_NE(reason.find("Permission denied"), std::string::npos) << program.err();
  // Group tty may only write to the node: joining it would not help.
  EXPECT_EQ(program.err().find("group"), std::string::npos) << program.err();
  EXPECT_NE(program.err().find("needs read and write access"), std::string::npos) << program.err();
}

TEST(open_failure, one_line_on_stderr_names_the_node_and_the_reason) {
  const struct {
    const char *name;
    void (*replace_node)(const std::string &path);
    const char *reason;
  } cases[] = {
      {"the node leads nowhere",
       [](const std::string &path) { ASSERT_EQ(symlink("/nonexistent/ttyUSB0", path.c_str()), 0); },
       "No such file or directory"},
      {"the node is a directory",
       [](const std::string &path) { ASSERT_EQ(mkdir(path.c_str(), 0755), 0); }, "Is a directory"},
      {"the node is a plain file",
       [](const std::string &path) {
         const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
         ASSERT_GE(fd, 0);
         close(fd);
       },
       "not a serial port"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    adapter_bed bed(ftdi_adapter_record(0));
    ASSERT_TRUE(bed.ok()) << bed.error();
    const std::string node = bed.root() + "/dev/ttyUSB0";
    ASSERT_EQ(unlink(node.c_str()), 0);
    c.replace_node(node);
    program_run program(sensor_program_path(), true);
    ASSERT_TRUE(program.started()) << program.error();
    const std::string expected = std::string(banner_output) + not_found_output;
    ASSERT_TRUE(
        program.wait_for_out([&](const std::string &out) { return out == expected; }, patience))
        << program.out();
    press_key_and_expect_status(program, 1);
    EXPECT_EQ(program.out(), expected);
    const std::string reason = expect_reason_and_key_hint(program);
    EXPECT_NE(reason.find("/dev/ttyUSB0"), std::string::npos) << program.err();
    EXPECT_NE(reason.find(c.reason), std::string::npos) << program.err();
  }
}
