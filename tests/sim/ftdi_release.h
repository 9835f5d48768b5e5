// SPDX-License-Identifier: MIT
// When an FTDI USB-serial chip hands the host the bytes it received from the
// line: it holds them until 62 are buffered (a full USB packet less its two
// status bytes), its latency timer expires, or the event character arrives.
// The timer is restarted at every packet the chip sends, including the
// status-only packets it sends when the timer expires with nothing held, so
// its expiries fall every latency_ms from the last early release.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

struct ftdi_release_options {
  bool enabled = false;      // false: bytes reach the host as they leave the line
  int latency_ms = 16;       // the chip's default latency timer
  std::string latency_file;  // a latency_timer attribute to take the timer from
  int event_char = -1;       // the event character (0..255), or -1 for none
};

class ftdi_release {
public:
  using clock = std::chrono::steady_clock;

  ftdi_release(const ftdi_release_options &options, clock::time_point start);

  // Takes the latency timer anew from the attribute, when there is one (a
  // program may have lowered it); an unreadable or out-of-range value keeps
  // the one before.
  void read_latency();
  int latency_ms() const { return latency_ms_; }

  // A byte came off the line into the chip. True when the chip sends what
  // it holds at once: 62 bytes held, or the byte is the event character.
  bool take(char byte);
  // When the chip sends what it holds if nothing else does first: the first
  // expiry of the timer after `at`.
  clock::time_point next_expiry(clock::time_point at) const;
  // The chip sent what it held at `at`: the timer starts again.
  void sent(clock::time_point at);

private:
  ftdi_release_options options_;
  int latency_ms_;
  clock::time_point timer_start_;
  std::size_t held_ = 0;
};

// Bytes the chip buffers before it must send them.
constexpr std::size_t ftdi_packet_payload = 62;
