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

// Appends printf-style text to out at *used, never past its end.
template <std::size_t size, typename... values_t>
void append(char (&out)[size], int *used, const char *format, values_t... values) {
  if (*used >= static_cast<int>(size)) return;
  const int n =
      std::snprintf(out + *used, size - static_cast<std::size_t>(*used), format, values...);
  if (n > 0) *used += n;
}

void append_calibrated(const int32_t (&values)[6], const calibration_set &c,
                       char (&out)[view_csv_row_size], int *used) {
  const int32_t geo_raw[3] = {values[0], values[1], values[2]};
  const int32_t acc_raw[3] = {values[3], values[4], values[5]};
  view_vector geo = view_vector_of(geo_raw);
  view_vector acc = view_vector_of(acc_raw);
  if (c.has_geomagnetic) {
    geo = calib_apply_geomagnetic(c.geomagnetic, geo);
    append(out, used, ",%.2f,%.2f,%.2f,%.2f", geo.x, geo.y, geo.z, view_magnitude(geo));
  }
  if (c.has_acceleration) {
    acc = accel_apply(c.acceleration, acc);
    append(out, used, ",%.5f,%.5f,%.5f,%.5f", acc.x, acc.y, acc.z, view_magnitude(acc));
  }
  const view_tilt tilt = view_tilt_of(acc);
  if (tilt.valid) {
    // + 0.0: never "-0.00".
    append(out, used, ",%.2f,%.2f", tilt.pitch_deg + 0.0, tilt.roll_deg + 0.0);
  } else {
    append(out, used, "%s", ",,");
  }
  double heading = 0.0;
  if (view_heading(geo, acc, &heading)) {
    append(out, used, ",%.2f", heading);
  } else {
    append(out, used, "%s", ",");
  }
}

}  // namespace

void view_csv_header_of(const calibration_set *c, char (&out)[view_csv_header_size]) {
  int used = 0;
  out[0] = '\0';
  append(out, &used, "%.*s", static_cast<int>(sizeof view_csv_header - 2), view_csv_header);
  if (c != nullptr) {
    if (c->has_geomagnetic)
      append(out, &used, "%s", ",geo_cal1,geo_cal2,geo_cal3,geo_cal_magnitude");
    if (c->has_acceleration)
      append(out, &used, "%s", ",acc_cal1,acc_cal2,acc_cal3,acc_cal_magnitude");
    append(out, &used, "%s", ",pitch,roll,heading");
  }
  append(out, &used, "%s", "\n");
}

void view_csv_row(int64_t index, int64_t ms_since_first, const int32_t (&values)[6],
                  char (&out)[view_csv_row_size], const calibration_set *calibration) {
  int used = 0;
  append(out, &used,
         "%" PRId64 ",%" PRId64 ".%03d,%" PRId32 ",%" PRId32 ",%" PRId32 ",%" PRId32 ",%" PRId32
         ",%" PRId32 ",%.2f,%.2f",
         index, ms_since_first / 1000, static_cast<int>(ms_since_first % 1000), values[0],
         values[1], values[2], values[3], values[4], values[5], magnitude_of(&values[0]),
         magnitude_of(&values[3]));
  if (calibration != nullptr) append_calibrated(values, *calibration, out, &used);
  append(out, &used, "%s", "\n");
}

view_end view_run_csv(view_io &io, const calibration_set *calibration) {
  char header[view_csv_header_size];
  view_csv_header_of(calibration, header);
  if (!io.write_out(header)) return view_end_output_failed;
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
    view_csv_row(index, now_ms - first_ms, values, row, calibration);
    if (!io.write_out(row)) return view_end_output_failed;
    ++index;
  }
  return view_end_key;
}
