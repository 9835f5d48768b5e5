// SPDX-License-Identifier: MIT
// orlanse_sensor: finds the sensor module behind the first FTDI-bus serial
// port (or the port named with --port), initialises it and prints one decoded
// sample per line until a key is pressed.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "console.h"
#include "options.h"
#include "port_device.h"
#include "rs232.h"
#include "run_limit.h"
#include "sensor_link.h"
#include "silence_watch.h"
#include "view_entry.h"

#ifndef ORLANSE_VERSION
#define ORLANSE_VERSION "unknown"
#endif

namespace {

const char banner_text[] = "Orlanse Tesmo Sensor read test software\n";
const char not_found_text[] = "センサーが見つからない\n";
const char sample_format[] = "地磁気=(%d,%d,%d), 加速度=(%d,%d,%d)\n";

constexpr int status_not_found = 1;
constexpr int status_usage = 2;
constexpr int status_output_failed = 3;

program_options options;

// One diagnostic line on stderr, through the console so that a system's
// reason reads right on any code page.
void say(const char *text) {
  char line[640];
  std::snprintf(line, sizeof line, "orlanse_sensor: %s\n", text);
  console_write_error(line);
}

template <typename... Values>
void say(const char *format, Values... values) {
  char text[576];
  std::snprintf(text, sizeof text, format, values...);
  say(text);
}

// One line on stderr saying why the sensor could not be opened; stdout keeps
// only the program's own texts.
void report_open_failure(int code) {
  if (code == 2) {
    say("%s", rs_open_failure());
  } else if (options.port != nullptr) {
    say("no serial port %s; list_ports shows the ports there are", options.port);
  } else {
    say("no FTDI serial adapter found");
  }
}

// stdout is gone or failing: nothing more can be shown, so the run ends.
int end_output_failed(void) {
  say("cannot write to stdout: %s", console_output_failure());
  sensor_close();
  console_close();
  return status_output_failed;
}

// The failure path: the not-found text, the port closed (so that it is free
// again at once), one key, status 1. A CSV record gets no text.
int end_not_found(void) {
  if (options.mode != output_mode::csv && !console_write(not_found_text)) {
    return end_output_failed();
  }
  sensor_close();
  if (console_has_keys()) say("press any key to end");
  console_read_key();
  console_close();
  return status_not_found;
}

// The port in use as the directory lists it: COM number, device node and
// description.
struct port_identity {
  char com_name[16] = "";
  char node[PORT_DEVICE_NAME_SIZE] = "";
  char description[PORT_NAME_SIZE] = "";
};

port_identity identify_port(void) {
  port_identity port;
  std::snprintf(port.com_name, sizeof port.com_name, "COM%d", static_cast<int>(sensor_port));
  const int count = port_device_pickup_all();
  for (int i = 0; i < count; ++i) {
    if (get_port_number(i) != sensor_port) continue;
    get_port_device_name2(i, port.node);
    get_port_name(i, port.description);
    break;
  }
  return port;
}

void report_port_in_use(const port_identity &port) {
  say("reading the sensor on %s (%s, %s)", port.com_name, port.node[0] != '\0' ? port.node : "?",
      port.description[0] != '\0' ? port.description : "?");
}

bool print_sample(const int32_t (&values)[6]) {
  char line[160];
  std::snprintf(line, sizeof line, sample_format, static_cast<int>(values[0]),
                static_cast<int>(values[1]), static_cast<int>(values[2]),
                static_cast<int>(values[3]), static_cast<int>(values[4]),
                static_cast<int>(values[5]));
  return console_write(line);
}

void report_silence(silence_event event) {
  if (event == silence_event::went_silent) say("the sensor has not answered for 2 seconds");
  if (event == silence_event::answers_again) say("the sensor answers again");
}

// One text line per sample until a key is pressed.
int sample_lines(void) {
  silence_watch silence(silence_watch::clock::now());
  while (!console_key_waiting() && !sampling_limit.reached()) {
    int32_t values[6];
    const sensor_outcome outcome =
        sensor_read(&values[0], &values[1], &values[2], &values[3], &values[4], &values[5]);
    if (outcome == sensor_port_gone) {
      say("the sensor's serial port is gone");
      return end_not_found();
    }
    const auto now = silence_watch::clock::now();
    report_silence(outcome == sensor_no_reply ? silence.unanswered(now) : silence.answered(now));
    if (outcome != sensor_sample_read) continue;
    if (!sampling_limit.admits_sample()) break;  // it came after the run's end
    if (!print_sample(values)) return end_output_failed();
    sampling_limit.note_sample();
  }
  sensor_close();
  console_close();
  return 0;
}

// The CSV record or the live view, until a key; they end as the plain run
// does.
int run_session(const port_identity &port) {
  const int status =
      options.mode == output_mode::csv
          ? run_csv_session()
          : run_view_session(port.com_name, port.node, port.description, options.ascii);
  if (status == view_status_port_gone) {
    say("the sensor's serial port is gone");
    return end_not_found();
  }
  sensor_close();
  console_close();
  return status;
}

// --help and --version print and end, touching no port.
int print_and_end(const char *text) {
  if (!console_write(text)) {
    say("cannot write to stdout: %s", console_output_failure());
    return status_output_failed;
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  console_guard_standard_streams();
  char error[160];
  switch (parse_options(argc, argv, &options, error, sizeof error)) {
    case options_action::help: return print_and_end(help_text);
    case options_action::version: return print_and_end("orlanse_sensor " ORLANSE_VERSION "\n");
    case options_action::usage_error:
      say("%s", error);
      console_write_error(usage_line);
      return status_usage;
    case options_action::run: break;
  }

  // The view needs a terminal: said before any port is touched.
  int columns = 0;
  int rows = 0;
  if (options.mode == output_mode::view && !console_screen_size(&columns, &rows)) {
    say("--view needs a terminal on standard output");
    return status_usage;
  }
  if (options.mode != output_mode::csv && !(console_write(banner_text) && console_write("\n"))) {
    return end_output_failed();
  }
  console_open();
  sensor_set_key_check(console_key_waiting);
  sampling_limit.count = options.count;
  sampling_limit.duration_ms = options.duration_ms;

  const int opened = options.port != nullptr ? sensor_open_port(options.port) : sensor_open();
  if (opened != 0) {
    report_open_failure(opened);
    return end_not_found();
  }
  const port_identity port = identify_port();
  report_port_in_use(port);
  return options.mode == output_mode::lines ? sample_lines() : run_session(port);
}
