// SPDX-License-Identifier: MIT
// The serial layer and the sensor link on a fake FTDI adapter under umockdev:
// the port is found through the real directory, opened by its COM number,
// and the module is played by the simulator on the adapter's pty master.
#include <gtest/gtest.h>

#include <linux/serial.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "fixture.h"
#include "port_device.h"
#include "rs232.h"
#include "rs232_linux.h"
#include "sensor_link.h"

namespace {

using std::chrono::milliseconds;

// COM1 is the on-board ttyS0, so the adapter's ttyUSB0 is COM2.
constexpr int16_t adapter_com = 2;
const char adapter_node[] = "/dev/ttyUSB0";

long long ms_between(sim_clock::time_point from, sim_clock::time_point to) {
  return std::chrono::duration_cast<milliseconds>(to - from).count();
}

class ftdi_testbed_test : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(bed_.ok()) << bed_.error();
    // What a real usb-serial port has besides: the tty's device link and
    // the FTDI latency timer.
    const std::string port = ftdi_port_syspath(0);
    bed_.set_attribute_link(port + "/tty/ttyUSB0", "device", "../../../ttyUSB0");
    bed_.set_attribute(port, "latency_timer", "16");
    latency_timer_ = bed_.root() + port + "/latency_timer";
    master_ = bed_.master(adapter_node);
    ASSERT_GE(master_, 0);
  }
  void TearDown() override {
    sensor_close();
    rs_close(adapter_com);
  }

  // Puts the port in a terminal's cooked mode, so that a missing raw set-up
  // shows.
  void make_cooked() {
    termios settings;
    ASSERT_EQ(tcgetattr(master_, &settings), 0);
    settings.c_iflag |= ICRNL | IXON;
    settings.c_oflag |= OPOST | ONLCR;
    settings.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    cfsetispeed(&settings, B38400);
    cfsetospeed(&settings, B38400);
    ASSERT_EQ(tcsetattr(master_, TCSANOW, &settings), 0);
  }

  std::string latency_timer() const {
    char text[16] = "";
    if (std::FILE *file = std::fopen(latency_timer_.c_str(), "r")) {
      if (std::fgets(text, sizeof text, file) == nullptr) text[0] = '\0';
      std::fclose(file);
    }
    return text;
  }

  std::string read_master(std::size_t count) const {
    return read_for(master_, count, milliseconds(1000));
  }

  test_bed bed_{pnp_port_record("ttyS0", "00:00", "PNP0501", true) + ftdi_adapter_record(0)};
  int master_ = -1;
  std::string latency_timer_;
};

TEST_F(ftdi_testbed_test, the_adapter_opens_by_its_com_number_raw_at_9600_with_low_latency) {
  ASSERT_EQ(port_device_scan(), 2);
  ASSERT_EQ(port_device_pickup_by_type(2), 1);
  ASSERT_EQ(get_port_number(0), adapter_com);
  make_cooked();
  ASSERT_EQ(latency_timer(), "16");

  ASSERT_EQ(rs_open(adapter_com, 9600), 0) << rs_open_failure();
  termios seen;
  ASSERT_EQ(tcgetattr(master_, &seen), 0);
  EXPECT_EQ(cfgetospeed(&seen), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetispeed(&seen), static_cast<speed_t>(B9600));
  EXPECT_EQ(seen.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(seen.c_oflag & OPOST, 0u);
  EXPECT_EQ(seen.c_iflag & (ICRNL | IXON | IXOFF), 0u);
  EXPECT_EQ(seen.c_cflag & (CRTSCTS | CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(latency_timer(), "1");

  // Bytes pass untranslated both ways.
  ASSERT_EQ(rs_puts(adapter_com, "0F\r\n"), 0);
  EXPECT_EQ(read_master(4), "0F\r\n");
  ASSERT_EQ(write(master_, "0F\r\n", 4), 4);
  char reply[80];
  EXPECT_EQ(rs_gets(adapter_com, reply, sizeof reply), 2);
  EXPECT_STREQ(reply, "0F");
  EXPECT_EQ(rs_getch(adapter_com), '\n');

  ASSERT_EQ(rs_close(adapter_com), 0);
  ASSERT_EQ(tcgetattr(master_, &seen), 0);
  EXPECT_NE(seen.c_lflag & ICANON, 0u) << "the port's settings are put back";
}

TEST_F(ftdi_testbed_test, a_hang_up_is_told_apart_from_silence) {
  sim_options options;
  options.hang_up_after_samples = 1;
  sensor_sim module(master_, options);
  ASSERT_EQ(sensor_open(), 0) << rs_open_failure();
  int32_t v[6];
  EXPECT_EQ(sensor_read(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5]), sensor_sample_read);
  const auto start = sim_clock::now();
  EXPECT_EQ(sensor_read(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5]), sensor_port_gone);
  EXPECT_LT(ms_between(start, sim_clock::now()), 900) << "a hang-up does not wait for a deadline";
  EXPECT_EQ(module.log().samples_sent(), 1);
}

// Nothing of a reply is left to come when the port is put back to cooked
// mode: its echo would reach the module as one more command.
TEST_F(ftdi_testbed_test, the_link_reads_the_simulated_module) {
  struct framing_row {
    const char *name;
    const char *line_end;
    int late_byte;  // -1: none
    int late_ms;
  };
  const framing_row rows[] = {
      {"CR LF", "\r\n", -1, 0},
      {"CR LF, the LF 25 ms late", "\r", '\n', 25},
  };
  for (const framing_row &row : rows) {
    SCOPED_TRACE(row.name);
    sim_options options;
    options.pace = true;
    options.line_end = row.line_end;
    options.trailer = row.late_byte;
    options.trailer_delay_ms = row.late_ms;
    options.samples = {sim_raw("000100020003FFFF80008001"), sim_raw("7FFF7FFF7FFF000000000000")};
    sensor_sim module(master_, options);
    make_cooked();

    ASSERT_EQ(sensor_open(), 0) << rs_open_failure();
    EXPECT_EQ(sensor_port, adapter_com);
    int32_t v[6];
    ASSERT_EQ(sensor_read(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5]), sensor_sample_read);
    EXPECT_EQ(std::vector<int32_t>(v, v + 6),
              (std::vector<int32_t>{2, 1, 3, 327680, -10, -327670}));
    ASSERT_EQ(sensor_read(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5]), sensor_sample_read);
    EXPECT_EQ(std::vector<int32_t>(v, v + 6), (std::vector<int32_t>{32767, 32767, 32767, 0, 0, 0}));
    sensor_close();
    std::this_thread::sleep_for(milliseconds(60));  // for an echo to come back
    module.stop();

    const std::vector<sim_command> commands = module.log().commands();
    std::vector<std::string> texts;
    for (const sim_command &c : commands) texts.push_back(c.text);
    std::vector<std::string> expected = opening_commands();
    for (int sample = 0; sample < 2; ++sample) {
      expected.insert(expected.end(), {sample_command, follow_up_command});
    }
    ASSERT_EQ(texts, expected);
    EXPECT_GE(ms_between(commands[0].received, commands[1].received), 250);
    EXPECT_GE(ms_between(commands[4].received, commands[5].received), 100);
  }
}

