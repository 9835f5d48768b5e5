// SPDX-License-Identifier: MIT
// A calibration as a JSON file and as a C snippet:
//   {"version": 1,
//    "geomagnetic": {"offset": [x, y, z], "matrix": [[..], [..], [..]],
//                    "field": F, "points": N, "model": "sphere"|"diagonal"|"full",
//                    "quality": {"gaps": %, "variance": %, "wobble": %, "fit_error": %},
//                    "good": true|false},
//    "acceleration": {"offset": [x, y, z], "gain": [gx, gy, gz], "positions": 6,
//                     "good": true|false}}
// in the units of the sample line; a section is absent when that calibration
// was not made. Reading never throws: a file that is not valid is refused
// with a text that says what is wrong.
#pragma once

#include <cstddef>
#include <string>

#include "accel_calibration.h"
#include "calibration_fit.h"

struct calibration_set {
  bool has_geomagnetic;
  geo_calibration geomagnetic;
  bool has_acceleration;
  accel_result acceleration;
};

std::string calibration_json(const calibration_set &set);

// Reads a JSON text; false with error (one line, no newline) when it is not
// a valid calibration.
bool calibration_parse(const std::string &text, calibration_set *set, char *error,
                       std::size_t error_size);

// The same values as C definitions, ready to paste into firmware.
std::string calibration_c_snippet(const calibration_set &set);

// Reads and parses a file; the error names what is wrong (not the file).
bool calibration_load_file(const char *path, calibration_set *set, char *error,
                           std::size_t error_size);

// Writes the JSON to path; false with the system's reason in error.
bool calibration_save_file(const char *path, const calibration_set &set, char *error,
                           std::size_t error_size);

// A name for a new file in the current directory, from the local time
// (orlanse_calibration_YYYYMMDD_HHMMSS.json, with -2, -3, ... when taken).
// The file is created empty, so that the name stays this program's.
std::string calibration_new_file_name(void);
