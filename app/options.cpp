// SPDX-License-Identifier: MIT
#include "options.h"

#include <cstdio>
#include <cstring>
#include <utility>

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
    "  --calibration FILE  apply a saved calibration: the view shows calibrated\n"
    "               vectors, pitch, roll and heading; --csv adds columns for them\n"
    "  --calibration-out FILE  where the view saves a calibration (keys c and a);\n"
    "               without it, a new file in the current directory\n"
    "  --help       print this help and exit\n"
    "  --version    print the version and exit\n"
    "\n"
    "Exit status: 0 after a key ended sampling, 1 when the sensor was not found\n"
    "or its port went away, 2 for a wrong command line, 3 when stdout failed.\n";

namespace {

void set_error(char *error, std::size_t error_size, const char *format, const char *argument) {
  if (error != nullptr && error_size > 0) std::snprintf(error, error_size, format, argument);
}

// What one argument asks for. Consumes the next argument for "--port PORT".
enum class argument_kind { help, version, csv, view, ascii, port, calibration, wrong };

// "--name FILE" or "--name=FILE": the file, or NULL (with the error) when
// it is missing.
const char *file_argument(const char *name, int argc, const char *const *argv, int *i, char *error,
                          std::size_t error_size) {
  const char *arg = argv[*i];
  const std::size_t length = std::strlen(name);
  const char *file = arg[length] == '=' ? arg + length + 1 : (*i + 1 < argc ? argv[++*i] : nullptr);
  if (file == nullptr || *file == '\0') {
    set_error(error, error_size, "%s needs a file name", name);
    return nullptr;
  }
  return file;
}

bool is_option(const char *arg, const char *name) {
  const std::size_t length = std::strlen(name);
  return std::strncmp(arg, name, length) == 0 && (arg[length] == '\0' || arg[length] == '=');
}

argument_kind read_argument(int argc, const char *const *argv, int *i, program_options *options,
                            char *error, std::size_t error_size) {
  const char *arg = argv[*i];
  if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) return argument_kind::help;
  if (std::strcmp(arg, "--version") == 0) return argument_kind::version;
  if (std::strcmp(arg, "--csv") == 0) return argument_kind::csv;
  if (std::strcmp(arg, "--view") == 0) return argument_kind::view;
  if (std::strcmp(arg, "--ascii") == 0) return argument_kind::ascii;
  if (std::strcmp(arg, "--port") == 0 || std::strncmp(arg, "--port=", 7) == 0) {
    const char *port = arg[6] == '=' ? arg + 7 : (*i + 1 < argc ? argv[++*i] : nullptr);
    if (port == nullptr || *port == '\0') {
      set_error(error, error_size, "%s needs a port, such as COM3", "--port");
      return argument_kind::wrong;
    }
    options->port = port;
    return argument_kind::port;
  }
  for (auto [name, slot] :
       {std::pair<const char *, const char **>{"--calibration", &options->calibration},
        {"--calibration-out", &options->calibration_out}}) {
    if (!is_option(arg, name)) continue;
    *slot = file_argument(name, argc, argv, i, error, error_size);
    return *slot != nullptr ? argument_kind::calibration : argument_kind::wrong;
  }
  set_error(error, error_size, arg[0] == '-' ? "unknown option %s" : "unexpected argument %s", arg);
  return argument_kind::wrong;
}

}  // namespace

options_action parse_options(int argc, const char *const *argv, program_options *options,
                             char *error, std::size_t error_size) {
  *options = program_options{};
  bool csv = false;
  bool view = false;
  for (int i = 1; i < argc; ++i) {
    switch (read_argument(argc, argv, &i, options, error, error_size)) {
      case argument_kind::help: return options_action::help;
      case argument_kind::version: return options_action::version;
      case argument_kind::wrong: return options_action::usage_error;
      case argument_kind::csv: csv = true; break;
      case argument_kind::view: view = true; break;
      case argument_kind::ascii: options->ascii = true; break;
      case argument_kind::port:
      case argument_kind::calibration: break;
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
  if (options->calibration_out != nullptr && !view) {
    set_error(error, error_size, "%s", "--calibration-out goes with --view");
    return options_action::usage_error;
  }
  if (csv) options->mode = output_mode::csv;
  if (view) options->mode = output_mode::view;
  return options_action::run;
}
