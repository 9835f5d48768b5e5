// SPDX-License-Identifier: MIT
// The CSV record: a header line, then one row per sample with its index,
// the seconds since the first sample (monotonic clock, milliseconds), the six
// values as the sample line gives them, and the magnitudes |B| and |A|.
// With a calibration loaded, columns follow for the calibrated field and its
// magnitude (geo_cal*), the calibrated acceleration in g and its magnitude
// (acc_cal*), each when the calibration has that section, and pitch, roll
// and heading in degrees from the calibrated vectors (empty when undefined).
#pragma once

#include <cstdint>

#include "calibration_file.h"
#include "view_io.h"

// The CSV columns without a calibration.
extern const char view_csv_header[];
// The header for a calibration (NULL: none), NUL-terminated with its end.
constexpr int view_csv_header_size = 320;
void view_csv_header_of(const calibration_set *calibration, char (&out)[view_csv_header_size]);

// One CSV row, NUL-terminated with its line end, into out; seconds are the
// milliseconds since the first sample.
constexpr int view_csv_row_size = 400;
void view_csv_row(int64_t index, int64_t ms_since_first, const int32_t (&values)[6],
                  char (&out)[view_csv_row_size], const calibration_set *calibration = nullptr);

// The CSV run: header, rows until a key is waiting (the key is left
// unread). What the link notices about the module is said by the caller's
// read_sample, as on the plain run.
view_end view_run_csv(view_io &io, const calibration_set *calibration = nullptr);
