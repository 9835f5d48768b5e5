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
#include "serial_recording.h"
#include "serial_replay.h"
#include "serial_tcp.h"
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
recording_writer recording{};  // --record: open while recording

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
// When a key cut the output short instead, the run ends as after a key.
int end_output_failed(void) {
  const int status = view_report_output_end();
  sensor_close();
  console_close();
  return status;
}

// The failure path: the not-found text, the port closed (so that it is free
// again at once), one key, status 1. A CSV record gets no text.
int end_not_found(void) {
  recording_close(&recording, true);  // a run that never talked to a module leaves no file
  if (options.mode != output_mode::csv && !console_write(not_found_text) &&
      console_unwritten_bytes() == 0) {
    return end_output_failed();
  }
  sensor_close();
  if (console_has_keys() && console_unwritten_bytes() == 0) say("press any key to end");
  console_read_key();
  view_report_unwritten();
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
  if (options.replay != nullptr) {
    say("replaying the recording %s", options.replay);
  } else if (is_tcp_port_name(options.port)) {
    say("reading the sensor on %s (a serial-to-network server)", options.port);
  } else {
    say("reading the sensor on %s (%s, %s)", port.com_name, port.node[0] != '\0' ? port.node : "?",
        port.description[0] != '\0' ? port.description : "?");
  }
}

// The view's title for a port that is no COM port: what it is and its name.
port_identity identify_stream(void) {
  port_identity port;
  const bool replay = options.replay != nullptr;
  std::snprintf(port.com_name, sizeof port.com_name, "%s", replay ? "replay" : "TCP");
  std::snprintf(port.node, sizeof port.node, "%s", replay ? options.replay : options.port);
  std::snprintf(port.description, sizeof port.description, "%s",
                replay ? "recording" : "serial-to-network server");
  return port;
}

// Each byte exchanged with the module goes to the recording as it passes.
void record_bytes(void * /*context*/, char direction, long long ms, const unsigned char *data,
                  int size) {
  if (!recording_write(&recording, ms, direction, data, size) && recording.failed) {
    recording.failed = false;  // said once; later chunks are dropped
    say("cannot write the recording %s; it ends here", recording.path);
    recording_close(&recording, false);
  }
}

// The link over a byte stream; one the serial layer cannot take is closed.
int open_stream(serial_transport transport) {
  const int opened = sensor_open_transport(transport);
  if (opened != 0 && transport.close != nullptr) transport.close(transport.context);
  return opened;
}

// Connects to a module on another machine (tcp://HOST:PORT) and opens the
// link over the connection. As sensor_open_port: 0, or 2 (said on stderr).
int open_network_port(void) {
  constexpr int connect_wait_ms = 5000;
  tcp_address address{};
  tcp_address_parse(options.port, &address);
  serial_transport transport{};
  char why[400];
  if (tcp_transport_open(address, connect_wait_ms, &transport, why, sizeof why) != 0) {
    say("%s", why);
    return -1;
  }
  return open_stream(transport);
}

// Opens what the options name: a replay, a network port, a local port or
// the first FTDI-bus port. 0, or the failure already said (-1) or to say.
int open_sensor(serial_transport replay) {
  if (options.replay != nullptr) return open_stream(replay);
  if (is_tcp_port_name(options.port)) return open_network_port();
  return options.port != nullptr ? sensor_open_port(options.port) : sensor_open();
}

bool print_sample(const int32_t (&values)[6]) {
  char line[160];
  std::snprintf(line, sizeof line, sample_format, static_cast<int>(values[0]),
                static_cast<int>(values[1]), static_cast<int>(values[2]),
                static_cast<int>(values[3]), static_cast<int>(values[4]),
                static_cast<int>(values[5]));
  return console_write(line);
}

// What the link has noticed about the module, one stderr line each.
void report_notices(void) {
  for (sensor_notice notice = sensor_take_notice(); notice != sensor_notice_none;
       notice = sensor_take_notice()) {
    say("%s", sensor_notice_text(notice));
  }
}

// One text line per sample until a key is pressed.
int sample_lines(void) {
  while (!console_key_waiting() && !sampling_limit.reached()) {
    int32_t values[6];
    const sensor_outcome outcome =
        sensor_read(&values[0], &values[1], &values[2], &values[3], &values[4], &values[5]);
    report_notices();
    if (outcome == sensor_port_gone) {
      say("the sensor's serial port is gone");
      return end_not_found();
    }
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

  // The view needs a terminal it can draw on: said before any port is
  // touched.
  char refusal[160];
  if (options.mode == output_mode::view && !console_screen_usable(refusal, sizeof refusal)) {
    say("%s", refusal);
    return status_usage;
  }
  // A calibration file is read before any port is touched, too.
  if (view_calibration_setup(options.calibration, options.calibration_out) != 0) {
    return status_usage;
  }
  // A recording to play or to make is checked before any port is touched.
  serial_transport replay{};
  char why[600];
  if (options.replay != nullptr &&
      replay_open(options.replay, options.fast, &replay, why, sizeof why) != 0) {
    say("%s", why);
    return status_usage;
  }
  if (options.record != nullptr &&
      recording_create(&recording, options.record, why, sizeof why) != 0) {
    say("%s", why);
    if (replay.close != nullptr) replay.close(replay.context);
    return status_usage;
  }
  if (options.record != nullptr) sensor_set_tap(serial_tap{record_bytes, nullptr});
  if (options.replay != nullptr) sampling_limit.source_ended = replay_ran_out;
  // The keys are taken first, so that a key ends even a banner that stdout
  // does not take.
  console_on_ending_signal(rs_restore_all_ports);
  console_open();
  sensor_set_key_check(console_key_waiting);
  rs_set_wake(console_key_fd(), console_key_waiting);
  if (options.mode != output_mode::csv && !(console_write(banner_text) && console_write("\n"))) {
    return end_output_failed();
  }
  sampling_limit.count = options.count;
  sampling_limit.duration_ms = options.duration_ms;

  const int opened = open_sensor(replay);
  if (opened != 0) {
    if (opened > 0) report_open_failure(opened);
    return end_not_found();
  }
  const bool stream = options.replay != nullptr || is_tcp_port_name(options.port);
  const port_identity port = stream ? identify_stream() : identify_port();
  report_port_in_use(port);
  report_notices();
  return options.mode == output_mode::lines ? sample_lines() : run_session(port);
}
