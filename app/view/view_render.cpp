// SPDX-License-Identifier: MIT
#include "view_render.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace {

struct glyph_set {
  const char *bar_full;
  const char *bar_half_up;    // the half next to the centre, positive side
  const char *bar_half_down;  // the half next to the centre, negative side
  const char *bar_empty;
  const char *spark[8];
  int spark_levels;
  const char *gauge_full;
  const char *gauge_half;
  const char *gauge_empty;
  const char *degree;
};

const glyph_set utf8_glyphs = {
    "\u2588",
    "\u258C",
    "\u2590",
    "\u00B7",
    {"\u2581", "\u2582", "\u2583", "\u2584", "\u2585", "\u2586", "\u2587", "\u2588"},
    8,
    "\u2588",
    "\u258C",
    "\u2591",
    "\u00B0",
};

const glyph_set ascii_glyphs = {
    "#", "#", "#", ".", {"_", ".", "-", "=", "^", "", "", ""}, 5, "#", "+", ".", " deg",
};

const glyph_set &glyphs_of(view_style style) {
  return style == view_style_ascii ? ascii_glyphs : utf8_glyphs;
}

constexpr int segment_size = 112;
constexpr int max_segments = 12;
constexpr int max_blocks = 24;
constexpr int no_axis = -1;

// A piece of the view: an axis row, or text parts that wrap between them.
struct block {
  int priority;  // 0 drawn first; higher ones only where rows are left
  int axis;      // 0..5, or no_axis for text
  int segment_count;
  char segments[max_segments][segment_size];
};

struct layout {
  block blocks[max_blocks];
  int count;
};

block *add_block(layout *view, int priority, int axis) {
  if (view->count == max_blocks) return nullptr;
  block *added = &view->blocks[view->count++];
  *added = block{};
  added->priority = priority;
  added->axis = axis;
  return added;
}

// The next part's text slot; a scratch slot once the block is full.
char *next_segment(block *to) {
  static char overflow[segment_size];
  if (to == nullptr || to->segment_count == max_segments) return overflow;
  return to->segments[to->segment_count++];
}

// Port texts come from the platform: printable ASCII only, so that every
// character takes exactly one cell.
void add_port_segment(block *to, const char *text) {
  if (to == nullptr || text[0] == '\0' || to->segment_count == max_segments) return;
  char *out = to->segments[to->segment_count++];
  int k = 0;
  for (; text[k] != '\0' && k < segment_size - 1; ++k) {
    const char c = text[k];
    out[k] = c >= 0x20 && c < 0x7F ? c : '?';
  }
  out[k] = '\0';
}

int block_rows(const block &piece, int columns) {
  if (piece.axis != no_axis || piece.segment_count == 0) return 1;
  int rows = 1;
  int column = 0;
  for (int k = 0; k < piece.segment_count; ++k) {
    const int cells = view_text_cells(piece.segments[k]);
    if (column > 0 && column + 2 + cells > columns) {
      ++rows;
      column = 0;
    }
    column += (column > 0 ? 2 : 0) + cells;
  }
  return rows;
}

int draw_text_block(const block &piece, int row, view_screen *screen) {
  int column = 0;
  for (int k = 0; k < piece.segment_count; ++k) {
    const int cells = view_text_cells(piece.segments[k]);
    if (column > 0 && column + 2 + cells > screen->columns) {
      ++row;
      column = 0;
    }
    if (column > 0) column += 2;
    view_screen_put(screen, row, column, piece.segments[k], screen->columns - column);
    column += cells;
  }
  return row + 1;
}

// The bar is centred on 0: half of it for each sign, in half cells.
void draw_bar(int32_t value, int32_t positive_end, int32_t negative_end, int width, int row,
              int column, const glyph_set &glyphs, view_screen *screen) {
  const int half = width / 2;
  const int32_t end = value >= 0 ? positive_end : negative_end;
  const double share = std::fabs(static_cast<double>(value)) / static_cast<double>(end);
  const int filled = static_cast<int>(std::lround(std::fmin(share, 1.0) * half * 2));
  for (int k = 0; k < half; ++k) {
    const bool up = value >= 0;
    const char *glyph = glyphs.bar_empty;
    if (filled >= 2 * k + 2) {
      glyph = glyphs.bar_full;
    } else if (filled == 2 * k + 1) {
      glyph = up ? glyphs.bar_half_up : glyphs.bar_half_down;
    }
    view_screen_put(screen, row, column + half + k, up ? glyph : glyphs.bar_empty, 1);
    view_screen_put(screen, row, column + half - 1 - k, up ? glyphs.bar_empty : glyph, 1);
  }
}

