// SPDX-License-Identifier: MIT
// The POSIX serial layer over a pty: the test plays the module on the
// master side; the layer opens the slave as a COM port. Time bounds are
// generous and only check that deadlines hold, never how fast things are.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "program_run.h"
#include "rs232.h"
#include "rs232_front.h"
#include "rs232_posix.h"

namespace {

using std::chrono::milliseconds;
using steady = std::chrono::steady_clock;

// A pty from the test fixture: the test plays the module on its master.
struct pty {
  int master = -1;
  std::string slave;

  pty() { master = open_pty(slave, true); }
  ~pty() { hang_up(); }
  pty(const pty &) = delete;
  pty &operator=(const pty &) = delete;

  void send(const std::string &bytes) const {
    ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // What the port wrote, waiting up to a second for count bytes.
  std::string receive(std::size_t count) const {
    return read_for(master, count, milliseconds(1000));
  }
  void hang_up() {
    if (master >= 0) close(master);
    master = -1;
  }
};

long long ms_since(steady::time_point start) {
  return std::chrono::duration_cast<milliseconds>(steady::now() - start).count();
}

constexpr int16_t port = 7;

class rs232_pty_test : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(line.slave.empty());
    ASSERT_EQ(rs_open_node(port, line.slave.c_str(), 9600), 0) << rs_open_failure();
  }
  void TearDown() override { rs_close(port); }

  pty line;
};

