// SPDX-License-Identifier: MIT
#include "options.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "serial_tcp.h"

#define ORLANSE_USAGE                                                                         \
  "Usage: orlanse_sensor [--port PORT | --replay FILE [--fast]] [--csv | --view [--ascii]]\n" \
  "                      [--count N] [--duration SECONDS] [--record FILE]\n"                  \
  "                      [--calibration FILE] [--calibration-out FILE]\n"                     \
  "       orlanse_sensor --help | --version\n"

const char usage_line[] = ORLANSE_USAGE;

const char help_text[] = ORLANSE_USAGE
    "Reads the six-axis sensor module behind the first FTDI-bus serial port and\n"
    "prints one sample per line until a key is pressed.\n"
    "\n"
    "  --port PORT  use PORT instead: COMn as list_ports shows it"
#ifndef _WIN32
    ", or its device node\n"
    "               such as /dev/ttyUSB0"
#endif
    ",\n"
    "               or tcp://HOST:PORT: a serial-to-network server (such as\n"
    "               ser2net) in raw mode, holding the port at 9600 8N1\n"
    "  --csv        write the samples as CSV to stdout, one row per sample\n"
    "  --view       show a full-screen live view of the samples\n"
    "  --ascii      draw the view with ASCII characters only\n"
    "  --calibration FILE  apply a saved calibration: the view shows calibrated\n"
    "               vectors, pitch, roll and heading; --csv adds columns for them\n"
    "  --calibration-out FILE  where the view saves a calibration (keys c and a);\n"
    "               without it, a new file in the current directory\n"
    "  --count N    end after N samples\n"
    "  --duration SECONDS\n"
    "               end SECONDS after the first sample (a decimal such as 1.5)\n"
    "  --record FILE\n"
    "               write every byte exchanged with the module to FILE, a new\n"
    "               file, with its time and direction (a text recording)\n"
    "  --replay FILE\n"
    "               play a recording as the module, at its pace: no port is used;\n"
    "               the run ends when the recording does\n"
    "  --fast       with --replay: play the recording as fast as it goes\n"
    "  --help       print this help and exit\n"
    "  --version    print the version and exit\n"
    "\n"
    "Exit status: 0 after a key, --count, --duration or the end of a replay ended\n"
    "sampling, 1 when the sensor was not found\n"
    "or its port went away, 2 for a wrong command line, 3 when stdout failed.\n";

namespace {

void set_error(char *error, std::size_t error_size, const char *format, const char *argument) {
  if (error != nullptr && error_size > 0) std::snprintf(error, error_size, format, argument);
}

// What one argument asks for. Consumes the next argument for "--port PORT".
enum class argument_kind { help, version, csv, view, ascii, port, run_option, wrong };

// The value of an option that takes one: "--name VALUE" (the next argument)
// or "--name=VALUE". NULL when arg is another option; *missing when the
// value is absent or empty.
const char *option_value(const char *name, int argc, const char *const *argv, int *i,
                         bool *missing) {
  const char *arg = argv[*i];
  const std::size_t length = std::strlen(name);
  if (std::strncmp(arg, name, length) != 0 || (arg[length] != '\0' && arg[length] != '=')) {
    return nullptr;
  }
  const char *value = arg[length] == '=' ? arg + length + 1 : (*i + 1 < argc ? argv[++*i] : "");
  *missing = *value == '\0';
  return value;
}

// A whole number of 1 up to 10^9, digits only.
bool parse_count(const char *text, long *count) {
  long value = 0;
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9' || value > 100000000) return false;
    value = value * 10 + (*text - '0');
  }
  if (value < 1 || value > 1000000000) return false;
  *count = value;
  return true;
}

