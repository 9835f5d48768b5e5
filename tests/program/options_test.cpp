// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"
#include "serial_tcp.h"

namespace {

struct parsed {
  options_action action;
  program_options options;
  std::string error;
};

parsed parse(std::vector<const char *> args) {
  args.insert(args.begin(), "orlanse_sensor");
  parsed result{};
  char error[160] = "";
  result.action = parse_options(static_cast<int>(args.size()), args.data(), &result.options, error,
                                sizeof error);
  result.error = error;
  return result;
}

TEST(options, runs_and_ends_as_the_arguments_say) {
  const struct {
    std::vector<const char *> args;
    options_action action;
    const char *port;
    output_mode mode;
    bool ascii;
  } cases[] = {
      {{}, options_action::run, nullptr, output_mode::lines, false},
      {{"--port", "COM3"}, options_action::run, "COM3", output_mode::lines, false},
      {{"--port=/dev/ttyUSB1"}, options_action::run, "/dev/ttyUSB1", output_mode::lines, false},
      {{"--csv", "--port", "COM12"}, options_action::run, "COM12", output_mode::csv, false},
      {{"--view"}, options_action::run, nullptr, output_mode::view, false},
      {{"--ascii", "--view"}, options_action::run, nullptr, output_mode::view, true},
      {{"--port", "COM1", "--port", "COM2"},
       options_action::run,
       "COM2",
       output_mode::lines,
       false},
      {{"--help"}, options_action::help, nullptr, output_mode::lines, false},
      {{"-h"}, options_action::help, nullptr, output_mode::lines, false},
      {{"--version"}, options_action::version, nullptr, output_mode::lines, false},
      // Help wins over what follows, even a wrong option.
      {{"--help", "--bogus"}, options_action::help, nullptr, output_mode::lines, false},
  };
  for (const auto &c : cases) {
    const parsed p = parse(c.args);
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
    EXPECT_EQ(p.action, c.action);
    if (c.action != options_action::run) continue;
    EXPECT_EQ(p.options.port == nullptr, c.port == nullptr);
    if (c.port != nullptr && p.options.port != nullptr) {
      EXPECT_STREQ(p.options.port, c.port);
    }
    EXPECT_EQ(p.options.mode, c.mode);
    EXPECT_EQ(p.options.ascii, c.ascii);
  }
}

TEST(options, wrong_command_lines_say_what_is_wrong) {
  const struct {
    std::vector<const char *> args;
    const char *error;
  } cases[] = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"-x"}, "unknown option -x"},
      {{"COM3"}, "unexpected argument COM3"},
      {{"--port"}, "--port needs a port, such as COM3"},
      {{"--port="}, "--port needs a port, such as COM3"},
      {{"--csv", "--view"}, "--csv and --view cannot be used together"},
      {{"--ascii"}, "--ascii goes with --view"},
      {{"--csv", "--ascii"}, "--ascii goes with --view"},
      {{"--version", "--help"}, ""},  // the first of them decides: version
  };
  for (const auto &c : cases) {
    const parsed p = parse(c.args);
    SCOPED_TRACE(c.args[0]);
    if (*c.error == '\0') {
      EXPECT_EQ(p.action, options_action::version);
      continue;
    }
    EXPECT_EQ(p.action, options_action::usage_error);
    EXPECT_EQ(p.error, c.error);
  }
}