TEST(serial_settings_test, are_raw_8n1_9600_without_flow_control_whatever_the_base) {
  termios cooked{};
  cooked.c_iflag = ICRNL | IXON | IXOFF | IXANY | ISTRIP | INLCR | IGNCR | BRKINT | PARMRK | INPCK;
  cooked.c_oflag = OPOST | ONLCR | OCRNL;
  cooked.c_lflag = ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN;
  cooked.c_cflag = CS7 | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL;
  cfsetispeed(&cooked, B38400);
  cfsetospeed(&cooked, B38400);
  termios everything;
  std::memset(&everything, 0xff, sizeof everything);
  const termios bases[] = {termios{}, cooked, everything};

  for (const termios &base : bases) {
    const termios s = serial_settings(base, B9600);
    EXPECT_EQ(cfgetispeed(&s), static_cast<speed_t>(B9600));
    EXPECT_EQ(cfgetospeed(&s), static_cast<speed_t>(B9600));
    EXPECT_EQ(s.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(s.c_cflag & (PARENB | PARODD | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(s.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(s.c_iflag &
                  (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK | INPCK),
              0u);
    EXPECT_EQ(s.c_oflag & (OPOST | ONLCR | OCRNL), 0u);
    EXPECT_EQ(s.c_lflag & (ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(s.c_cc[VMIN], 1);
    EXPECT_EQ(s.c_cc[VTIME], 0);
  }
  EXPECT_EQ(serial_speed(9600), static_cast<speed_t>(B9600));
  EXPECT_EQ(serial_speed(12345), static_cast<speed_t>(B0));
}

TEST(rs232_pty_settings_test, the_port_is_raw_9600_while_open_and_restored_at_close) {
  pty line;
  termios before;
  ASSERT_EQ(tcgetattr(line.master, &before), 0);
  ASSERT_NE(before.c_lflag & ICANON, 0u) << "a new pty starts cooked";

  ASSERT_EQ(rs_open_node(port, line.slave.c_str(), 9600), 0) << rs_open_failure();
  termios open;
  ASSERT_EQ(tcgetattr(line.master, &open), 0);
  EXPECT_EQ(cfgetospeed(&open), static_cast<speed_t>(B9600));
  EXPECT_EQ(open.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(open.c_oflag & OPOST, 0u);
  EXPECT_EQ(open.c_iflag & (ICRNL | IXON), 0u);
  EXPECT_EQ(std::string(rs_open_failure()), "");

  ASSERT_EQ(rs_close(port), 0);
  termios after;
  ASSERT_EQ(tcgetattr(line.master, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
  EXPECT_EQ(rs_close(port), -1) << "closed already";
}

TEST(rs232_pty_settings_test, a_program_that_exits_with_the_port_open_puts_it_back) {
  pty line;
  termios before;
  ASSERT_EQ(tcgetattr(line.master, &before), 0);
  const pid_t child = fork();
  if (child == 0) {
    if (rs_open_node(port, line.slave.c_str(), 9600) != 0) _exit(3);
    std::exit(0);  // no rs_close
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  termios after;
  ASSERT_EQ(tcgetattr(line.master, &after), 0);
  EXPECT_EQ(after.c_lflag, before.c_lflag);
  EXPECT_EQ(after.c_iflag, before.c_iflag);
  EXPECT_EQ(after.c_oflag, before.c_oflag);
}

TEST_F(rs232_pty_test, lines_end_at_cr_or_lf_and_unread_bytes_wait_for_the_next_call) {
  struct step {
    bool line;  // rs_gets, else rs_getch
    int result;
    std::string text;
  };
  struct line_case {
    const char *name;
    std::string input;
    int size;
    std::vector<step> steps;
  };
  const std::string long_line(600, '7');
  const line_case cases[] = {
      {"CR LF leaves the LF for getch", "ABC\r\n", 84, {{true, 3, "ABC"}, {false, '\n', ""}}},
      {"a bare LF ends a line", "ABC\nD", 84, {{true, 3, "ABC"}, {false, 'D', ""}}},
      {"an empty line", "\r\n", 84, {{true, 0, ""}, {false, '\n', ""}}},
      {"two replies in one chunk",
       "L1\r\nL2\r\n",
       84,
       {{true, 2, "L1"}, {false, '\n', ""}, {true, 2, "L2"}, {false, '\n', ""}}},
      {"an over-long line is dropped to its end",
       std::string(100, 'x') + "\r\nNEXT\r\n",
       10,
       {{true, 9, "xxxxxxxxx"}, {false, '\n', ""}, {true, 4, "NEXT"}}},
      {"over-long across several reads",
       long_line + "\r\nOK\r\n",
       84,
       {{true, 83, long_line.substr(0, 83)}, {false, '\n', ""}, {true, 2, "OK"}}},
      {"a one-byte buffer holds only the NUL", "ABC\r\n", 1, {{true, 0, ""}, {false, '\n', ""}}},
      {"bytes pass untranslated, all 8 bits",
       "\x01\xff\x7f\x03\r\n",
       84,
       {{true, 4, "\x01\xff\x7f\x03"}}},
  };
  for (const line_case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(rs_discard_input(port), 0);
    line.send(c.input);
    for (const step &s : c.steps) {
      if (s.line) {
        std::vector<char> buf(static_cast<std::size_t>(c.size) + 8, '#');
        EXPECT_EQ(rs_gets(port, buf.data(), c.size), s.result);
        EXPECT_EQ(std::string(buf.data()), s.text);
        EXPECT_EQ(buf[static_cast<std::size_t>(c.size)], '#') << "written past the buffer";
      } else {
        EXPECT_EQ(rs_getch(port), s.result);
      }
    }
  }
}

TEST_F(rs232_pty_test, reads_time_out_on_their_own_deadline) {
  struct timeout_case {
    const char *name;
    std::string sent_first;
    bool drip;  // a byte every 100 ms, for 3 s
    std::string kept;
  };
  const timeout_case cases[] = {
      {"nothing arrives", "", false, ""},
      {"a line without its end", "AB", false, "AB"},
      {"a slow drip does not stretch the deadline", "", true, "xxx"},
  };
  for (const timeout_case &c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(rs_discard_input(port), 0);
    line.send(c.sent_first);
    std::atomic<bool> dripping{c.drip};
    std::thread dripper([&] {
      for (int i = 0; i < 30 && dripping; ++i) {
        line.send("x");
        std::this_thread::sleep_for(milliseconds(100));
      }
    });
    char buf[84];
    const auto start = steady::now();
    const int result = rs_gets(port, buf, sizeof buf);
    const long long elapsed = ms_since(start);
    dripping = false;
    dripper.join();
    EXPECT_EQ(result, rs_timeout);
    EXPECT_GE(elapsed, 900);
    EXPECT_LT(elapsed, 2000) << "the deadline covers the whole line";
    EXPECT_EQ(std::string(buf).substr(0, c.kept.size()), c.kept);
  }
  ASSERT_EQ(rs_discard_input(port), 0);
  const auto start = steady::now();
  EXPECT_EQ(rs_getch(port), rs_timeout);
  EXPECT_GE(ms_since(start), 900);
}

TEST_F(rs232_pty_test, a_hang_up_is_told_apart_from_a_timeout) {
  line.hang_up();
  char buf[84];
  const auto start = steady::now();
  EXPECT_EQ(rs_gets(port, buf, sizeof buf), rs_gone);
  EXPECT_EQ(rs_getch(port), rs_gone);
  EXPECT_EQ(rs_puts(port, "29\r\n"), rs_gone);
  EXPECT_LT(ms_since(start), 900) << "a hang-up does not wait for the deadline";
  EXPECT_EQ(rs_close(port), 0);
}

TEST_F(rs232_pty_test, puts_writes_the_whole_text_untranslated) {
  ASSERT_EQ(rs_puts(port, "29\r\n"), 0);
  EXPECT_EQ(line.receive(4), "29\r\n");

  // Far more than the pty holds: the layer waits for room and goes on.
  std::string big(300000, 'a');
  for (std::size_t i = 0; i < big.size(); i += 97) big[i] = static_cast<char>('A' + i % 26);
  std::string got;
  std::thread reader([&] {
    const auto deadline = steady::now() + milliseconds(20000);
    while (got.size() < big.size() && steady::now() < deadline)
      got += line.receive(big.size() - got.size());
  });
  EXPECT_EQ(rs_puts(port, big.c_str()), 0);
  reader.join();
  EXPECT_TRUE(got == big) << got.size() << " bytes of " << big.size();
}

TEST_F(rs232_pty_test, discard_drops_what_arrived_and_was_not_read) {
  line.send("OLD\r\nSTALE\r\n");
  EXPECT_EQ(rs_getch(port), 'O');  // the rest now waits in the layer's buffer
  line.send("LATE\r\n");
  EXPECT_EQ(rs_discard_input(port), 0);
  line.send("NEW\r\n");
  char buf[84];
  EXPECT_EQ(rs_gets(port, buf, sizeof buf), 3);
  EXPECT_STREQ(buf, "NEW");
}

TEST(rs232_ports_test, several_ports_are_open_at_once) {
  pty a, b;
  ASSERT_EQ(rs_open_node(1, a.slave.c_str(), 9600), 0) << rs_open_failure();
  ASSERT_EQ(rs_open_node(2, b.slave.c_str(), 9600), 0) << rs_open_failure();
  EXPECT_EQ(rs_open_node(2, a.slave.c_str(), 9600), -1);
  EXPECT_STREQ(rs_open_failure(), "COM2 is already open");
  a.send("from a\r\n");
  b.send("from b\r\n");
  char buf[84];
  EXPECT_EQ(rs_gets(2, buf, sizeof buf), 6);
  EXPECT_STREQ(buf, "from b");
  EXPECT_EQ(rs_gets(1, buf, sizeof buf), 6);
  EXPECT_STREQ(buf, "from a");
  EXPECT_EQ(rs_close(1), 0);
  EXPECT_EQ(rs_close(2), 0);

  EXPECT_EQ(rs_gets(1, buf, sizeof buf), rs_gone) << "not open";
  EXPECT_EQ(rs_getch(1), rs_gone);
  EXPECT_EQ(rs_puts(1, "x"), rs_gone);
  EXPECT_EQ(rs_discard_input(1), rs_gone);
}

TEST(rs232_open_test, failures_name_the_port_and_the_reason) {
  struct failure_case {
    const char *name;
    const char *node;  // null: through the COM numbering
    int16_t port;
    int32_t baud;
    std::vector<std::string> said;
  };
  const failure_case cases[] = {
      {"no such node",
       "/nonexistent/ttyUSB9",
       3,
       9600,
       {"/nonexistent/ttyUSB9", "COM3", "No such file or directory"}},
      {"not a serial port", "/dev/null", 3, 9600, {"/dev/null", "not a serial port"}},
      {"unsupported baud rate", "/dev/null", 3, 12345, {"12345 baud is not supported"}},
      {"no such COM number", nullptr, 99, 9600, {"COM99: no such serial port"}},
  };
  for (const failure_case &c : cases) {
    SCOPED_TRACE(c.name);
    const int16_t result = c.node ? rs_open_node(c.port, c.node, c.baud) : rs_open(c.port, c.baud);
    EXPECT_EQ(result, -1);
    const std::string said = rs_open_failure();
    for (const std::string &part : c.said) EXPECT_NE(said.find(part), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), std::string::npos) << "one line";
    EXPECT_EQ(rs_close(c.port), -1) << "nothing stays open";
  }
}

// Runs check in a child process as the user nobody (when root; as the
// current user otherwise) and returns its exit status.
int as_unprivileged_user(int (*check)(const char *node), const char *node) {
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
      _exit(90);
    _exit(check(node));
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return 91;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 92;
}

TEST(rs232_open_test, the_open_port_is_exclusive) {
  pty line;
  ASSERT_EQ(rs_open_node(port, line.slave.c_str(), 9600), 0) << rs_open_failure();
  ASSERT_EQ(chmod(line.slave.c_str(), 0666), 0);
  const int status = as_unprivileged_user(
      [](const char *node) {
        const int again = open(node, O_RDWR | O_NOCTTY | O_NONBLOCK);
        return again < 0 && errno == EBUSY ? 0 : 1;
      },
      line.slave.c_str());
  EXPECT_EQ(status, 0) << "a second open must fail with EBUSY";
  rs_close(port);
}

TEST(rs232_open_test, a_node_the_user_may_not_open_names_the_group_to_join) {
  pty line;
  // Nobody but the node's group may open it.
  ASSERT_EQ(chmod(line.slave.c_str(), 0060), 0);
  struct stat st;
  ASSERT_EQ(stat(line.slave.c_str(), &st), 0);
  const group *owner = getgrgid(st.st_gid);
  ASSERT_NE(owner, nullptr);
  static std::string expected;
  expected = "cannot open " + line.slave +
             " (COM3): Permission denied; add your user to the group " + owner->gr_name;
  const int status = as_unprivileged_user(
      [](const char *node) {
        if (rs_open_node(3, node, 9600) != -1) return 1;
        if (expected == rs_open_failure()) return 0;
        std::fprintf(stderr, "said: %s\n", rs_open_failure());
        return 2;
      },
      line.slave.c_str());
  EXPECT_EQ(status, 0) << "expected the failure: " << expected;
}

// A byte stream scripted by the test, in place of a port: what it delivers
// (in reads of at most three bytes), what was written, how often it closed.
struct scripted_stream {
  std::string input;
  std::string written;
  int closes = 0;
  int write_result = 0;

  serial_transport transport() {
    return {[](void *c, unsigned char *bytes, int size, int) {
              std::string &input = static_cast<scripted_stream *>(c)->input;
              if (input.empty()) return rs_timeout;
              const int count = std::min({size, 3, static_cast<int>(input.size())});
              std::memcpy(bytes, input.data(), static_cast<std::size_t>(count));
              input.erase(0, static_cast<std::size_t>(count));
              return count;
            },
            [](void *c, const unsigned char *bytes, int size, int) {
              auto &stream = *static_cast<scripted_stream *>(c);
              if (stream.write_result == 0)
                stream.written.append(reinterpret_cast<const char *>(bytes),
                                      static_cast<std::size_t>(size));
              return stream.write_result;
            },
            [](void *c) { ++static_cast<scripted_stream *>(c)->closes; }, this};
  }
};

// What a tap saw: one entry per call, direction and bytes.
struct tap_log {
  std::vector<std::string> entries;
  long long last_ms = -1;
  bool times_in_order = true;

  serial_tap tap() {
    return {[](void *c, char direction, long long ms, const unsigned char *data, int size) {
              auto &log = *static_cast<tap_log *>(c);
              log.times_in_order = log.times_in_order && ms >= log.last_ms && ms >= 0;
              log.last_ms = ms;
              log.entries.push_back(std::string(1, direction) + ":" +
                                    std::string(reinterpret_cast<const char *>(data),
                                                static_cast<std::size_t>(size)));
            },
            this};
  }
};

TEST(rs232_front_test, a_byte_stream_takes_a_port_numbers_place) {
  scripted_stream stream;
  stream.input = "0F\r\nREST";
  ASSERT_EQ(rs_open_transport(11, stream.transport()), 0);
  EXPECT_TRUE(serial_port_is_open(11));
  scripted_stream other;
  EXPECT_EQ(rs_open_transport(11, other.transport()), -1);
  EXPECT_STREQ(rs_open_failure(), "COM11 is already open");

  EXPECT_EQ(rs_puts(11, "29\r\n"), 0);
  EXPECT_EQ(stream.written, "29\r\n");
  char line[84];
  EXPECT_EQ(rs_gets(11, line, sizeof line), 2);
  EXPECT_STREQ(line, "0F");
  EXPECT_EQ(rs_getch(11), '\n');
  unsigned char bytes[16];
  ASSERT_EQ(rs_read(11, bytes, sizeof bytes, 0), 2) << "what the line reader holds first";
  EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes), 2), "RE");
  ASSERT_EQ(rs_read(11, bytes, sizeof bytes, 0), 2) << "then what the stream hands out";
  EXPECT_EQ(std::string(reinterpret_cast<char *>(bytes), 2), "ST");
  EXPECT_EQ(rs_read(11, bytes, sizeof bytes, 0), rs_timeout);

  stream.write_result = rs_timeout;
  EXPECT_EQ(rs_puts(11, "0F\r\n"), rs_timeout) << "the stream's outcome is the call's";
  EXPECT_EQ(rs_close(11), 0);
  EXPECT_EQ(stream.closes, 1);
  EXPECT_EQ(rs_close(11), -1);
  EXPECT_EQ(stream.closes, 1) << "closed once";
  EXPECT_EQ(rs_gets(11, line, sizeof line), rs_gone);
  EXPECT_EQ(other.closes, 0) << "a stream that was refused is the caller's";
}

TEST(rs232_front_test, the_tap_sees_every_byte_both_ways_in_order_until_it_is_taken_off) {
  scripted_stream stream;
  stream.input = "0F\r\nSTALE\r\n";
  ASSERT_EQ(rs_open_transport(12, stream.transport()), 0);
  tap_log log;
  rs_set_tap(12, log.tap());
  ASSERT_EQ(rs_puts(12, "29\r\n"), 0);
  char line[84];
  ASSERT_EQ(rs_gets(12, line, sizeof line), 2);
  // Discarding a stream without a flush of its own reads and drops what it
  // has: those bytes were read from the port too.
  ASSERT_EQ(rs_discard_input(12), 0);
  stream.input = "NEW\r";
  ASSERT_EQ(rs_gets(12, line, sizeof line), 3);
  EXPECT_STREQ(line, "NEW");
  rs_set_tap(12, serial_tap{nullptr, nullptr});
  stream.input = "UNSEEN\r";
  ASSERT_EQ(rs_gets(12, line, sizeof line), 6);
  ASSERT_EQ(rs_puts(12, "X"), 0);
  rs_close(12);

  const std::vector<std::string> expected = {"w:29\r\n", "r:0F\r", "r:\nST", "r:ALE",
                                             "r:\r\n",   "r:NEW",  "r:\r"};
  EXPECT_EQ(log.entries, expected);
  EXPECT_TRUE(log.times_in_order);
}

// A pipe as the wake source: the test writes to it to "press a key".
class rs232_wake_test : public rs232_pty_test {
protected:
  void SetUp() override {
    rs232_pty_test::SetUp();
    ASSERT_EQ(pipe2(wake_, O_NONBLOCK), 0);
    rs_set_wake(wake_[0], nullptr);
  }
  void TearDown() override {
    rs_set_wake(-1, nullptr);
    close(wake_[0]);
    close(wake_[1]);
    rs232_pty_test::TearDown();
  }
  void wake_after(int ms) {
    presser_ = std::thread([this, ms] {
      std::this_thread::sleep_for(milliseconds(ms));
      ASSERT_EQ(write(wake_[1], "k", 1), 1);
    });
  }
  void settle() {
    if (presser_.joinable()) presser_.join();
    char key;
    while (read(wake_[0], &key, 1) == 1) {
    }
  }

  int wake_[2] = {-1, -1};
  std::thread presser_;
};

TEST_F(rs232_wake_test, every_wait_and_write_ends_at_once_when_the_wake_source_turns_ready) {
  struct wait_case {
    const char *name;
    int (*wait)();
  };
  const wait_case cases[] = {
      {"rs_gets",
       [] {
         char buf[84];
         return rs_gets_within(port, buf, sizeof buf, 5000);
       }},
      {"rs_getch", [] { return rs_getch_within(port, 5000); }},
      {"rs_read",
       [] {
         unsigned char bytes[8];
         return rs_read(port, bytes, sizeof bytes, 5000);
       }},
      {"rs_sleep", [] { return rs_sleep(5000); }},
      {"rs_pause",
       [] {
         rs_pause(5000);
         return rs_woken;
       }},
      {"rs_puts of far more than the pty holds",
       [] {
         static const std::string big(300000, 'a');
         return rs_puts(port, big.c_str());
       }},
  };
  for (const wait_case &c : cases) {
    SCOPED_TRACE(c.name);
    wake_after(100);
    const auto start = steady::now();
    EXPECT_EQ(c.wait(), rs_woken);
    EXPECT_LT(ms_since(start), 2500) << "well before the wait's own end";
    settle();
  }
}

TEST_F(rs232_wake_test, bytes_that_have_arrived_come_before_the_wake) {
  ASSERT_EQ(write(wake_[1], "k", 1), 1);
  line.send("0F\r\n");
  std::this_thread::sleep_for(milliseconds(50));
  char buf[84];
  EXPECT_EQ(rs_gets(port, buf, sizeof buf), 2);
  EXPECT_EQ(rs_getch(port), '\n');
  EXPECT_EQ(rs_getch(port), rs_woken) << "then the wait for more sees the source";
  EXPECT_EQ(rs_sleep(10), rs_woken);
  EXPECT_EQ(rs_sleep(0), 0) << "no pause, no wait";
  settle();
  EXPECT_EQ(rs_sleep(20), 0);
}

}  // namespace
