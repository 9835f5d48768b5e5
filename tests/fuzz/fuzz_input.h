// SPDX-License-Identifier: MIT
// What every fuzz target shares: a reader that turns the fuzzer's bytes into
// small numbers and texts, and a check that aborts (so libFuzzer and the
// replay program both see a crash) with the failed condition on stderr.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

[[noreturn]] inline void fuzz_fail(const char *what, const char *file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

#define FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0) : fuzz_fail(#condition, __FILE__, __LINE__))

// Reads the input front to back; past its end every byte reads as 0, so any
// input, even an empty one, is a complete script.
class fuzz_input {
public:
  fuzz_input(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ == size_; }

  int byte() { return at_ < size_ ? data_[at_++] : 0; }

  // Up to count bytes, fewer when the input ends first.
  std::string bytes(std::size_t count) {
    const std::size_t taken = count < size_ - at_ ? count : size_ - at_;
    std::string out(reinterpret_cast<const char *>(data_ + at_), taken);
    at_ += taken;
    return out;
  }

  // A text of any bytes, NUL included. A head byte below 0xF0 is the length
  // of the literal bytes that follow. From 0xF0 up it is a repeat: a count
  // byte and a length byte, then a chunk taken count + 1 times, so that a
  // few input bytes make texts longer than every buffer.
  std::string text() {
    const int head = byte();
    if (head < repeat_head) return bytes(static_cast<std::size_t>(head));
    const int count = byte() + 1;
    const std::string chunk = bytes(static_cast<std::size_t>(byte()));
    std::string out;
    for (int k = 0; k < count; ++k) out += chunk;
    return out;
  }

  static constexpr int repeat_head = 0xF0;

private:
  const uint8_t *data_;
  std::size_t size_;
  std::size_t at_ = 0;
};
