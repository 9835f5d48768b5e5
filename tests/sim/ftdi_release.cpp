// SPDX-License-Identifier: MIT
#include "ftdi_release.h"

#include <fstream>

ftdi_release::ftdi_release(const ftdi_release_options &options, clock::time_point start)
    : options_(options), latency_ms_(options.latency_ms), timer_start_(start) {}

void ftdi_release::read_latency() {
  if (options_.latency_file.empty()) return;
  std::ifstream file(options_.latency_file);
  int value = 0;
  if (file >> value && value >= 1 && value <= 255) latency_ms_ = value;
}

bool ftdi_release::take(char byte) {
  ++held_;
  const bool event = options_.event_char >= 0 &&
                     static_cast<unsigned char>(byte) == static_cast<unsigned>(options_.event_char);
  return event || held_ >= ftdi_packet_payload;
}

ftdi_release::clock::time_point ftdi_release::next_expiry(clock::time_point at) const {
  const clock::duration period = std::chrono::milliseconds(latency_ms_);
  if (at < timer_start_) return timer_start_ + period;
  const auto periods = (at - timer_start_) / period + 1;
  return timer_start_ + periods * period;
}

void ftdi_release::sent(clock::time_point at) {
  held_ = 0;
  timer_start_ = at;
}
