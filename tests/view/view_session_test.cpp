// SPDX-License-Identifier: MIT
// The CSV run and the live view over a scripted outside: what they write,
// how often the view redraws, the keys, calibration, resizes and endings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "sim_orientations.h"
#include "view_csv.h"
#include "view_fixture.h"
#include "view_session.h"

namespace {

const int32_t no_values[6] = {};

scripted_step step_of(sensor_outcome outcome, int64_t duration_ms) {
  scripted_step step{outcome, {}, duration_ms};
  return step;
}

scripted_step sample_step(std::initializer_list<int32_t> values, int64_t duration_ms) {
  scripted_step step{sensor_sample_read, {}, duration_ms};
  int k = 0;
  for (int32_t v : values) step.values[k++] = v;
  return step;
}

bool ends_with(const std::string &text, const std::string &end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::vector<std::string> lines_of(const std::string &text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t end = text.find('\n', from);
    lines.push_back(text.substr(from, end - from));
    if (end == std::string::npos) break;
    from = end + 1;
  }
  return lines;
}

class live_test : public testing::Test {
protected:
  view_end run(view_style style = view_style_utf8) {
    return view_run_live(session.get(), io, style, "COM3", "/dev/ttyUSB0", "FT232R USB UART");
  }
  std::string shown() const { return screen_dump(session->screen); }

