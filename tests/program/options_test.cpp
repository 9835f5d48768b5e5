// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "options.h"

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

TEST(options, the_help_text_starts_with_the_usage_line_and_names_every_option) {
  const std::string help = help_text;
  EXPECT_EQ(help.rfind(usage_line, 0), 0u);
  for (const char *option : {"--port", "--csv", "--view", "--ascii", "--help", "--version"}) {
    EXPECT_NE(help.find(std::string("  ") + option), std::string::npos) << option;
  }
}

}  // namespace

namespace {

TEST(options, calibration_files_are_named_in_either_form) {
  const struct {
    std::vector<const char *> args;
    const char *calibration;
    const char *calibration_out;
    const char *error;  // NULL: runs
  } cases[] = {
      {{"--calibration", "c.json"}, "c.json", nullptr, nullptr},
      {{"--csv", "--calibration=c.json"}, "c.json", nullptr, nullptr},
      {{"--view", "--calibration-out", "o.json"}, nullptr, "o.json", nullptr},
      {{"--calibration-out=o.json", "--view", "--calibration", "c.json"},
       "c.json",
       "o.json",
       nullptr},
      {{"--calibration"}, nullptr, nullptr, "--calibration needs a file name"},
      {{"--view", "--calibration-out="}, nullptr, nullptr, "--calibration-out needs a file name"},
      {{"--calibration-out", "o.json"}, nullptr, nullptr, "--calibration-out goes with --view"},
      {{"--calibrationx"}, nullptr, nullptr, "unknown option --calibrationx"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.args[0]);
    const parsed p = parse(c.args);
    if (c.error != nullptr) {
      EXPECT_EQ(p.action, options_action::usage_error);
      EXPECT_EQ(p.error, c.error);
      continue;
    }
    ASSERT_EQ(p.action, options_action::run) << p.error;
    EXPECT_STREQ(p.options.calibration, c.calibration);
    EXPECT_STREQ(p.options.calibration_out, c.calibration_out);
  }
  const std::string help = help_text;
  EXPECT_NE(help.find("  --calibration FILE"), std::string::npos);
  EXPECT_NE(help.find("  --calibration-out FILE"), std::string::npos);
}

}  // namespace
