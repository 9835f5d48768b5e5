// SPDX-License-Identifier: MIT
// orlanse_sensor: finds the sensor module behind the first FTDI-bus serial
// port, initialises it and prints one decoded sample per line until a key is
// pressed.
#include <cstdint>
#include <cstdio>

#include "console.h"
#include "rs232.h"
#include "sensor_link.h"

namespace {

const char banner_text[] = "Orlanse Tesmo Sensor read test software\n";
const char not_found_text[] = "センサーが見つからない\n";
const char sample_format[] = "地磁気=(%d,%d,%d), 加速度=(%d,%d,%d)\n";

// One line on stderr saying why the sensor could not be opened; stdout keeps
// only the program's own texts.
void report_open_failure(int code) {
  if (code == 1) {
    std::fprintf(stderr, "orlanse_sensor: no FTDI serial adapter found\n");
  } else {
    std::fprintf(stderr, "orlanse_sensor: %s\n", rs_open_failure());
  }
}

// The failure path: the not-found text, one key, status 1.
int end_not_found(void) {
  console_write(not_found_text);
  console_read_key();
  sensor_close();
  console_close();
  return 1;
}

void print_sample(const int32_t (&values)[6]) {
  char line[160];
  std::snprintf(line, sizeof line, sample_format, static_cast<int>(values[0]),
                static_cast<int>(values[1]), static_cast<int>(values[2]),
                static_cast<int>(values[3]), static_cast<int>(values[4]),
                static_cast<int>(values[5]));
  console_write(line);
}

}  // namespace

int main(void) {
  console_guard_standard_streams();
  console_write(banner_text);
  console_write("\n");
  console_open();

  sensor_set_key_check(console_key_waiting);
  const int opened = sensor_open();
  if (opened != 0) {
    report_open_failure(opened);
    return end_not_found();
  }

  while (!console_key_waiting()) {
    int32_t values[6];
    const sensor_outcome outcome =
        sensor_read(&values[0], &values[1], &values[2], &values[3], &values[4], &values[5]);
    if (outcome == sensor_port_gone) {
      std::fprintf(stderr, "orlanse_sensor: the sensor's serial port is gone\n");
      return end_not_found();
    }
    if (outcome == sensor_sample_read) print_sample(values);
  }

  sensor_close();
  console_close();
  return 0;
}