void draw_sparkline(const view_model &model, int axis, int width, int row, int column,
                    const glyph_set &glyphs, view_screen *screen) {
  double means[view_screen_max_columns];
  bool present[view_screen_max_columns];
  if (width > view_screen_max_columns) width = view_screen_max_columns;
  view_model_history(model, axis, width, means, present);
  double low = 0.0;
  double high = 0.0;
  bool any = false;
  for (int k = 0; k < width; ++k) {
    if (!present[k]) continue;
    if (!any || means[k] < low) low = means[k];
    if (!any || means[k] > high) high = means[k];
    any = true;
  }
  const int top = glyphs.spark_levels - 1;
  for (int k = 0; k < width; ++k) {
    if (!present[k]) continue;
    const int level =
        high > low ? static_cast<int>(std::lround((means[k] - low) / (high - low) * top)) : top / 2;
    view_screen_put(screen, row, column + k, glyphs.spark[level], 1);
  }
}

// An angle as shown, to a tenth of a degree; never "-0.0".
double shown_angle(double degrees) { return std::round(degrees * 10.0) / 10.0 + 0.0; }

constexpr int label_cells = 3;
constexpr int value_cells = 7;

void draw_axis(const view_model &model, int axis, int row, const glyph_set &glyphs,
               view_screen *screen) {
  char label[label_cells + value_cells + 2];
  const bool geo = axis < 3;
  if (model.samples == 0) {
    std::snprintf(label, sizeof label, "%c%d %*s", geo ? 'B' : 'A', axis % 3 + 1, value_cells,
                  "--");
  } else {
    std::snprintf(label, sizeof label, "%c%d %*" PRId32, geo ? 'B' : 'A', axis % 3 + 1, value_cells,
                  model.last[axis]);
  }
  view_screen_put(screen, row, 0, label, screen->columns);
  const int room = screen->columns - label_cells - value_cells - 2;
  if (room < 6) return;
  int bar = room * 2 / 5;
  if (bar > 40) bar = 40;
  bar &= ~1;
  const int bar_column = label_cells + value_cells + 1;
  if (model.samples > 0) {
    const int32_t scale = geo ? 1 : 10;
    draw_bar(model.last[axis], 32768 * scale, 32767 * scale, bar, row, bar_column, glyphs, screen);
  } else {
    draw_bar(0, 1, 1, bar, row, bar_column, glyphs, screen);
  }
  draw_sparkline(model, axis, room - bar, row, bar_column + bar + 1, glyphs, screen);
}

void add_magnitude(layout *view, const view_model &model, bool geo) {
  block *piece = add_block(view, 1, no_axis);
  const char *name = geo ? "|B|" : "|A|";
  if (model.samples == 0) {
    std::snprintf(next_segment(piece), segment_size, "%s --", name);
    return;
  }
  const int32_t *axes = &model.last[geo ? 0 : 3];
  const view_vector v{static_cast<double>(axes[0]), static_cast<double>(axes[1]),
                      static_cast<double>(axes[2])};
  std::snprintf(next_segment(piece), segment_size, "%s %.1f", name, view_magnitude(v));
  std::snprintf(next_segment(piece), segment_size, "min %.1f max %.1f",
                geo ? model.geo_low : model.acc_low, geo ? model.geo_high : model.acc_high);
}

void add_attitude(layout *view, const view_model &model, const glyph_set &glyphs) {
  block *piece = add_block(view, 1, no_axis);
  const view_tilt tilt = view_tilt_of(view_model_acceleration(model));
  if (model.samples > 0 && tilt.valid) {
    std::snprintf(next_segment(piece), segment_size, "pitch %.1f%s", shown_angle(tilt.pitch_deg),
                  glyphs.degree);
    std::snprintf(next_segment(piece), segment_size, "roll %.1f%s", shown_angle(tilt.roll_deg),
                  glyphs.degree);
  } else {
    std::snprintf(next_segment(piece), segment_size, "pitch --");
    std::snprintf(next_segment(piece), segment_size, "roll --");
  }
  double heading = 0.0;
  if (view_model_heading(model, &heading)) {
    heading = shown_angle(heading);
    std::snprintf(next_segment(piece), segment_size, "heading %.1f%s",
                  heading >= 360.0 ? 0.0 : heading, glyphs.degree);
  } else {
    std::snprintf(next_segment(piece), segment_size, "heading --");
  }
}

