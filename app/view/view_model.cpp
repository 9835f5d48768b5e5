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

view_vector corrected_geomagnetic(const view_model &model) {
  double offsets[3];
  view_model_offsets(model, offsets);
  return {model.last[0] - offsets[0], model.last[1] - offsets[1], model.last[2] - offsets[2]};
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

void keep_reading(view_model *model, const int32_t (&geo)[3]) {
  if (model->calibration_seen++ % model->keep_stride != 0) return;
  if (model->kept_count == view_kept_capacity) {
    for (int k = 0; k < view_kept_capacity / 2; ++k) {
      for (int axis = 0; axis < 3; ++axis)
        model->kept[k][axis] = model->kept[static_cast<std::size_t>(k) * 2][axis];
    }
    model->kept_count = view_kept_capacity / 2;
    model->keep_stride *= 2;
  }
  for (int axis = 0; axis < 3; ++axis) model->kept[model->kept_count][axis] = geo[axis];
  ++model->kept_count;
}

// The centre moves while the calibration runs: the sectors are counted
// again over the kept readings against the latest offsets.
void count_sectors(view_model *model) {
  double offsets[3];
  view_hard_iron_offsets(model->calibration, offsets);
  view_coverage_reset(&model->coverage);
  for (int k = 0; k < model->kept_count; ++k) {
    const int32_t *reading = model->kept[k];
    view_coverage_add(&model->coverage,
                      {reading[0] - offsets[0], reading[1] - offsets[1], reading[2] - offsets[2]});
  }
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
  if (model->calibration_mode == view_calibration_running) {
    view_hard_iron_add(&model->calibration, geo);
    keep_reading(model, geo);
    count_sectors(model);
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
  view_hard_iron_reset(&model->calibration);
  view_coverage_reset(&model->coverage);
  model->keep_stride = 1;
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
    return;
  }
  model->calibration_mode = view_calibration_running;
  view_hard_iron_reset(&model->calibration);
  view_coverage_reset(&model->coverage);
  model->kept_count = 0;
  model->keep_stride = 1;
  model->calibration_seen = 0;
}

bool view_model_offsets(const view_model &model, double (&offsets)[3]) {
  if (model.calibration_mode == view_calibration_off) {
    offsets[0] = offsets[1] = offsets[2] = 0.0;
    return false;
  }
  return view_hard_iron_offsets(model.calibration, offsets);
}

bool view_model_heading(const view_model &model, double *heading_deg) {
  if (model.samples == 0) return false;
  const view_vector acc{static_cast<double>(model.last[3]), static_cast<double>(model.last[4]),
                        static_cast<double>(model.last[5])};
  return view_heading(corrected_geomagnetic(model), acc, heading_deg);
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
