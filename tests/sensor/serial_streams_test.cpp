// SPDX-License-Identifier: MIT
// The byte streams besides a local port, each on its own: a recording
// written and read back, a recording played as the module (what waits for
// what, the recorded pace, the end), and a TCP connection to a server of the
// test's own (bytes both ways, a server that closes, one that refuses).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "rs232.h"
#include "serial_recording.h"
#include "serial_replay.h"
#include "serial_tcp.h"

namespace {

std::string temp_path(const char *name) {
  return std::string(std::getenv("TMPDIR") != nullptr ? std::getenv("TMPDIR") : "/tmp") + "/" +
         name + std::to_string(getpid());
}

std::string read_all(const std::string &path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

TEST(recording, chunks_are_written_as_they_pass_and_read_back_unchanged) {
  const std::string path = temp_path("recording_");
  std::remove(path.c_str());
  recording_writer writer;
  char why[300];
  ASSERT_EQ(recording_create(&writer, path.c_str(), why, sizeof why), 0) << why;
  std::string all_bytes;
  for (int b = 0; b < 256; ++b) all_bytes += static_cast<char>(b);
  const struct {
    long long ms;
    char direction;
    std::string bytes;
  } chunks[] = {
      {0, 'w', "0F\r\n"},
      {12, 'r', "0F\r\n"},
      {12, 'r', all_bytes},  // every byte; more than one line's worth
      {4000000, 'w', " \\x"},
  };
  for (const auto &c : chunks) {
    ASSERT_TRUE(recording_write(&writer, c.ms, c.direction,
                                reinterpret_cast<const unsigned char *>(c.bytes.data()),
                                static_cast<int>(c.bytes.size())));
  }
  // Flushed as written: the file holds every chunk before it is closed.
  const std::string text = read_all(path);
  EXPECT_EQ(text.rfind("orlanse_sensor recording 1\n", 0), 0u);
  EXPECT_NE(text.find("\n0 w 0F\\r\\n\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\n4000000 w \\x20\\\\x\n"), std::string::npos) << text;
  // Read back, the lines of one time and direction joined: the bytes as
  // they were written.
  std::vector<std::pair<std::string, std::string>> got;
  long bad_line = 0;
  ASSERT_TRUE(recording_parse(
      text.data(), text.size(),
      [](void *context, const recording_event &event) {
        auto &joined = *static_cast<std::vector<std::pair<std::string, std::string>> *>(context);
        const std::string key = std::to_string(event.ms) + event.direction;
        const std::string bytes(reinterpret_cast<const char *>(event.bytes),
                                static_cast<std::size_t>(event.size));
        if (!joined.empty() && joined.back().first == key) {
          joined.back().second += bytes;
        } else {
          joined.emplace_back(key, bytes);
        }
      },
      &got, &bad_line))
      << bad_line;
  EXPECT_EQ(got, (std::vector<std::pair<std::string, std::string>>{
                     {"0w", "0F\r\n"}, {"12r", "0F\r\n" + all_bytes}, {"4000000w", " \\x"}}));
  // Never replaced.
  recording_writer again;
  EXPECT_EQ(recording_create(&again, path.c_str(), why, sizeof why), -1);
  EXPECT_EQ(std::string(why), path + " exists already; a recording never replaces a file");
  recording_close(&writer, true);
  EXPECT_EQ(read_all(path), text) << "a recording with chunks is kept";
  std::remove(path.c_str());
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
    if (!fast) EXPECT_GE(rs_clock_ms() - written, 300);
    EXPECT_EQ(replay.read(0), "(timeout)") << "the sample waits for its request";
    ASSERT_EQ(replay.write("29"), 0);
    EXPECT_EQ(replay.read(0), "(timeout)") << "the request is not whole yet";
    ASSERT_EQ(replay.write("\r\n"), 0);
    EXPECT_EQ(replay.read(2000), "000100020003FFFF80008001\r\n");
    EXPECT_TRUE(replay_ran_out());
    EXPECT_EQ(replay.read(1000), "(ran out)");
  }
}

TEST(replay, a_missing_file_or_one_that_is_no_recording_is_refused_by_name) {
  const struct {
    const char *text;  // nullptr: no file
    const char *error_end;
  } cases[] = {
      {nullptr, ": No such file or directory"},
      {"", " is not a recording (its first line is not \"orlanse_sensor recording 1\")"},
      {"orlanse_sensor recording 2\n",
       " is not a recording (its first line is not "
       "\"orlanse_sensor recording 1\")"},
      {"orlanse_sensor recording 1\n1 w 29\n0 r 29\n", " is not a recording: line 3 is malformed"},
      {"orlanse_sensor recording 1\n1 w\n", " is not a recording: line 2 is malformed"},
      {"orlanse_sensor recording 1\n1 w 2 9\n", " is not a recording: line 2 is malformed"},
      {"orlanse_sensor recording 1\n1 w \\q\n", " is not a recording: line 2 is malformed"},
      {"orlanse_sensor recording 1\n1 w \\x4\n", " is not a recording: line 2 is malformed"},
      {"orlanse_sensor recording 1\n-1 w 29\n", " is not a recording: line 2 is malformed"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : "(missing)");
    const std::string path = temp_path("bad_replay_");
    std::remove(path.c_str());
    if (c.text != nullptr) std::ofstream(path) << c.text;
    serial_transport transport{};
    char why[300] = "";
    EXPECT_EQ(replay_open(path.c_str(), false, &transport, why, sizeof why), -1);
    const std::string error = why;
    EXPECT_NE(error.find(path), std::string::npos) << error;
    EXPECT_TRUE(
        error.size() >= std::strlen(c.error_end) &&
        error.compare(error.size() - std::strlen(c.error_end), std::string::npos, c.error_end) == 0)
        << error;
    std::remove(path.c_str());
  }
}

// A listening socket on 127.0.0.1 of the test's own.
struct tcp_server {
  tcp_server() {
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        listen(listener, 1) == 0 &&
        getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
      port = ntohs(address.sin_port);
    }
  }
  ~tcp_server() {
    if (client >= 0) close(client);
    close(listener);
  }
  tcp_address address() const {
    tcp_address a{};
    tcp_address_parse(("tcp://127.0.0.1:" + std::to_string(port)).c_str(), &a);
    return a;
  }
  int listener = -1;
  int client = -1;
  int port = 0;
};

