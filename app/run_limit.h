// SPDX-License-Identifier: MIT
// How a run ends by itself besides a key: after a number of samples, some
// time after the first sample, or when its source (a replayed recording)
// has run out. main sets it from the options; each sampling loop (the
// lines, the CSV record, the live view) notes its samples and asks it
// before every request, as it asks for a key.
#pragma once

#include <chrono>

struct run_limit {
  using clock = std::chrono::steady_clock;

  long count = 0;                        // end after this many samples; 0: no such end
  long long duration_ms = 0;             // end this long after the first; 0: none
  bool (*source_ended)(void) = nullptr;  // true once the source has no more to give

  long samples = 0;
  clock::time_point first{};

  constexpr run_limit() noexcept {}

  void note_sample() {
    if (samples++ == 0) first = clock::now();
  }

  // Whether a sample that arrives now still belongs to the run: not once
  // the duration is over (it came after the end).
  bool admits_sample() const {
    return duration_ms <= 0 || samples == 0 ||
           clock::now() - first <= std::chrono::milliseconds(duration_ms);
  }

  bool reached() const {
    if (source_ended != nullptr && source_ended()) return true;
    if (count > 0 && samples >= count) return true;
    return duration_ms > 0 && samples > 0 &&
           clock::now() - first >= std::chrono::milliseconds(duration_ms);
  }
};

// The program's one run.
inline run_limit sampling_limit;