TEST(options, runs_that_end_by_themselves_record_replay_or_calibrate) {
  const struct {
    std::vector<const char *> args;
    long count;
    long long duration_ms;
    const char *record;
    const char *replay;
    bool fast;
    const char *calibration = nullptr;
    const char *calibration_out = nullptr;
  } cases[] = {
      {{"--count", "250"}, 250, 0, nullptr, nullptr, false},
      {{"--count=1"}, 1, 0, nullptr, nullptr, false},
      {{"--duration", "0.0001"}, 0, 1, nullptr, nullptr, false},  // rounded up, never 0
      {{"--count", "3", "--duration", "10"}, 3, 10000, nullptr, nullptr, false},
      {{"--record", "run.rec", "--csv"}, 0, 0, "run.rec", nullptr, false},
      {{"--replay=demo.rec", "--fast", "--view"}, 0, 0, nullptr, "demo.rec", true},
      {{"--replay", "a.rec", "--record", "b.rec"}, 0, 0, "b.rec", "a.rec", false},
      {{"--csv", "--calibration", "c.json"}, 0, 0, nullptr, nullptr, false, "c.json"},
      {{"--calibration=c", "--view"}, 0, 0, nullptr, nullptr, false, "c"},
      {{"--view", "--calibration-out", "o.json"}, 0, 0, nullptr, nullptr, false, nullptr, "o.json"},
      {{"--calibration-out=o", "--view"}, 0, 0, nullptr, nullptr, false, nullptr, "o"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args[0] + std::string(" ") + (c.args.size() > 1 ? c.args[1] : ""));
    const parsed p = parse(c.args);
    ASSERT_EQ(p.action, options_action::run) << p.error;
    EXPECT_EQ(p.options.count, c.count);
    EXPECT_EQ(p.options.duration_ms, c.duration_ms);
    EXPECT_STREQ(p.options.record, c.record);
    EXPECT_STREQ(p.options.replay, c.replay);
    EXPECT_EQ(p.options.fast, c.fast);
    EXPECT_STREQ(p.options.calibration, c.calibration);
    EXPECT_STREQ(p.options.calibration_out, c.calibration_out);
  }
}

TEST(options, bad_counts_durations_files_and_network_ports_are_usage_errors) {
  const struct {
    std::vector<const char *> args;
    const char *error;
  } cases[] = {
      {{"--count", "0"}, "--count needs a whole number of samples from 1, not \"0\""},
      {{"--count", "12x"}, "--count needs a whole number of samples from 1, not \"12x\""},
      {{"--count", "1000000001"},
       "--count needs a whole number of samples from 1, not \"1000000001\""},
      {{"--duration", "0"}, "--duration needs a number of seconds above 0, not \"0\""},
      {{"--duration", "1e3"}, "--duration needs a number of seconds above 0, not \"1e3\""},
      {{"--duration", "10000001"},
       "--duration needs a number of seconds above 0, not \"10000001\""},
      {{"--record"}, "--record needs a file name"},
      {{"--fast"}, "--fast goes with --replay"},
      {{"--replay", "a.rec", "--port", "COM3"}, "--replay and --port cannot be used together"},
      {{"--port", "tcp://host"},
       "tcp://host is no network port: it takes the form tcp://HOST:PORT"},
      {{"--port", "tcp://h:65536"},
       "tcp://h:65536 is no network port: it takes the form tcp://HOST:PORT"},
      {{"--port", "tcp://::1:2000"},
       "tcp://::1:2000 is no network port: it takes the form tcp://HOST:PORT"},
      {{"--counts", "3"}, "unknown option --counts"},
      {{"--calibration"}, "--calibration needs a file name"},
      {{"--view", "--calibration-out="}, "--calibration-out needs a file name"},
      {{"--calibration-out", "o.json"}, "--calibration-out goes with --view"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args[0] + std::string(" ") + (c.args.size() > 1 ? c.args[1] : ""));
    const parsed p = parse(c.args);
    EXPECT_EQ(p.action, options_action::usage_error);
    EXPECT_EQ(p.error, c.error);
  }
}

TEST(options, network_ports_read_as_host_and_port) {
  const struct {
    const char *name;
    const char *host;
    const char *port;
  } cases[] = {
      {"tcp://127.0.0.1:2000", "127.0.0.1", "2000"},
      {"tcp://[fe80::1%eth0]:1", "fe80::1%eth0", "1"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    tcp_address address{};
    ASSERT_TRUE(tcp_address_parse(c.name, &address));
    EXPECT_STREQ(address.host, c.host);
    EXPECT_STREQ(address.port, c.port);
    const parsed p = parse({"--port", c.name});
    EXPECT_EQ(p.action, options_action::run) << p.error;
  }
}

TEST(options, the_help_text_starts_with_the_usage_line_and_names_every_option) {
  const std::string help = help_text;
  EXPECT_EQ(help.rfind(usage_line, 0), 0u);
  for (const char *option :
       {"--port", "--csv", "--view", "--ascii", "--count", "--duration", "--record", "--replay",
        "--fast", "--calibration", "--calibration-out", "--help", "--version"}) {
    EXPECT_NE(help.find(std::string("  ") + option), std::string::npos) << option;
  }
}

}  // namespace