TEST(tcp_transport, bytes_pass_both_ways_until_the_server_closes) {
  tcp_server server;
  ASSERT_NE(server.port, 0);
  serial_transport transport{};
  char why[300] = "";
  ASSERT_EQ(tcp_transport_open(server.address(), 2000, &transport, why, sizeof why), 0) << why;
  server.client = accept(server.listener, nullptr, nullptr);
  ASSERT_GE(server.client, 0);

  const unsigned char command[] = {'2', '9', '\r', '\n'};
  ASSERT_EQ(transport.write(transport.context, command, 4, 1000), 0);
  char got[8] = {};
  ASSERT_EQ(recv(server.client, got, sizeof got, 0), 4);
  EXPECT_EQ(std::string(got, 4), "29\r\n");

  unsigned char bytes[64];
  EXPECT_EQ(transport.read(transport.context, bytes, sizeof bytes, 0), rs_timeout);
  EXPECT_EQ(transport.read(transport.context, bytes, sizeof bytes, 30), rs_timeout);
  ASSERT_EQ(send(server.client, "21\r\n\x00\xff", 6, 0), 6);
  int total = 0;
  while (total < 6) {
    const int count = transport.read(transport.context, bytes + total, 64 - total, 1000);
    ASSERT_GT(count, 0);
    total += count;
  }
  EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes), 6), std::string("21\r\n\x00\xff", 6));

  close(server.client);
  server.client = -1;
  EXPECT_EQ(transport.read(transport.context, bytes, sizeof bytes, 1000), rs_gone);
  transport.close(transport.context);
}

TEST(tcp_transport, a_server_that_refuses_is_said_with_the_reason) {
  tcp_server server;
  const tcp_address address = server.address();
  close(server.listener);  // nothing listens there now
  server.listener = socket(AF_INET, SOCK_STREAM, 0);
  serial_transport transport{};
  char why[300] = "";
  EXPECT_EQ(tcp_transport_open(address, 2000, &transport, why, sizeof why), -1);
  EXPECT_EQ(std::string(why), "cannot connect to 127.0.0.1 port " + std::to_string(server.port) +
                                  ": Connection refused");
  tcp_address nowhere{};
  ASSERT_TRUE(tcp_address_parse("tcp://no-such-host.invalid:2000", &nowhere));
  EXPECT_EQ(tcp_transport_open(nowhere, 2000, &transport, why, sizeof why), -1);
  EXPECT_EQ(std::string(why).rfind("cannot find the server no-such-host.invalid: ", 0), 0u) << why;
}

}  // namespace