// Seconds as digits with an optional fraction ("90", "1.5", ".25"), more
// than 0 and at most 10^7 (about 115 days), to the millisecond (rounded up,
// so that a positive duration never becomes 0).
bool parse_seconds(const char *text, long long *ms) {
  long long whole = 0;
  long long fraction_ms = 0;
  int fraction_digits = 0;
  bool digits = false;
  bool point = false;
  bool rest = false;  // digits beyond the milliseconds that are not 0
  for (; *text != '\0'; ++text) {
    if (*text == '.' && !point) {
      point = true;
      continue;
    }
    if (*text < '0' || *text > '9') return false;
    digits = true;
    const int digit = *text - '0';
    if (!point) {
      whole = whole * 10 + digit;
      if (whole > 10000000) return false;
    } else if (fraction_digits < 3) {
      fraction_ms = fraction_ms * 10 + digit;
      ++fraction_digits;
    } else if (digit != 0) {
      rest = true;
    }
  }
  for (; fraction_digits < 3; ++fraction_digits) fraction_ms *= 10;
  const long long total = whole * 1000 + fraction_ms + (rest ? 1 : 0);
  if (!digits || total <= 0 || total > 10000000LL * 1000) return false;
  *ms = total;
  return true;
}

// The options of a run that ends by itself, records or replays, and the
// calibration files. Returns
// port when arg is none of them (so the caller goes on), run_option when it
// was taken, wrong with the error set.
argument_kind read_run_option(int argc, const char *const *argv, int *i, program_options *options,
                              char *error, std::size_t error_size) {
  bool missing = false;
  if (std::strcmp(argv[*i], "--fast") == 0) {
    options->fast = true;
    return argument_kind::run_option;
  }
  if (const char *value = option_value("--count", argc, argv, i, &missing)) {
    if (parse_count(value, &options->count)) return argument_kind::run_option;
    set_error(error, error_size, "--count needs a whole number of samples from 1, not \"%s\"",
              value);
    return argument_kind::wrong;
  }
  if (const char *value = option_value("--duration", argc, argv, i, &missing)) {
    if (parse_seconds(value, &options->duration_ms)) return argument_kind::run_option;
    set_error(error, error_size, "--duration needs a number of seconds above 0, not \"%s\"", value);
    return argument_kind::wrong;
  }
  const std::pair<const char *, const char **> file_options[] = {
      {"--record", &options->record},
      {"--replay", &options->replay},
      {"--calibration", &options->calibration},
      {"--calibration-out", &options->calibration_out}};
  for (const auto &[name, slot] : file_options) {
    const char *value = option_value(name, argc, argv, i, &missing);
    if (value == nullptr) continue;
    if (missing) {
      set_error(error, error_size, "%s needs a file name", name);
      return argument_kind::wrong;
    }
    *slot = value;
    return argument_kind::run_option;
  }
  return argument_kind::port;
}

argument_kind read_argument(int argc, const char *const *argv, int *i, program_options *options,
                            char *error, std::size_t error_size) {
  const char *arg = argv[*i];
  if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) return argument_kind::help;
  if (std::strcmp(arg, "--version") == 0) return argument_kind::version;
  if (std::strcmp(arg, "--csv") == 0) return argument_kind::csv;
  if (std::strcmp(arg, "--view") == 0) return argument_kind::view;
  if (std::strcmp(arg, "--ascii") == 0) return argument_kind::ascii;
  const argument_kind run_option = read_run_option(argc, argv, i, options, error, error_size);
  if (run_option != argument_kind::port) return run_option;
  bool missing = false;
  if (const char *port = option_value("--port", argc, argv, i, &missing)) {
    if (missing) {
      set_error(error, error_size, "%s needs a port, such as COM3", "--port");
      return argument_kind::wrong;
    }
    if (is_tcp_port_name(port) && !tcp_address_parse(port, nullptr)) {
      set_error(error, error_size, "%s is no network port: it takes the form tcp://HOST:PORT",
                port);
      return argument_kind::wrong;
    }
    options->port = port;
    return argument_kind::port;
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
      case argument_kind::run_option: break;
    }
  }
  if (options->replay != nullptr && options->port != nullptr) {
    set_error(error, error_size, "%s", "--replay and --port cannot be used together");
    return options_action::usage_error;
  }
  if (options->fast && options->replay == nullptr) {
    set_error(error, error_size, "%s", "--fast goes with --replay");
    return options_action::usage_error;
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
