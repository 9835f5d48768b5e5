// SPDX-License-Identifier: MIT
// The program's command line. Without arguments the program runs as it
// always has: the first FTDI-bus port, one text line per sample.
#pragma once

#include <cstddef>

enum class output_mode {
  lines,  // one text line per sample
  csv,    // a CSV record on stdout
  view    // a full-screen live view
};

struct program_options {
  const char *port = nullptr;  // --port: COMn or a device node; NULL: the first FTDI-bus port
  output_mode mode = output_mode::lines;
  bool ascii = false;                     // --ascii: the view draws with ASCII only
  const char *calibration = nullptr;      // --calibration FILE: applied in the view and CSV
  const char *calibration_out = nullptr;  // --calibration-out FILE: where the view saves one
  // How a run ends by itself, besides a key: after count samples, or
  // duration_ms after the first sample; 0: no such end.
  long count = 0;                // --count N
  long long duration_ms = 0;     // --duration SECONDS
  const char *record = nullptr;  // --record FILE: every byte exchanged with the module
  const char *replay = nullptr;  // --replay FILE: a recording plays the module
  bool fast = false;             // --fast: the replay as fast as it goes
};

enum class options_action {
  run,         // run with the options
  help,        // print the usage text and end with 0
  version,     // print the version and end with 0
  usage_error  // error says what is wrong; end with status 2
};

// Reads argv[1..argc-1]. error (error_size bytes) receives one line,
// without a newline, when the result is usage_error.
options_action parse_options(int argc, const char *const *argv, program_options *options,
                             char *error, std::size_t error_size);

// The one-line synopsis and the full help text, each ending with a newline.
extern const char usage_line[];
extern const char help_text[];