void add_rate(layout *view, const view_model &model) {
  block *piece = add_block(view, 2, no_axis);
  const double rate = view_rate_per_s(model.rate, model.now_ms);
  std::snprintf(next_segment(piece), segment_size, "rate %.1f/s", rate);
  std::snprintf(next_segment(piece), segment_size, "%.0f%% of %.2f/s at 9600 baud",
                rate / view_wire_limit_per_s * 100.0, view_wire_limit_per_s);
}

void add_counts(layout *view, const view_model &model) {
  block *piece = add_block(view, 2, no_axis);
  std::snprintf(next_segment(piece), segment_size, "samples %" PRId64, model.samples);
  std::snprintf(next_segment(piece), segment_size, "broken replies %" PRId64, model.broken_replies);
  std::snprintf(next_segment(piece), segment_size, "silent periods %" PRId64 "%s",
                model.silent_periods, model.silent ? " (silent now)" : "");
}

// A gauge of cells filled in proportion to share (0..1), in half cells.
void put_gauge(char *out, std::size_t size, double share, int cells, const glyph_set &glyphs) {
  const int halves =
      static_cast<int>(std::lround(std::fmin(std::fmax(share, 0.0), 1.0) * cells * 2));
  std::size_t used = 0;
  out[0] = '\0';
  for (int k = 0; k < cells && used < size; ++k) {
    const int filled = halves - 2 * k;
    const char *glyph =
        filled >= 2 ? glyphs.gauge_full : (filled == 1 ? glyphs.gauge_half : glyphs.gauge_empty);
    used += static_cast<std::size_t>(std::snprintf(out + used, size - used, "%s", glyph));
  }
}

// Face names of a bit set, comma-separated.
void put_faces(char *out, std::size_t size, const char *lead, unsigned faces) {
  int used = std::snprintf(out, size, "%s", lead);
  bool first = true;
  for (int face = 0; face < accel_face_count; ++face) {
    if ((faces & (1U << face)) == 0 || used >= static_cast<int>(size)) continue;
    used += std::snprintf(out + used, size - static_cast<std::size_t>(used), "%s%s",
                          first ? " " : ", ", accel_face_name(face));
    first = false;
  }
}

int first_face(unsigned faces) {
  for (int face = 0; face < accel_face_count; ++face) {
    if ((faces & (1U << face)) != 0) return face;
  }
  return -1;
}

const char *mode_text(view_calibration_mode mode) {
  return mode == view_calibration_running ? "calibrating" : "calibrated";
}

// A figure as shown, to a tenth; never "-0.0".
double shown_tenth(double value) { return std::round(value * 10.0) / 10.0 + 0.0; }
double shown_thousandth(double value) { return std::round(value * 1000.0) / 1000.0 + 0.0; }

void add_geo_progress(layout *view, const view_model &model, const glyph_set &glyphs) {
  const geo_calibration &fit = model.geo_fit;
  block *piece = add_block(view, 1, no_axis);
  std::snprintf(next_segment(piece), segment_size, "field %s", mode_text(model.calibration_mode));
  std::snprintf(next_segment(piece), segment_size, "points %d", model.kept_count);
  std::snprintf(next_segment(piece), segment_size, "model %s", calib_model_name(fit.model));
  char gauge[10 * 4 + 1];
  const double covered = 100.0 - fit.quality.gaps;
  put_gauge(gauge, sizeof gauge, covered / 100.0, 10, glyphs);
  std::snprintf(next_segment(piece), segment_size, "coverage %.0f%% [%s]", covered, gauge);
  const unsigned missing = view_model_missing_poses(model);
  if ((missing == 0 && fit.quality.gaps < calib_gaps_limit) || fit.good) return;
  piece = add_block(view, 1, no_axis);
  if (missing != 0) {
    put_faces(next_segment(piece), segment_size, "missing:", missing);
    if (model.calibration_mode == view_calibration_running) {
      std::snprintf(next_segment(piece), segment_size, "-> %s",
                    accel_face_hint(first_face(missing)));
    }
  } else if (model.calibration_mode == view_calibration_running) {
    std::snprintf(next_segment(piece), segment_size,
                  "-> turn it slowly about each axis in each position");
  }
}