TEST_F(ftdi_testbed_test, a_silent_module_costs_about_a_second_per_request) {
  sim_options options;
  options.pace = true;
  options.samples = {sim_raw("000100020003FFFF80008001", true, 5000)};  // answers far too late
  sensor_sim module(master_, options);
  ASSERT_EQ(sensor_open(), 0) << rs_open_failure();

  int32_t v[6] = {7, 7, 7, 7, 7, 7};
  const auto start = sim_clock::now();
  EXPECT_EQ(sensor_read(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5]), sensor_no_reply);
  const long long elapsed = ms_between(start, sim_clock::now());
  EXPECT_GE(elapsed, 900);
  EXPECT_LT(elapsed, 3000) << "a silent module must not hold the caller";
  EXPECT_EQ(std::vector<int32_t>(v, v + 6), std::vector<int32_t>(6, 7));
}

TEST_F(ftdi_testbed_test, after_a_late_reply_the_link_gets_back_in_step) {
  // Sample i carries i in its first field (delivered as the second
  // geomagnetic value); the first reply comes half a second after the
  // link has given up on it.
  sim_options options;
  options.pace = true;
  for (uint16_t i = 1; i <= 30; ++i) options.samples.push_back(sim_fields(i, 0, 0, 0, 0, 0));
  options.samples[0].delay_ms = 1500;
  sensor_sim module(master_, options);
  ASSERT_EQ(sensor_open(), 0) << rs_open_failure();

  int32_t v[6];
  EXPECT_EQ(sensor_read(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5]), sensor_no_reply);
  int32_t previous = -1;
  bool in_step = false;
  for (int request = 0; request < 10 && !in_step; ++request) {
    const sensor_outcome outcome = sensor_read(&v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    ASSERT_NE(outcome, sensor_port_gone);
    const int32_t current = outcome == sensor_sample_read ? v[1] : -1;
    in_step = previous > 0 && current == previous + 1;
    previous = current;
  }
  EXPECT_TRUE(in_step) << "two requests in a row must read the replies to their own commands";
}

// The driver's flags as the fake calls keep them (an emulated tty takes no
// TIOCGSERIAL): absent, or a value the layer reads and sets.
bool flags_available = false;
int driver_flags = 0;

int fake_get_flags(int, int *flags) {
  if (!flags_available) return errno = ENOTTY, -1;
  *flags = driver_flags;
  return 0;
}

int fake_set_flags(int, int flags) {
  if (!flags_available) return errno = ENOTTY, -1;
  driver_flags = flags;
  return 0;
}

