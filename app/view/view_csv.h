// SPDX-License-Identifier: MIT
// The CSV record: a header line, then one row per sample with its index,
// the seconds since the first sample (monotonic clock, milliseconds), the six
// values as the sample line gives them, and the magnitudes |B| and |A|.
#pragma once

#include <cstdint>

#include "view_io.h"

// The CSV columns.
extern const char view_csv_header[];

// One CSV row, NUL-terminated with its line end, into out; seconds are the
// milliseconds since the first sample.
constexpr int view_csv_row_size = 160;
void view_csv_row(int64_t index, int64_t ms_since_first, const int32_t (&values)[6],
                  char (&out)[view_csv_row_size]);

// The CSV run: header, rows until a key is waiting (the key is left
// unread). What the link notices about the module is said by the caller's
// read_sample, as on the plain run.
view_end view_run_csv(view_io &io);
