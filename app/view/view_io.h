// SPDX-License-Identifier: MIT
// What the CSV record and the live view need from the outside: the sensor
// link, keys, a clock and the terminal. The program gives them the real
// ones; the tests give them a script.
#pragma once

#include <cstddef>
#include <cstdint>

#include "calibration_file.h"
#include "sensor_link.h"

class view_io {
public:
  // One request to the sensor: the outcome, and the six values when it is
  // sensor_sample_read.
  virtual sensor_outcome read_sample(int32_t (&values)[6]) = 0;
  // True when a key press is waiting; neither waits nor consumes it.
  virtual bool key_waiting() = 0;
  // Takes one waiting key press: its first byte, or -1 when none can come.
  virtual int read_key() = 0;
  // A monotonic clock in milliseconds.
  virtual int64_t now_ms() = 0;
  // Text to stdout; false when it could not be written whole.
  virtual bool write_out(const char *text) = 0;
  // One diagnostic line (with its line end) to stderr.
  virtual void write_err(const char *text) = 0;
  // The terminal's size; false when unknown.
  virtual bool screen_size(int *columns, int *rows) = 0;
  // True once after each change of the terminal's size.
  virtual bool screen_resized() = 0;
  // Leaves the full screen now (writes view_vt_leave_text), so that what
  // follows is on the normal screen; false when it could not be written.
  virtual bool leave_screen() = 0;
  // Saves a calibration (the same file each time in one run): true with the
  // file's name in where, or false with the file's name and the reason.
  virtual bool save_calibration(const calibration_set &set, char *where,
                                std::size_t where_size) = 0;

protected:
  view_io() = default;
  view_io(const view_io &) = default;
  view_io &operator=(const view_io &) = default;
  ~view_io() = default;
};

enum view_end {
  view_end_key,           // a key ended the run
  view_end_port_gone,     // the sensor's port went away
  view_end_output_failed  // stdout could not be written
};
