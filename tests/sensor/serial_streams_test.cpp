// SPDX-License-Identifier: MIT
// A recording played as the module, on its own: what each reply waits for,
// the recorded pace, and the end. (The reader is the fuzz target
// fuzz_recording; recording, refusals and the TCP transport run end to end
// in tests/app/runs_test.cpp.)
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "rs232.h"
#include "serial_replay.h"

namespace {

std::string temp_path(const char *name) {
  return std::string(std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp") + "/" +
         name + std::to_string(getpid());
}

// A replay of a recording written here.
struct replay_file {
  explicit replay_file(const std::string &text, bool fast) : path(temp_path("replay_")) {
    std::ofstream(path) << text;
    char why[300] = "";
    opened = replay_open(path.c_str(), fast, &transport, why, sizeof why) == 0;
    error = why;
  }
  ~replay_file() {
    if (opened) transport.close(transport.context);
    std::remove(path.c_str());
  }
  int write(const std::string &bytes) {
    return transport.write(transport.context, reinterpret_cast<const unsigned char *>(bytes.data()),
                           static_cast<int>(bytes.size()), 1000);
  }
  // What one read hands out within wait_ms, or the outcome as text.
  std::string read(int wait_ms) {
    unsigned char bytes[64];
    const int count = transport.read(transport.context, bytes, sizeof bytes, wait_ms);
    if (count == rs_timeout) return "(timeout)";
    if (count == rs_woken) return "(ran out)";
    if (count <= 0) return "(failed)";
    return std::string(reinterpret_cast<char *>(bytes), static_cast<std::size_t>(count));
  }
  std::string path;
  serial_transport transport{};
  bool opened = false;
  std::string error;
};

const char two_exchanges[] =
    "orlanse_sensor recording 1\n"
    "0 w 0F\\r\\n\n"
    "300 r 0F\\r\\n\n"
    "400 w 29\\r\n"
    "400 w \\n\n"
    "410 r 000100020003FFFF80008001\\r\\n\n";

TEST(replay, replies_wait_for_the_writes_before_them_and_end_the_run_when_out) {
  for (const bool fast : {false, true}) {
    SCOPED_TRACE(fast ? "fast" : "recorded pace");
    replay_file replay(two_exchanges, fast);
    ASSERT_TRUE(replay.opened) << replay.error;
    EXPECT_FALSE(replay_ran_out());
    EXPECT_EQ(replay.read(0), "(timeout)") << "nothing before the program writes";
    EXPECT_EQ(replay.read(50), "(timeout)");
    ASSERT_EQ(replay.write("0F\r\n"), 0);
    const long long written = rs_clock_ms();
    EXPECT_EQ(replay.read(2000), "0F\r\n");
    // At the recorded pace the reply comes 300 ms after the write, never
    // sooner (how much later depends on the machine: not asserted).
    if (!fast) {
      EXPECT_GE(rs_clock_ms() - written, 300);
    }
    EXPECT_EQ(replay.read(0), "(timeout)") << "the sample waits for its request";
    ASSERT_EQ(replay.write("29"), 0);
    EXPECT_EQ(replay.read(0), "(timeout)") << "the request is not whole yet";
    ASSERT_EQ(replay.write("\r\n"), 0);
    EXPECT_EQ(replay.read(2000), "000100020003FFFF80008001\r\n");
    EXPECT_TRUE(replay_ran_out());
    EXPECT_EQ(replay.read(1000), "(ran out)");
  }
}

}  // namespace
