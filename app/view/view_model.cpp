// SPDX-License-Identifier: MIT
#include "view_model.h"

#include <cstring>

namespace {

void copy_text(char (&slot)[view_port_text_size], const char *text) {
  slot[0] = '\0';
  if (text == nullptr) return;
  std::strncpy(slot, text, sizeof slot - 1);
  slot[sizeof slot - 1] = '\0';
}

// Bucket of a time, rounding down also before the start.
int64_t bucket_of(int64_t time_ms) {
  return time_ms >= 0 ? time_ms / view_bucket_ms
                      : -((-time_ms + view_bucket_ms - 1) / view_bucket_ms);
}

void widen(double value, int64_t samples, double *low, double *high) {
  if (samples == 0 || value < *low) *low = value;
  if (samples == 0 || value > *high) *high = value;
}

void add_to_history(view_model *model, const int32_t (&values)[6]) {
  const int64_t number = model->now_ms / view_bucket_ms;
  view_bucket &bucket = model->history[number % view_bucket_count];
  if (bucket.number != number) {
    bucket = view_bucket{};
    bucket.number = number;
  }
  ++bucket.count;
  for (int axis = 0; axis < 6; ++axis) bucket.sums[axis] += values[axis];
}

accel_result identity_accel() {
  accel_result result{};
  for (double &gain : result.gain) gain = 1.0;
  return result;
}

double distance(const double (&a)[3], const double (&b)[3]) {
  return view_magnitude({a[0] - b[0], a[1] - b[1], a[2] - b[2]});
}

void thin_kept(view_model *model) {
  for (int k = 0; k < view_kept_capacity / 2; ++k) {
    for (int axis = 0; axis < 3; ++axis)
      model->kept[k][axis] = model->kept[static_cast<std::size_t>(k) * 2][axis];
    model->kept_face[k] = model->kept_face[static_cast<std::size_t>(k) * 2];
  }
  model->kept_count = view_kept_capacity / 2;
  model->keep_stride *= 2;
}

// Keeps a reading that has moved from the last kept one; true when kept.
bool keep_reading(view_model *model, const int32_t (&values)[6]) {
  const double reading[3] = {static_cast<double>(values[0]), static_cast<double>(values[1]),
                             static_cast<double>(values[2])};
  if (model->counted > 0) {
    const double length = view_magnitude({reading[0], reading[1], reading[2]});
    if (distance(reading, model->last_counted) < view_keep_distance * length) return false;
  }
  for (int axis = 0; axis < 3; ++axis) model->last_counted[axis] = reading[axis];
  if (model->counted++ % model->keep_stride != 0) return false;
  if (model->kept_count == view_kept_capacity) thin_kept(model);
  for (int axis = 0; axis < 3; ++axis) model->kept[model->kept_count][axis] = reading[axis];
  const int32_t acc[3] = {values[3], values[4], values[5]};
  model->kept_face[model->kept_count] =
      static_cast<signed char>(accel_face_of(view_vector_of(acc), 0.0));
  ++model->kept_count;
  return true;
}

void refit(view_model *model) {
  model->geo_fit = calib_fit_geomagnetic(model->kept, model->kept_count);
}

void add_sample(view_model *model, const int32_t (&values)[6]) {
  for (int axis = 0; axis < 6; ++axis) model->last[axis] = values[axis];
  const int32_t geo[3] = {values[0], values[1], values[2]};
  const int32_t acc[3] = {values[3], values[4], values[5]};
  widen(view_magnitude(view_vector_of(geo)), model->samples, &model->geo_low, &model->geo_high);
  widen(view_magnitude(view_vector_of(acc)), model->samples, &model->acc_low, &model->acc_high);
  ++model->samples;
  view_rate_add(&model->rate, model->now_ms);
  add_to_history(model, values);
  if (model->calibration_mode == view_calibration_running && keep_reading(model, values)) {
    refit(model);
  }
  if (model->accel_mode == view_calibration_running) {
    accel_collect_add(&model->accel, model->now_ms, view_vector_of(acc));
    model->accel_fit = accel_fit(model->accel);
  }
}

}  // namespace

void view_model_start(view_model *model, int64_t start_ms, const char *com_name,
                      const char *device_node, const char *description) {
  std::memset(model, 0, sizeof *model);
  model->start_ms = start_ms;
  copy_text(model->com_name, com_name);
  copy_text(model->device_node, device_node);
  copy_text(model->description, description);
  for (view_bucket &bucket : model->history) bucket.number = -1;
  view_rate_reset(&model->rate);
  model->geo_fit = calib_none(0);
  model->keep_stride = 1;
  accel_collect_reset(&model->accel);
  model->accel_fit = identity_accel();
}

void view_model_tick(view_model *model, int64_t now_ms) {
  const int64_t since_start = now_ms - model->start_ms;
  if (since_start > model->now_ms) model->now_ms = since_start;
}