// The figures over their limits, or why the data cannot give a good fit.
void put_verdict(char *out, std::size_t size, const geo_calibration &fit) {
  if (fit.good) {
    std::snprintf(out, size, "GOOD");
    return;
  }
  if (fit.doubt != calib_doubt_quality) {
    std::snprintf(out, size, "not good: %s", calib_doubt_text(fit.doubt));
    return;
  }
  const calib_quality &q = fit.quality;
  const bool over[4] = {q.gaps >= calib_gaps_limit, q.variance >= calib_variance_limit,
                        q.wobble >= calib_wobble_limit, q.fit_error >= calib_fit_error_limit};
  const char *const names[4] = {"gaps", "variance", "wobble", "fit error"};
  int used = std::snprintf(out, size, "not good:");
  const char *separator = " ";
  for (int k = 0; k < 4 && used < static_cast<int>(size); ++k) {
    if (!over[k]) continue;
    used += std::snprintf(out + used, size - static_cast<std::size_t>(used), "%s%s", separator,
                          names[k]);
    separator = ", ";
  }
  if (used < static_cast<int>(size))
    std::snprintf(out + used, size - static_cast<std::size_t>(used), " too high");
}

void add_geo_figures(layout *view, const view_model &model) {
  const geo_calibration &fit = model.geo_fit;
  block *piece = add_block(view, 1, no_axis);
  if (fit.model == calib_model_none) {
    std::snprintf(next_segment(piece), segment_size, "offsets --");
  } else {
    std::snprintf(next_segment(piece), segment_size, "offsets %.1f %.1f %.1f",
                  shown_tenth(fit.offset[0]), shown_tenth(fit.offset[1]),
                  shown_tenth(fit.offset[2]));
    std::snprintf(next_segment(piece), segment_size, "field %.1f", fit.field);
    const double(&m)[3][3] = fit.matrix;
    std::snprintf(next_segment(piece), segment_size,
                  "matrix %.3f %.3f %.3f / %.3f %.3f %.3f / %.3f %.3f %.3f",
                  shown_thousandth(m[0][0]), shown_thousandth(m[0][1]), shown_thousandth(m[0][2]),
                  shown_thousandth(m[1][0]), shown_thousandth(m[1][1]), shown_thousandth(m[1][2]),
                  shown_thousandth(m[2][0]), shown_thousandth(m[2][1]), shown_thousandth(m[2][2]));
    piece = add_block(view, 1, no_axis);
    const calib_quality &q = fit.quality;
    std::snprintf(next_segment(piece), segment_size, "gaps %.1f%%", q.gaps);
    std::snprintf(next_segment(piece), segment_size, "variance %.1f%%", q.variance);
    std::snprintf(next_segment(piece), segment_size, "wobble %.1f%%", q.wobble);
    std::snprintf(next_segment(piece), segment_size, "fit error %.1f%%", q.fit_error);
  }
  put_verdict(next_segment(piece), segment_size, fit);
}

void add_accel(layout *view, const view_model &model) {
  const accel_result &fit = model.accel_fit;
  block *piece = add_block(view, 1, no_axis);
  std::snprintf(next_segment(piece), segment_size, "accelerometer %s, %d/6 faces",
                mode_text(model.accel_mode), model.accel.positions);
  unsigned taken = 0;
  for (int face = 0; face < accel_face_count; ++face) {
    if (model.accel.taken[face]) taken |= 1U << face;
  }
  if (taken != 0) put_faces(next_segment(piece), segment_size, "done:", taken);
  if (!fit.complete) {
    if (model.accel_mode == view_calibration_running) {
      std::snprintf(next_segment(piece), segment_size, "-> %s and hold it still",
                    accel_face_hint(first_face(~taken & 0x3FU)));
    }
    return;
  }
  std::snprintf(next_segment(piece), segment_size, "offsets %.1f %.1f %.1f",
                shown_tenth(fit.offset[0]), shown_tenth(fit.offset[1]), shown_tenth(fit.offset[2]));
  std::snprintf(next_segment(piece), segment_size, "gains %.4e %.4e %.4e", fit.gain[0], fit.gain[1],
                fit.gain[2]);
  std::snprintf(next_segment(piece), segment_size, "|A| error %.2f%%", fit.worst_error);
  std::snprintf(next_segment(piece), segment_size, "%s", fit.good ? "GOOD" : "not good");
}

