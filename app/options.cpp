// SPDX-License-Identifier: MIT
#include "options.h"

#include <cstdio>
#include <cstring>

const char usage_line[] =
    "Usage: orlanse_sensor [--port PORT] [--csv | --view [--ascii]] | --help | --version\n";

const char help_text[] =
    "Usage: orlanse_sensor [--port PORT] [--csv | --view [--ascii]] | --help | --version\n"
    "Reads the six-axis sensor module behind the first FTDI-bus serial port and\n"
    "prints one sample per line until a key is pressed.\n"
    "\n"
    "  --port PORT  use PORT instead: COMn as list_ports shows it"
#ifndef _WIN32
    ", or its device node\n"
    "               such as /dev/ttyUSB0"
#endif
    "\n"
    "  --csv        write the samples as CSV to stdout, one row per sample\n"
    "  --view       show a full-screen live view of the samples\n"
    "  --ascii      draw the view with ASCII characters only\n"
    "  --help       print this help and exit\n"
    "  --version    print the version and exit\n"
    "\n"
    "Exit status: 0 after a key ended sampling, 1 when the sensor was not found\n"
    "or its port went away, 2 for a wrong command line, 3 when stdout failed.\n";

namespace {

void set_error(char *error, std::size_t error_size, const char *format, const char *argument) {
  if (error != nullptr && error_size > 0) std::snprintf(error, error_size, format, argument);
}

}  // namespace

options_action parse_options(int argc, const char *const *argv, program_options *options,
                             char *error, std::size_t error_size) {
  *options = program_options{};
  bool csv = false;
  bool view = false;
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) return options_action::help;
    if (std::strcmp(arg, "--version") == 0) return options_action::version;
    if (std::strcmp(arg, "--csv") == 0) {
      csv = true;
    } else if (std::strcmp(arg, "--view") == 0) {
      view = true;
    } else if (std::strcmp(arg, "--ascii") == 0) {
      options->ascii = true;
    } else if (std::strcmp(arg, "--port") == 0 || std::strncmp(arg, "--port=", 7) == 0) {
      const char *port = arg[6] == '=' ? arg + 7 : (i + 1 < argc ? argv[++i] : nullptr);
      if (port == nullptr || *port == '\0') {
        set_error(error, error_size, "%s needs a port, such as COM3", "--port");
        return options_action::usage_error;
      }
      options->port = port;
    } else if (arg[0] == '-') {
      set_error(error, error_size, "unknown option %s", arg);
      return options_action::usage_error;
    } else {
      set_error(error, error_size, "unexpected argument %s", arg);
      return options_action::usage_error;
    }
  }
  if (csv && view) {
    set_error(error, error_size, "%s", "--csv and --view cannot be used together");
    return options_action::usage_error;
  }
  if (options->ascii && !view) {
    set_error(error, error_size, "%s", "--ascii goes with --view");
    return options_action::usage_error;
  }
  options->mode = csv ? output_mode::csv : view ? output_mode::view : output_mode::lines;
  return options_action::run;
}