void view_model_add(view_model *model, int64_t now_ms, sensor_outcome outcome,
                    const int32_t (&values)[6]) {
  view_model_tick(model, now_ms);
  if (outcome == sensor_no_reply) {
    if (!model->silent) ++model->silent_periods;
    model->silent = true;
    return;
  }
  if (outcome == sensor_port_gone || outcome == sensor_interrupted) return;
  model->silent = false;
  if (outcome == sensor_bad_reply) {
    ++model->broken_replies;
    return;
  }
  add_sample(model, values);
}

void view_model_toggle_calibration(view_model *model) {
  if (model->calibration_mode == view_calibration_running) {
    model->calibration_mode = view_calibration_done;
    refit(model);
    return;
  }
  model->calibration_mode = view_calibration_running;
  model->geo_fit = calib_none(0);
  model->kept_count = 0;
  model->counted = 0;
  model->keep_stride = 1;
}

void view_model_toggle_accel_calibration(view_model *model) {
  if (model->accel_mode == view_calibration_running) {
    model->accel_mode = view_calibration_done;
    return;
  }
  model->accel_mode = view_calibration_running;
  accel_collect_reset(&model->accel);
  model->accel_fit = accel_fit(model->accel);
}

void view_model_load(view_model *model, const calibration_set &loaded) { model->loaded = loaded; }

bool view_model_geo_calibration(const view_model &model, geo_calibration *calibration) {
  if (model.calibration_mode != view_calibration_off && model.geo_fit.model != calib_model_none) {
    *calibration = model.geo_fit;
    return true;
  }
  *calibration = model.loaded.has_geomagnetic ? model.loaded.geomagnetic : calib_none(0);
  return model.loaded.has_geomagnetic;
}

bool view_model_accel_calibration(const view_model &model, accel_result *calibration) {
  if (model.accel_mode != view_calibration_off && model.accel_fit.complete) {
    *calibration = model.accel_fit;
    return true;
  }
  *calibration = model.loaded.has_acceleration ? model.loaded.acceleration : identity_accel();
  return model.loaded.has_acceleration;
}

calibration_set view_model_results(const view_model &model) {
  calibration_set set{};
  set.has_geomagnetic =
      model.calibration_mode != view_calibration_off && model.geo_fit.model != calib_model_none;
  set.geomagnetic = model.geo_fit;
  set.has_acceleration = model.accel_mode != view_calibration_off && model.accel_fit.complete;
  set.acceleration = model.accel_fit;
  return set;
}

view_vector view_model_geomagnetic(const view_model &model) {
  geo_calibration calibration;
  view_model_geo_calibration(model, &calibration);
  const int32_t geo[3] = {model.last[0], model.last[1], model.last[2]};
  return calib_apply_geomagnetic(calibration, view_vector_of(geo));
}

view_vector view_model_acceleration(const view_model &model) {
  accel_result calibration;
  view_model_accel_calibration(model, &calibration);
  const int32_t acc[3] = {model.last[3], model.last[4], model.last[5]};
  return accel_apply(calibration, view_vector_of(acc));
}

bool view_model_heading(const view_model &model, double *heading_deg) {
  if (model.samples == 0) return false;
  return view_heading(view_model_geomagnetic(model), view_model_acceleration(model), heading_deg);
}

// A face is missing while it holds under a twentieth of the kept readings
// (and under 5 of them).
unsigned view_model_missing_poses(const view_model &model) {
  int counts[accel_face_count] = {};
  for (int k = 0; k < model.kept_count; ++k) {
    if (model.kept_face[k] >= 0) ++counts[model.kept_face[k]];
  }
  unsigned missing = 0;
  for (int face = 0; face < accel_face_count; ++face) {
    if (counts[face] < 5 || counts[face] * 20 < model.kept_count) missing |= 1U << face;
  }
  return missing;
}

void view_model_history(const view_model &model, int axis, int cells, double *means,
                        bool *present) {
  const int64_t newest = model.now_ms / view_bucket_ms;
  const int64_t oldest = newest - view_bucket_count + 1;
  const int64_t span_start = model.now_ms - view_history_span_ms;
  for (int cell = 0; cell < cells; ++cell) {
    const int64_t from = span_start + view_history_span_ms * cell / cells;
    const int64_t to = span_start + view_history_span_ms * (cell + 1) / cells;
    int64_t sum = 0;
    int64_t count = 0;
    for (int64_t number = bucket_of(from); number <= bucket_of(to - 1); ++number) {
      if (number < oldest || number > newest || number < 0) continue;
      const view_bucket &bucket = model.history[number % view_bucket_count];
      if (bucket.number != number) continue;
      sum += bucket.sums[axis];
      count += bucket.count;
    }
    present[cell] = count > 0;
    means[cell] = count > 0 ? static_cast<double>(sum) / static_cast<double>(count) : 0.0;
  }
}
