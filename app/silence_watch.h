// SPDX-License-Identifier: MIT
// Notices when the module stops answering for a while, and when it answers
// again, so that the program can say so once each time.
#pragma once

#include <chrono>

enum class silence_event { none, went_silent, answers_again };

class silence_watch {
public:
  using clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds limit{2000};

  explicit silence_watch(clock::time_point start) : last_answer_(start) {}

  // An answer (a sample or any reply line) at now.
  silence_event answered(clock::time_point now) {
    last_answer_ = now;
    if (!silent_) return silence_event::none;
    silent_ = false;
    return silence_event::answers_again;
  }

  // A request that got no reply, seen at now.
  silence_event unanswered(clock::time_point now) {
    if (silent_ || now - last_answer_ < limit) return silence_event::none;
    silent_ = true;
    return silence_event::went_silent;
  }

private:
  clock::time_point last_answer_;
  bool silent_ = false;
};