// The calibrated vectors, while a calibration is in use.
void add_calibrated(layout *view, const view_model &model) {
  geo_calibration geo;
  accel_result acc;
  const bool geo_in_use = view_model_geo_calibration(model, &geo);
  const bool acc_in_use = view_model_accel_calibration(model, &acc);
  if (!geo_in_use && !acc_in_use) return;
  block *piece = add_block(view, 1, no_axis);
  if (model.samples == 0) {
    std::snprintf(next_segment(piece), segment_size, "calibrated --");
    return;
  }
  if (geo_in_use) {
    const view_vector b = view_model_geomagnetic(model);
    std::snprintf(next_segment(piece), segment_size, "calibrated B %.1f %.1f %.1f |B| %.1f", b.x,
                  b.y, b.z, view_magnitude(b));
  }
  if (acc_in_use) {
    const view_vector a = view_model_acceleration(model);
    std::snprintf(next_segment(piece), segment_size, "A %.3f %.3f %.3f g |A| %.3f g", a.x, a.y, a.z,
                  view_magnitude(a));
  }
}

void add_calibration(layout *view, const view_model &model, const glyph_set &glyphs) {
  if (model.calibration_mode != view_calibration_off) {
    add_geo_progress(view, model, glyphs);
    add_geo_figures(view, model);
  }
  if (model.accel_mode != view_calibration_off) add_accel(view, model);
}

void add_title(layout *view, const view_model &model) {
  block *piece = add_block(view, 2, no_axis);
  std::snprintf(next_segment(piece), segment_size, "orlanse_sensor live view");
  add_port_segment(piece, model.com_name);
  add_port_segment(piece, model.device_node);
  add_port_segment(piece, model.description);
}

void add_keys(layout *view) {
  block *piece = add_block(view, 3, no_axis);
  std::snprintf(next_segment(piece), segment_size, "c: field calibration on/off");
  std::snprintf(next_segment(piece), segment_size, "a: accelerometer calibration on/off");
  std::snprintf(next_segment(piece), segment_size, "any other key: quit");
}

void add_gap(layout *view) { add_block(view, 4, no_axis); }

void plan(const view_model &model, const glyph_set &glyphs, layout *view) {
  view->count = 0;
  add_title(view, model);
  add_gap(view);
  for (int axis = 0; axis < 3; ++axis) add_block(view, 0, axis);
  add_magnitude(view, model, true);
  add_gap(view);
  for (int axis = 3; axis < 6; ++axis) add_block(view, 0, axis);
  add_magnitude(view, model, false);
  add_gap(view);
  add_attitude(view, model, glyphs);
  add_calibrated(view, model);
  add_rate(view, model);
  add_counts(view, model);
  add_calibration(view, model, glyphs);
  add_gap(view);
  add_keys(view);
}

}  // namespace

void view_render(const view_model &model, view_style style, int columns, int rows,
                 view_screen *screen) {
  view_screen_clear(screen, columns, rows);
  const glyph_set &glyphs = glyphs_of(style);
  layout view;
  plan(model, glyphs, &view);

  // Which blocks fit, the most important first; drawn in their own order.
  bool shown[max_blocks] = {};
  int used = 0;
  for (int priority = 0; priority <= 4; ++priority) {
    for (int k = 0; k < view.count; ++k) {
      if (view.blocks[k].priority != priority) continue;
      const int needed = block_rows(view.blocks[k], screen->columns);
      if (used + needed > screen->rows) continue;
      shown[k] = true;
      used += needed;
    }
  }
  int row = 0;
  for (int k = 0; k < view.count; ++k) {
    if (!shown[k]) continue;
    if (view.blocks[k].axis != no_axis) {
      draw_axis(model, view.blocks[k].axis, row, glyphs, screen);
      ++row;
    } else if (view.blocks[k].segment_count == 0) {
      ++row;
    } else {
      row = draw_text_block(view.blocks[k], row, screen);
    }
  }
}