TEST_F(ftdi_testbed_test, the_latency_the_open_turned_down_is_put_back_on_every_way_out) {
  struct latency_case {
    const char *name;
    bool flags;            // the driver takes the flag calls
    int flags_before;      // what the flags are when found
    const char *timer;     // latency_timer when found
    bool restore_all;      // put back by rs_restore_all_ports, not by rs_close
    int flags_while_open;  // what the open leaves while the port is open
    const char *timer_while_open;
  };
  const int other = ASYNC_SPD_HI;  // a flag the layer must leave alone
  const latency_case cases[] = {
      {"the flag, closed", true, other, "16", false, other | ASYNC_LOW_LATENCY, "16"},
      {"the flag, by the signal handler", true, other, "16", true, other | ASYNC_LOW_LATENCY, "16"},
      {"the flag already set stays set", true, other | ASYNC_LOW_LATENCY, "16", false,
       other | ASYNC_LOW_LATENCY, "16"},
      {"no flag: the timer, closed", false, 0, "16", false, 0, "1"},
      {"no flag: the timer, by the signal handler", false, 0, "16", true, 0, "1"},
      {"a timer of 10 comes back as 10", false, 0, "10", false, 0, "1"},
      {"a timer already at 1 is left", false, 0, "1", false, 0, "1"},
  };
  serial_use_flag_calls({fake_get_flags, fake_set_flags});
  for (const latency_case &c : cases) {
    SCOPED_TRACE(c.name);
    flags_available = c.flags;
    driver_flags = c.flags_before;
    bed_.set_attribute(ftdi_port_syspath(0), "latency_timer", c.timer);
    make_cooked();
    termios found;
    ASSERT_EQ(tcgetattr(master_, &found), 0);

    ASSERT_EQ(rs_open(adapter_com, 9600), 0) << rs_open_failure();
    EXPECT_EQ(driver_flags, c.flags_while_open);
    EXPECT_EQ(latency_timer(), c.timer_while_open);
    if (c.restore_all) {
      rs_restore_all_ports();
      EXPECT_EQ(driver_flags, c.flags_before);
      EXPECT_EQ(latency_timer(), c.timer);
      termios seen;
      ASSERT_EQ(tcgetattr(master_, &seen), 0);
      EXPECT_TRUE(same_settings(seen, found)) << "the line settings are put back too";
      EXPECT_EQ(rs_puts(adapter_com, "0F\r\n"), 0) << "and the port stays open";
      EXPECT_EQ(read_master(5), "0F\r\r\n") << "through the cooked line found (LF to CR LF)";
    }
    ASSERT_EQ(rs_close(adapter_com), 0);
    EXPECT_EQ(driver_flags, c.flags_before);
    EXPECT_EQ(latency_timer(), c.timer);
  }
  serial_use_flag_calls({nullptr, nullptr});
}

// One copy in a start race, run as a program of its own by the test below
// (skipped when run otherwise): at the monotonic time RACE_START_NS it opens
// the adapter, says "opened" or "refused: <why>" on stdout, and holds the
// port for RACE_HOLD_MS.
TEST(ftdi_start_race, one_copy) {
  const char *start = std::getenv("RACE_START_NS");
  const char *hold = std::getenv("RACE_HOLD_MS");
  if (start == nullptr || hold == nullptr) GTEST_SKIP() << "run by the start race test";
  const long long at = std::atoll(start);
  const timespec when{static_cast<time_t>(at / 1000000000LL), static_cast<long>(at % 1000000000LL)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) == EINTR) {
  }
  if (rs_open(adapter_com, 9600) != 0) {
    std::printf("refused: %s\n", rs_open_failure());
    std::fflush(stdout);
    return;
  }
  std::printf("opened\n");
  std::fflush(stdout);
  rs_pause(std::atoi(hold));
  rs_close(adapter_com);
}

TEST_F(ftdi_testbed_test, of_two_copies_started_at_the_same_instant_exactly_one_opens_the_port) {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(length, 0);
  self[length] = '\0';
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    // Far enough ahead for both copies to have started.
    const long long start = now.tv_sec * 1000000000LL + now.tv_nsec + 150000000LL;
    auto options = run_options()
                       .program(self)
                       .arg("--gtest_filter=ftdi_start_race.one_copy")
                       .arg("--gtest_brief=1")
                       .no_terminal()
                       .set_env("RACE_START_NS=" + std::to_string(start))
                       .set_env("RACE_HOLD_MS=300");
    program_run first(options);
    program_run second(options);
    ASSERT_TRUE(first.wait_exit(milliseconds(10000))) << first.error();
    ASSERT_TRUE(second.wait_exit(milliseconds(10000))) << second.error();
    const std::string said[] = {first.out(), second.out()};
    int opened = 0;
    for (const std::string &out : said) {
      opened += out.find("opened\n") != std::string::npos;
      EXPECT_TRUE(out.find("opened\n") != std::string::npos ||
                  out.find("refused: /dev/ttyUSB0 (COM2) is in use by another program") !=
                      std::string::npos)
          << out;
    }
    EXPECT_EQ(opened, 1) << said[0] << said[1];
  }
}

}  // namespace
