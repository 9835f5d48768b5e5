// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "silence_watch.h"

namespace {

using std::chrono::milliseconds;

// Each step: milliseconds since the start, whether the module answered, and
// the event expected.
struct step {
  int at_ms;
  bool answered;
  silence_event event;
};

std::vector<silence_event> play(const std::vector<step> &steps) {
  const auto start = silence_watch::clock::time_point{} + std::chrono::hours(1);
  silence_watch watch(start);
  std::vector<silence_event> events;
  for (const step &s : steps) {
    const auto now = start + milliseconds(s.at_ms);
    events.push_back(s.answered ? watch.answered(now) : watch.unanswered(now));
  }
  return events;
}

TEST(silence_watch, says_once_when_the_sensor_goes_silent_and_once_when_it_answers_again) {
  const struct {
    const char *name;
    std::vector<step> steps;
  } cases[] = {
      {"an answering sensor is never reported",
       {{40, true, silence_event::none}, {80, true, silence_event::none}}},
      {"silence from the start is reported after two seconds",
       {{1000, false, silence_event::none},
        {2000, false, silence_event::went_silent},
        {3000, false, silence_event::none},
        {3040, true, silence_event::answers_again},
        {3080, true, silence_event::none}}},
      {"a single missed reply is no silence",
       {{40, true, silence_event::none},
        {1040, false, silence_event::none},
        {1080, true, silence_event::none}}},
      {"silence after answers counts from the last answer",
       {{500, true, silence_event::none},
        {1500, false, silence_event::none},
        {2499, false, silence_event::none},
        {2500, false, silence_event::went_silent}}},
      {"a second silence is reported again",
       {{2000, false, silence_event::went_silent},
        {2100, true, silence_event::answers_again},
        {4100, false, silence_event::went_silent}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<silence_event> expected;
    for (const step &s : c.steps) expected.push_back(s.event);
    EXPECT_EQ(play(c.steps), expected);
  }
}

}  // namespace
