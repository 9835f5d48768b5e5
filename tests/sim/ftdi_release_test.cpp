// SPDX-License-Identifier: MIT
// The FTDI release model: when the chip hands the host what it holds.
#include "ftdi_release.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

using clock_type = ftdi_release::clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

const clock_type::time_point t0{};

ftdi_release_options chip(int latency_ms, int event_char = -1) {
  ftdi_release_options options;
  options.enabled = true;
  options.latency_ms = latency_ms;
  options.event_char = event_char;
  return options;
}

struct expiry_case {
  milliseconds last_send;  // when the chip last sent a packet
  microseconds byte_in;    // when the last byte came in
  milliseconds expiry;     // when what it holds goes out
};

TEST(ftdi_release, holds_bytes_until_the_timer_expires_counted_from_the_last_packet) {
  const expiry_case cases[] = {
      {milliseconds(0), microseconds(27083), milliseconds(32)},  // a reply's LF at 27 ms
      {milliseconds(0), microseconds(1), milliseconds(16)},
      {milliseconds(0), microseconds(16000), milliseconds(32)},  // at an expiry: the next
      {milliseconds(5), microseconds(6000), milliseconds(21)},   // restarted by a packet
      {milliseconds(5), microseconds(2000), milliseconds(21)},
  };
  for (const expiry_case &c : cases) {
    ftdi_release release(chip(16), t0);
    release.sent(t0 + c.last_send);
    EXPECT_EQ(release.next_expiry(t0 + c.byte_in), t0 + c.expiry)
        << "last packet " << c.last_send.count() << " ms, byte " << c.byte_in.count() << " us";
  }
}

TEST(ftdi_release, sends_at_once_a_full_packet_or_the_event_character) {
  ftdi_release plain(chip(16), t0);
  const std::string reply = "000100020003FFFF80008001\r\n";
  for (const char byte : reply) EXPECT_FALSE(plain.take(byte)) << "no event character set";
  for (std::size_t i = reply.size(); i + 1 < ftdi_packet_payload; ++i)
    EXPECT_FALSE(plain.take('0'));
  EXPECT_TRUE(plain.take('0')) << "the 62nd byte fills the packet";
  plain.sent(t0);
  EXPECT_FALSE(plain.take('0')) << "a sent packet empties the buffer";

  ftdi_release with_event(chip(16, '\n'), t0);
  bool released_early = false;
  for (std::size_t i = 0; i + 1 < reply.size(); ++i) released_early |= with_event.take(reply[i]);
  EXPECT_FALSE(released_early) << "CR and the fields wait";
  EXPECT_TRUE(with_event.take('\n')) << "LF ends the line and goes out with it";
}

TEST(ftdi_release, takes_the_timer_from_a_latency_attribute_a_program_lowered) {
  char path[] = "/tmp/ftdi_latency_XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  ftdi_release_options options = chip(16);
  options.latency_file = path;
  ftdi_release release(options, t0);
  const struct {
    const char *written;
    int latency_ms;
  } cases[] = {{"16\n", 16}, {"1\n", 1}, {"x", 1}, {"0", 1}, {"300", 1}, {"2", 2}};
  for (const auto &c : cases) {
    std::FILE *file = std::fopen(path, "w");
    ASSERT_NE(file, nullptr);
    std::fputs(c.written, file);
    std::fclose(file);
    release.read_latency();
    EXPECT_EQ(release.latency_ms(), c.latency_ms) << "after writing " << c.written;
  }
  EXPECT_EQ(release.next_expiry(t0 + microseconds(500)), t0 + milliseconds(2));
  unlink(path);
}

}  // namespace
