// SPDX-License-Identifier: MIT
#include "view_csv.h"

#include <cinttypes>
#include <cstdio>

#include "view_numerics.h"

const char view_csv_header[] =
    "index,seconds,geo1,geo2,geo3,acc1,acc2,acc3,geo_magnitude,acc_magnitude\n";

namespace {

double magnitude_of(const int32_t *axes) {
  return view_magnitude(
      {static_cast<double>(axes[0]), static_cast<double>(axes[1]), static_cast<double>(axes[2])});
}

}  // namespace

void view_csv_row(int64_t index, int64_t ms_since_first, const int32_t (&values)[6],
                  char (&out)[view_csv_row_size]) {
  std::snprintf(out, sizeof out,
                "%" PRId64 ",%" PRId64 ".%03d,%" PRId32 ",%" PRId32 ",%" PRId32 ",%" PRId32
                ",%" PRId32 ",%" PRId32 ",%.2f,%.2f\n",
                index, ms_since_first / 1000, static_cast<int>(ms_since_first % 1000), values[0],
                values[1], values[2], values[3], values[4], values[5], magnitude_of(&values[0]),
                magnitude_of(&values[3]));
}

view_end view_run_csv(view_io &io) {
  if (!io.write_out(view_csv_header)) return view_end_output_failed;
  int64_t index = 0;
  int64_t first_ms = 0;
  while (!io.key_waiting()) {
    int32_t values[6] = {};
    const sensor_outcome outcome = io.read_sample(values);
    if (outcome == sensor_port_gone) return view_end_port_gone;
    if (outcome != sensor_sample_read) continue;
    const int64_t now_ms = io.now_ms();
    if (index == 0) first_ms = now_ms;
    char row[view_csv_row_size];
    view_csv_row(index, now_ms - first_ms, values, row);
    if (!io.write_out(row)) return view_end_output_failed;
    ++index;
  }
  return view_end_key;
}
