// SPDX-License-Identifier: MIT
// The renderer over a scripted scene, against golden snapshots.
//
// Regenerate the snapshots after an intended change of the view:
//   ORLANSE_UPDATE_GOLDEN=1 build/ci/tests/view/view_test --gtest_filter='view_render*'
// (the run rewrites tests/view/golden/*.txt and fails on purpose), then look
// at the diff and commit it. Each row of a snapshot ends with '|'.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "accel_calibration.h"
#include "view_fixture.h"
#include "view_render.h"

namespace {

struct snapshot_case {
  const char *golden;
  view_style style;
  int columns;
  int rows;
};

class view_render_test : public testing::Test {
protected:
  void SetUp() override { play_scene(model.get()); }

  std::string render(view_style style, int columns, int rows) {
    view_render(*model, style, columns, rows, screen.get());
    return screen_dump(*screen);
  }

  std::unique_ptr<view_model> model = std::make_unique<view_model>();
  std::unique_ptr<view_screen> screen = std::make_unique<view_screen>();
};

TEST_F(view_render_test, matches_the_snapshots) {
  const snapshot_case cases[] = {
      {"scene_utf8_80x24.txt", view_style_utf8, 80, 24},
      {"scene_ascii_80x24.txt", view_style_ascii, 80, 24},
      {"scene_utf8_40x24.txt", view_style_utf8, 40, 24},
      {"scene_ascii_40x24.txt", view_style_ascii, 40, 24},
      {"scene_utf8_100x12.txt", view_style_utf8, 100, 12},
  };
  for (const snapshot_case &c : cases) {
    SCOPED_TRACE(c.golden);
    expect_golden(c.golden, render(c.style, c.columns, c.rows));
  }
}

// The calibration panel while both calibrations run: early in the turn
// (few points, faces missing), and after the turn with three faces held.
TEST_F(view_render_test, the_calibration_panel_matches_its_snapshots) {
  const struct {
    int samples;
    const char *golden;
    view_style style;
  } cases[] = {
      {120, "calibration_early_utf8_80x24.txt", view_style_utf8},
      {1500 + 3 * 65, "calibration_utf8_80x24.txt", view_style_utf8},
      {1500 + 3 * 65, "calibration_ascii_80x24.txt", view_style_ascii},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.golden);
    play_calibration_scene(model.get(), c.samples);
    expect_golden(c.golden, render(c.style, 80, 24));
  }
}

TEST_F(view_render_test, every_axis_shows_its_last_value_down_to_40_columns_and_10_rows) {
  const int sizes[][2] = {{40, 24}, {40, 10}, {80, 24}, {25, 8}};
  for (const auto &size : sizes) {
    for (view_style style : {view_style_utf8, view_style_ascii}) {
      SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1] << " style " << style);
      const std::string dump = render(style, size[0], size[1]);
      for (int axis = 0; axis < 6; ++axis) {
        const std::string row = std::string(axis < 3 ? "B" : "A") + std::to_string(axis % 3 + 1);
        const std::size_t at = dump.find(row + " ");
        ASSERT_NE(at, std::string::npos) << row;
        const std::string line = dump.substr(at, dump.find('\n', at) - at);
        EXPECT_NE(line.find(std::to_string(model->last[axis])), std::string::npos) << line;
      }
    }
  }
}

// Tiny and huge terminals: the screen is clamped, and where rows are few
// the axes come first.
TEST_F(view_render_test, any_size_draws_within_the_screen_axes_first) {
  const int sizes[][4] = {// columns, rows asked; columns, rows drawn
                          {1, 1, 1, 1},
                          {5, 3, 5, 3},
                          {12, 6, 12, 6},
                          {0, -4, 1, 1},
                          {1000, 1000, 200, 80}};
  for (const auto &size : sizes) {
    SCOPED_TRACE(testing::Message() << size[0] << "x" << size[1]);
    render(view_style_utf8, size[0], size[1]);
    EXPECT_EQ(screen->columns, size[2]);
    EXPECT_EQ(screen->rows, size[3]);
    if (size[3] <= 6 && size[2] >= 2) {  // too few rows for anything but axes
      char first[view_screen_max_columns * 4 + 1];
      view_screen_row_text(*screen, 0, first, sizeof first);
      EXPECT_EQ(std::string(first).rfind("B1", 0), 0u) << first;
    }
  }
}

TEST_F(view_render_test, ascii_style_writes_only_ascii) {
  for (int columns : {40, 80, 132}) {
    const std::string dump = render(view_style_ascii, columns, 30);
    for (char c : dump) EXPECT_EQ(static_cast<unsigned char>(c) & 0x80u, 0u) << columns;
  }
}

// The bar is centred: a value at either end of the range fills its half.
TEST_F(view_render_test, bars_fill_from_the_centre_to_the_ends_of_the_range) {
  struct bar_case {
    int32_t value;
    const char *bar;
  };
  const bar_case cases[] = {
      {0, "...................."},      {32768, "..........##########"},
      {-32767, "##########.........."}, {16384, "..........#####....."},
      {-8192, ".......###.........."},
  };
  for (const bar_case &c : cases) {
    SCOPED_TRACE(c.value);
    view_model_start(model.get(), 0, "", "", "");
    const int32_t values[6] = {c.value, 0, 0, 0, 0, 10000};
    view_model_add(model.get(), 40, sensor_sample_read, values);
    // 62 columns: 50 after the value, 20 of them the bar.
    const std::string dump = render(view_style_ascii, 62, 24);
    EXPECT_NE(dump.find(c.bar), std::string::npos) << dump;
  }
}

// The orientations still missing are judged on the readings the fit keeps:
// a face seen only early, and mostly thinned out of the store since, is
// missing again.
TEST_F(view_render_test, a_face_thinned_out_of_the_kept_readings_is_missing_again) {
  view_model_start(model.get(), 0, "", "", "");
  view_model_toggle_calibration(model.get());
  int32_t values[6];
  int64_t now_ms = 0;
  auto turn = [&](int count, double roll_deg) {
    for (int k = 0; k < count; ++k) {
      sample_of(turning_pose(k, 25.0, 90.0, 0.0, roll_deg), module_shape{}, values);
      view_model_add(model.get(), now_ms += 40, sensor_sample_read, values);
    }
  };
  turn(60, 0.0);
  const int32_t acc[3] = {values[3], values[4], values[5]};
  const unsigned level = 1U << accel_face_of(view_vector_of(acc), 0.0);
  EXPECT_EQ(view_model_missing_poses(*model) & level, 0u);
  turn(4000, 90.0);
  EXPECT_NE(view_model_missing_poses(*model) & level, 0u) << "kept readings: " << model->kept_count;
}

TEST_F(view_render_test, port_texts_are_shown_with_unprintable_bytes_as_question_marks) {
  view_model_start(model.get(), 0, "COM7", "/dev/ttyUSB3", "Dual \x1b[2J RS232\xc2\x85");
  const std::string dump = render(view_style_utf8, 80, 24);
  EXPECT_NE(dump.find("COM7  /dev/ttyUSB3  Dual ?[2J RS232??"), std::string::npos) << dump;
  EXPECT_EQ(dump.find('\x1b'), std::string::npos);
}

}  // namespace