  scripted_io io;
  std::unique_ptr<view_session> session = new_session();
};

// --- CSV

TEST(csv_run, writes_the_header_then_a_row_per_sample_with_time_and_magnitudes) {
  scripted_io io;
  io.steps = {sample_step({2, 1, 3, 327680, -10, -327670}, 40),
              step_of(sensor_bad_reply, 40),
              sample_step({3, 4, 12, 0, 0, 0}, 1001),
              step_of(sensor_no_reply, 2000),
              step_of(sensor_no_reply, 2000),
              sample_step({-32767, 32768, 0, 30, 40, 0}, 7)};
  EXPECT_EQ(view_run_csv(io), view_end_key);
  const std::vector<std::string> lines = lines_of(io.all_out());
  const std::vector<std::string> expected = {
      "index,seconds,geo1,geo2,geo3,acc1,acc2,acc3,geo_magnitude,acc_magnitude",
      "0,0.000,2,1,3,327680,-10,-327670,3.74,463402.43",
      "1,1.041,3,4,12,0,0,0,13.00,0.00",
      "2,5.048,-32767,32768,0,30,40,0,46340.24,50.00",
  };
  EXPECT_EQ(lines, expected);
  // One write per row: flushed as it comes.
  EXPECT_EQ(io.out.size(), 4u);
  EXPECT_EQ(io.err, "") << "the link's notices are said by the program, not by the record";
  EXPECT_EQ(io.keys_read, 0);  // the key that ends the run stays unread
}

TEST(csv_run, rows_carry_exact_values_and_millisecond_time) {
  struct row_case {
    int64_t index;
    int64_t ms;
    int32_t values[6];
    const char *row;
  };
  const row_case cases[] = {
      {0, 0, {0, 0, 0, 0, 0, 0}, "0,0.000,0,0,0,0,0,0,0.00,0.00\n"},
      {12, 999, {1, -1, 1, 10, -10, 10}, "12,0.999,1,-1,1,10,-10,10,1.73,17.32\n"},
      {123456,
       3723045,
       {32768, 32768, 32768, 327680, 327680, 327680},
       "123456,3723.045,32768,32768,32768,327680,327680,327680,56755.84,567558.41\n"},
  };
  for (const row_case &c : cases) {
    char row[view_csv_row_size];
    view_csv_row(c.index, c.ms, c.values, row);
    EXPECT_STREQ(row, c.row);
  }
}

// With a calibration: its columns in the header, calibrated values in the
// rows (offsets 1 2 3 and the field doubled; 1 g = 10000), each section
// alone too; pitch, roll and heading from the calibrated vectors.
TEST(csv_run, a_calibration_adds_its_columns) {
  calibration_set set{};
  set.geomagnetic = calib_none(0);
  for (int i = 0; i < 3; ++i) {
    set.geomagnetic.offset[i] = i + 1;
    set.geomagnetic.matrix[i][i] = 2;
  }
  set.acceleration = accel_result{{0, 0, 0}, {1e-4, 1e-4, 1e-4}, 6, 0, true, true};
  const int32_t values[6] = {6, 4, 5, 0, 0, 10000};
  const struct {
    bool geo, acc;
    const char *header_tail, *row_tail;
  } cases[] = {
      {true, true,
       "geo_cal1,geo_cal2,geo_cal3,geo_cal_magnitude,acc_cal1,acc_cal2,acc_cal3,"
       "acc_cal_magnitude,pitch,roll,heading\n",
       "10.00,4.00,4.00,11.49,0.00000,0.00000,1.00000,1.00000,0.00,0.00,21.80\n"},
      {true, false, "geo_cal_magnitude,pitch,roll,heading\n", "11.49,0.00,0.00,21.80\n"},
      {false, true,
       "acc_magnitude,acc_cal1,acc_cal2,acc_cal3,acc_cal_magnitude,pitch,roll,heading\n",
       "10000.00,0.00000,0.00000,1.00000,1.00000,0.00,0.00,33.69\n"},
  };
  for (const auto &c : cases) {
    set.has_geomagnetic = c.geo;
    set.has_acceleration = c.acc;
    char header[view_csv_header_size];
    view_csv_header_of(&set, header);
    char row[view_csv_row_size];
    view_csv_row(0, 0, values, row, &set);
    EXPECT_TRUE(ends_with(header, c.header_tail)) << header;
    EXPECT_TRUE(ends_with(row, c.row_tail)) << row;
  }
}

TEST(csv_run, ends_on_a_gone_port_or_a_failed_write) {
  scripted_io gone;
  gone.steps = {sample_step({1, 2, 3, 4, 5, 6}, 40), step_of(sensor_port_gone, 1),
                sample_step({1, 2, 3, 4, 5, 6}, 40)};
  EXPECT_EQ(view_run_csv(gone), view_end_port_gone);
  EXPECT_EQ(lines_of(gone.all_out()).size(), 2u);

  scripted_io full;
  full.steps = turning_stream(10, 25, 30, 0, 0);
  full.fail_writes_from = 3;
  EXPECT_EQ(view_run_csv(full), view_end_output_failed);
  EXPECT_EQ(full.out.size(), 4u);  // header, two rows, the failed one; nothing after

  scripted_io no_header;
  no_header.steps = turning_stream(10, 25, 30, 0, 0);
  no_header.fail_writes_from = 0;
  EXPECT_EQ(view_run_csv(no_header), view_end_output_failed);
  EXPECT_EQ(no_header.next_step, 0u);  // no request after the failed header
}

TEST(csv_run, a_key_waiting_at_the_start_ends_before_any_request) {
  scripted_io io;
  io.steps = turning_stream(10, 25, 30, 0, 0);
  io.keys = {{0, 'x'}};
  EXPECT_EQ(view_run_csv(io), view_end_key);
  EXPECT_EQ(io.all_out(), view_csv_header);
  EXPECT_EQ(io.next_step, 0u);
}

// --- live view: frames

struct rate_case {
  double samples_per_s;
  int samples;
};

TEST_F(live_test, redraws_at_most_20_times_a_second_whatever_the_sample_rate) {
  const rate_case cases[] = {{25.0, 250}, {200.0, 2000}, {1000.0, 5000}};
  for (const rate_case &c : cases) {
    SCOPED_TRACE(c.samples_per_s);
    io = scripted_io{};
    io.steps = turning_stream(c.samples, c.samples_per_s, 30, 10, -5);
    ASSERT_EQ(run(), view_end_key);
    const std::vector<timed_text> frames = io.frames();
    // Frames in any second starting at a frame.
    std::size_t most = 0;
    for (std::size_t first = 0; first < frames.size(); ++first) {
      std::size_t in_second = 0;
      for (std::size_t k = first; k < frames.size(); ++k) {
        if (frames[k].at_ms - frames[first].at_ms < 1000) ++in_second;
      }
      if (in_second > most) most = in_second;
    }
    EXPECT_LE(most, 20u);
    // And it does keep up: at least 10 a second over the run.
    const double seconds = c.samples / c.samples_per_s;
    EXPECT_GE(static_cast<double>(frames.size()), 10.0 * seconds);
  }
}

TEST_F(live_test, enters_the_full_screen_first_and_leaves_it_once_at_the_end) {
  io.steps = turning_stream(50, 25, 30, 0, 0);
  ASSERT_EQ(run(), view_end_key);
  ASSERT_GE(io.out.size(), 3u);
  EXPECT_EQ(io.out.front().text, view_vt_enter_text);
  EXPECT_EQ(io.out.back().text, view_vt_leave_text);
  EXPECT_EQ(io.leaves, 1);
  EXPECT_EQ(io.left_at_write, static_cast<int64_t>(io.out.size()) - 1);
  EXPECT_EQ(io.err, "");  // no calibration, no offsets
  // The first frame draws the whole screen.
  EXPECT_EQ(io.frames().front().text.rfind("\x1b[H\x1b[2J", 0), 0u);
}

TEST_F(live_test, shows_the_six_values_of_the_last_sample) {
  io.steps = turning_stream(30, 25, 30, 0, 0);
  io.steps.push_back(sample_step({-123, 456, -7890, 12340, -56780, 901230}, 40));
  // Two idle requests: a frame is due after the first.
  io.steps.push_back(step_of(sensor_no_reply, 100));
  io.steps.push_back(step_of(sensor_no_reply, 100));
  ASSERT_EQ(run(), view_end_key);
  const std::string dump = shown();
  for (const char *row :
       {"B1    -123", "B2     456", "B3   -7890", "A1   12340", "A2  -56780", "A3  901230"}) {
    EXPECT_NE(dump.find(row), std::string::npos) << row << "\n" << dump;
  }
}

// --- keys

struct key_case {
  int key;
  bool ends;
};

TEST_F(live_test, c_and_a_toggle_calibrations_and_any_other_key_ends) {
  const key_case cases[] = {{'q', true},  {'x', true},  {27, true},   {' ', true},
                            {'c', false}, {'C', false}, {'a', false}, {'A', false}};
  for (const key_case &c : cases) {
    SCOPED_TRACE(c.key);
    io = scripted_io{};
    io.steps = turning_stream(100, 25, 30, 0, 0);
    io.keys = {{scripted_io::start_ms + 1000, c.key}};
    ASSERT_EQ(run(), view_end_key);
    if (c.ends) {
      EXPECT_LT(io.next_step, 30u);  // ended about 1 s in
      EXPECT_EQ(session->model.calibration_mode, view_calibration_off);
      EXPECT_EQ(session->model.accel_mode, view_calibration_off);
    } else {
      EXPECT_EQ(io.next_step, 100u);  // ran to the end of the script
      // Ended with the view.
      const bool field = c.key == 'c' || c.key == 'C';
      EXPECT_EQ(session->model.calibration_mode,
                field ? view_calibration_done : view_calibration_off);
      EXPECT_EQ(session->model.accel_mode, field ? view_calibration_off : view_calibration_done);
    }
  }
}

// A module with a hard-iron offset turns once round, level, while
// calibrating: the points lie in one plane, so the calibration is not good,
// but the in-plane offsets come out on stderr and the heading is right again
// once they are applied.
TEST_F(live_test, calibration_recovers_the_offset_prints_it_and_corrects_the_heading) {
  module_shape shape;
  shape.offset[0] = 700.0;
  shape.offset[1] = -400.0;
  shape.offset[2] = 0.0;
  // 12 s at 25/s, 30 degrees a second, level: one full turn and more.
  io.steps = turning_stream(300, 25, 30, 0, 0, shape);
  io.keys = {{scripted_io::start_ms + 100, 'c'}, {scripted_io::start_ms + 11990, 'c'}};
  ASSERT_EQ(run(), view_end_key);
  EXPECT_EQ(session->model.calibration_mode, view_calibration_done);

  double x = 0;
  double y = 0;
  double z = 0;
  ASSERT_EQ(
      std::sscanf(io.err.c_str(),
                  "orlanse_sensor: geomagnetic offsets (geo1,geo2,geo3): %lf,%lf,%lf", &x, &y, &z),
      3)
      << io.err;
  EXPECT_NEAR(x, 700.0, 2.0);
  EXPECT_NEAR(y, -400.0, 2.0);
  // Level turning leaves z constant: its offset is that constant.
  EXPECT_NEAR(z, session->model.last[2], 0.5);
  EXPECT_NE(io.err.find("(sphere model, "), std::string::npos) << io.err;
  EXPECT_NE(io.err.find(" points, points near one plane)\n"), std::string::npos) << io.err;
  // Saved while running and by the key; stderr says where and gives the C
  // snippet.
  ASSERT_GE(io.saves.size(), 1u);
  EXPECT_FALSE(io.saves.back().geomagnetic.good);
  EXPECT_NE(io.err.find("orlanse_sensor: calibration written to calib.json\n"), std::string::npos);
  EXPECT_NE(io.err.find("static const double geo_offset[3] = {"), std::string::npos) << io.err;
  EXPECT_EQ(io.err.back(), '\n');
  // The offsets come after the screen is left.
  EXPECT_GE(io.leaves, 1);

  double heading = 0;
  ASSERT_TRUE(view_model_heading(session->model, &heading));
  const attitude last = turning_pose(299, 25, 30, 0, 0);
  EXPECT_NEAR(std::remainder(heading - last.heading_deg, 360.0), 0.0, 1.0);
  EXPECT_GE(100.0 - session->model.geo_fit.quality.gaps, 8);
}

TEST_F(live_test, without_calibration_the_offset_skews_the_heading) {
  module_shape shape;
  shape.offset[0] = 700.0;
  shape.offset[1] = -400.0;
  io.steps = turning_stream(100, 25, 30, 0, 0, shape);
  ASSERT_EQ(run(), view_end_key);
  double heading = 0;
  ASSERT_TRUE(view_model_heading(session->model, &heading));
  const attitude last = turning_pose(99, 25, 30, 0, 0);
  EXPECT_GT(std::fabs(std::remainder(heading - last.heading_deg, 360.0)), 5.0);
}

// --- resize, counts, endings

TEST_F(live_test, a_resize_redraws_the_whole_screen_at_the_new_size) {
  io.steps = turning_stream(300, 25, 30, 5, 5);
  io.resizes = {{scripted_io::start_ms + 2000, 60, 20}};
  io.keys = {{scripted_io::start_ms + 3000, 'q'}};
  ASSERT_EQ(run(), view_end_key);
  EXPECT_EQ(session->screen.columns, 60);
  EXPECT_EQ(session->screen.rows, 20);
  int whole = 0;
  for (const timed_text &frame : io.frames()) {
    if (frame.text.rfind("\x1b[H\x1b[2J", 0) == 0) {
      ++whole;
      EXPECT_TRUE(frame.at_ms < scripted_io::start_ms + 100 ||
                  (frame.at_ms >= scripted_io::start_ms + 2000 &&
                   frame.at_ms < scripted_io::start_ms + 2100))
          << frame.at_ms;
    }
  }
  EXPECT_EQ(whole, 2);
  expect_golden("resized_utf8_60x20.txt", shown());
}

TEST_F(live_test, unknown_size_draws_80_by_24) {
  io.size_known = false;
  io.steps = turning_stream(10, 25, 30, 0, 0);
  ASSERT_EQ(run(), view_end_key);
  EXPECT_EQ(session->screen.columns, 80);
  EXPECT_EQ(session->screen.rows, 24);
}

TEST_F(live_test, counts_broken_replies_and_silent_periods) {
  std::vector<scripted_step> steps = turning_stream(5, 25, 30, 0, 0);
  const scripted_step sample = steps[0];
  steps.push_back(step_of(sensor_bad_reply, 40));
  steps.push_back(step_of(sensor_no_reply, 2000));
  steps.push_back(step_of(sensor_no_reply, 2000));  // still the same silence
  steps.push_back(step_of(sensor_bad_reply, 40));   // it answers: silence over
  steps.push_back(step_of(sensor_no_reply, 2000));
  steps.push_back(sample);
  steps.push_back(step_of(sensor_bad_reply, 40));
  steps.push_back(step_of(sensor_interrupted, 5));  // a key woke the wait: nothing
  for (int k = 0; k < 3; ++k) steps.push_back(sample);
  io.steps = steps;
  ASSERT_EQ(run(view_style_ascii), view_end_key);
  EXPECT_EQ(session->model.broken_replies, 3);
  EXPECT_EQ(session->model.silent_periods, 2);
  EXPECT_EQ(session->model.samples, 9);
  const std::string dump = shown();
  EXPECT_NE(dump.find("broken replies 3"), std::string::npos) << dump;
  EXPECT_NE(dump.find("silent periods 2"), std::string::npos) << dump;
  EXPECT_EQ(io.err, "");  // nothing on stderr under the full screen
}

TEST_F(live_test, a_gone_port_leaves_the_screen_and_still_prints_the_offsets) {
  io.steps = turning_stream(50, 25, 30, 0, 0);
  io.steps.push_back(step_of(sensor_port_gone, 1));
  io.keys = {{scripted_io::start_ms, 'c'}};
  EXPECT_EQ(run(), view_end_port_gone);
  EXPECT_EQ(io.leaves, 1);
  EXPECT_EQ(io.out.back().text, view_vt_leave_text);
  EXPECT_NE(io.err.find("geomagnetic offsets"), std::string::npos) << io.err;
  EXPECT_EQ(io.saves.size(), 1u);
}

TEST_F(live_test, a_failed_write_ends_the_view) {
  const int fail_from[] = {0, 1, 5};
  for (int from : fail_from) {
    SCOPED_TRACE(from);
    io = scripted_io{};
    io.steps = turning_stream(500, 25, 30, 0, 0);
    io.fail_writes_from = from;
    EXPECT_EQ(run(), view_end_output_failed);
    EXPECT_EQ(io.leaves, 1);
    // Ends at the failed write, not at the end of the script.
    EXPECT_LT(io.next_step, 10u);
  }
}

TEST_F(live_test, a_failed_leave_on_a_key_is_a_failed_write) {
  io.steps = turning_stream(5, 25, 30, 0, 0);
  io.fail_writes_from = 1000000;
  io.keys = {{scripted_io::start_ms + 100, 'q'}};
  ASSERT_EQ(run(), view_end_key);
  const std::size_t writes = io.out.size();
  io = scripted_io{};
  io.steps = turning_stream(5, 25, 30, 0, 0);
  io.keys = {{scripted_io::start_ms + 100, 'q'}};
  io.fail_writes_from = static_cast<int>(writes) - 1;  // just the leave text
  EXPECT_EQ(run(), view_end_output_failed);
}

// While a calibration runs its results so far are saved every 5 s, so that
// an ending signal loses at most that much, and once more when the view
// ends it; none before there is a result. A failed save is said on stderr,
// after the full screen is left.
TEST_F(live_test, a_running_calibration_is_saved_every_five_seconds_and_at_the_end) {
  // 21 s of the simulator's distorted module turning.
  for (const sim_sample &s : sim_orientation_samples(sim_demo_distortion(), {})) {
    if (io.steps.size() == 25 * 21) break;
    io.steps.push_back({sensor_sample_read, {s[0], s[1], s[2], s[3], s[4], s[5]}, 40});
  }
  io.keys = {{scripted_io::start_ms, 'c'}, {scripted_io::start_ms, 'a'}};
  io.fail_saves = true;
  ASSERT_EQ(run(), view_end_key);
  // At 5, 10, 15 and 20 s, and at the end, each with more points.
  ASSERT_EQ(io.saves.size(), 5u);
  for (std::size_t k = 0; k < io.saves.size(); ++k) {
    EXPECT_TRUE(io.saves[k].has_geomagnetic);
    EXPECT_FALSE(io.saves[k].has_acceleration);  // no face held yet
    if (k > 0) {
      EXPECT_LT(io.saves[k - 1].geomagnetic.points, io.saves[k].geomagnetic.points);
    }
  }
  EXPECT_EQ(session->model.calibration_mode, view_calibration_done);
  EXPECT_NE(io.err.find("orlanse_sensor: cannot write the calibration: calib.json: No space left "
                        "on device\n"),
            std::string::npos)
      << io.err;
  EXPECT_GE(io.leaves, 1);
}

// A loaded calibration is applied to what the view shows.
TEST_F(live_test, a_loaded_calibration_is_applied) {
  calibration_set loaded{};
  loaded.has_acceleration = true;
  loaded.acceleration = accel_result{{0, 0, 1000}, {1e-4, 1e-4, 1e-4}, 6, 0, true, true};
  io.steps.assign(5, sample_step({100, 0, 0, 0, 0, 11000}, 40));
  ASSERT_EQ(view_run_live(session.get(), io, view_style_ascii, "COM3", "", "", &loaded),
            view_end_key);
  EXPECT_NE(shown().find("A 0.000 0.000 1.000 g |A| 1.000 g"), std::string::npos) << shown();
  EXPECT_TRUE(io.saves.empty());
}

}  // namespace
