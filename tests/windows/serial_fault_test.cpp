// SPDX-License-Identifier: MIT
// The serial layer over scripted Win32 calls: what real drivers do and Wine
// never does (settings refused, errors after an unplug, write timeouts
// reported as errors).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "rs232.h"
#include "win32_serial_fakes.h"

namespace {

constexpr int16_t com = 7;

class serial_fault_test : public testing::Test {
protected:
  void SetUp() override { reset_fake_serial(); }
  void TearDown() override { rs_close(com); }

  static void open_port() { ASSERT_EQ(rs_open(com, 9600), 0) << rs_open_failure(); }
};

TEST_F(serial_fault_test, opens_where_the_driver_reports_settings_it_would_refuse_back) {
  open_port();
  ASSERT_TRUE(fake_serial.state_set);
  const DCB &dcb = fake_serial.applied;
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.XonChar, 0x11);
  EXPECT_EQ(dcb.XoffChar, 0x13);
  EXPECT_EQ(dcb.EofChar, 0);
  EXPECT_EQ(dcb.ErrorChar, 0);
  EXPECT_EQ(dcb.EvtChar, '\n');
  EXPECT_FALSE(dcb.fOutX);
  EXPECT_FALSE(dcb.fAbortOnError);
  EXPECT_EQ(fake_serial.comm_mask, static_cast<DWORD>(EV_RXFLAG));
}

TEST_F(serial_fault_test, read_errors_of_an_unplugged_adapter_mean_the_port_is_gone) {
  const DWORD unplug_errors[] = {ERROR_OPERATION_ABORTED, ERROR_BAD_COMMAND,
                                 ERROR_ACCESS_DENIED,     ERROR_DEVICE_REMOVED,
                                 ERROR_GEN_FAILURE,       ERROR_DEVICE_NOT_CONNECTED};
  for (const DWORD error : unplug_errors) {
    reset_fake_serial();
    open_port();
    fake_serial.input = "0001";
    fake_serial.read_error = error;
    char line[84];
    EXPECT_EQ(rs_gets(com, line, sizeof line), rs_gone) << "error " << error;
    EXPECT_STREQ(line, "0001") << "what arrived stays in the buffer, error " << error;
    EXPECT_EQ(rs_getch(com), rs_gone) << "error " << error;
    rs_close(com);
  }
}

TEST_F(serial_fault_test, a_read_that_the_driver_times_out_with_an_error_is_a_timeout) {
  open_port();
  fake_serial.read_error = ERROR_SEM_TIMEOUT;
  char line[84];
  EXPECT_EQ(rs_gets(com, line, sizeof line), rs_timeout);
  EXPECT_EQ(rs_getch(com), rs_timeout);
  fake_serial.input = "21\r\n";
  EXPECT_EQ(rs_gets(com, line, sizeof line), 2) << "the port still works";
}

struct write_case {
  DWORD error;
  DWORD limit;
  int outcome;
  const char *written;
};

TEST_F(serial_fault_test, write_timeouts_are_told_from_a_lost_port) {
  const write_case cases[] = {
      {0, ~0u, 0, "29\r\n"},
      {0, 2, rs_timeout, "29"},  // a short count: the port took no more
      {ERROR_SEM_TIMEOUT, ~0u, rs_timeout, ""},
      {ERROR_TIMEOUT, ~0u, rs_timeout, ""},
      {ERROR_OPERATION_ABORTED, ~0u, rs_gone, ""},
      {ERROR_BAD_COMMAND, ~0u, rs_gone, ""},
      {ERROR_GEN_FAILURE, ~0u, rs_gone, ""},
  };
  for (const write_case &c : cases) {
    reset_fake_serial();
    open_port();
    fake_serial.write_error = c.error;
    fake_serial.write_limit = c.limit;
    EXPECT_EQ(rs_puts(com, "29\r\n"), c.outcome) << "error " << c.error << ", limit " << c.limit;
    EXPECT_EQ(fake_serial.written, c.written) << "error " << c.error;
    EXPECT_EQ(fake_serial.flushes, 0) << "a synchronous write needs no flush";
    rs_close(com);
  }
}

TEST_F(serial_fault_test, a_port_held_by_another_program_says_so) {
  fake_serial.open_error = ERROR_ACCESS_DENIED;
  EXPECT_EQ(rs_open(com, 9600), -1);
  const std::string reason = rs_open_failure();
  EXPECT_EQ(reason.rfind("\\\\.\\COM7: ", 0), 0u) << reason;
  EXPECT_NE(reason.find("in use by another program"), std::string::npos) << reason;

  fake_serial.open_error = ERROR_FILE_NOT_FOUND;
  EXPECT_EQ(rs_open(com, 9600), -1);
  EXPECT_EQ(std::string(rs_open_failure()).find("another program"), std::string::npos)
      << rs_open_failure();
}

// The wake source: ready() says yes from its ready_from-th question on.
int ready_from = 0;
int ready_asked = 0;
bool key_ready() { return ++ready_asked >= ready_from; }

TEST_F(serial_fault_test, every_wait_ends_when_the_wake_source_turns_ready_between_slices) {
  struct wait_case {
    const char *name;
    int (*wait)();
  };
  const wait_case cases[] = {
      {"rs_gets",
       [] {
         char line[84];
         return rs_gets_within(com, line, sizeof line, 5000);
       }},
      {"rs_getch", [] { return rs_getch_within(com, 5000); }},
      {"rs_read",
       [] {
         unsigned char bytes[8];
         return rs_read(com, bytes, sizeof bytes, 5000);
       }},
      {"rs_puts to a port that takes nothing",
       [] {
         fake_serial.write_limit = 0;
         return rs_puts(com, "29\r\n");
       }},
      {"rs_sleep", [] { return rs_sleep(5000); }},
  };
  for (const wait_case &c : cases) {
    SCOPED_TRACE(c.name);
    reset_fake_serial();
    open_port();
    ready_from = 4;
    ready_asked = 0;
    rs_set_wake(-1, key_ready);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(c.wait(), rs_woken);
    EXPECT_LT(GetTickCount64() - start, 2500u) << "well before the wait's own end";
    EXPECT_LE(fake_serial.longest_wait, 50u) << "no slice longer than 50 ms";
    rs_set_wake(-1, nullptr);
    rs_close(com);
  }
}

TEST_F(serial_fault_test, bytes_that_have_arrived_come_before_the_wake) {
  open_port();
  ready_from = 0;
  rs_set_wake(-1, key_ready);
  fake_serial.input = "0F\r\n";
  char line[84];
  EXPECT_EQ(rs_gets(com, line, sizeof line), 2);
  EXPECT_EQ(rs_getch(com), '\n');
  EXPECT_EQ(rs_getch(com), rs_woken);
  EXPECT_EQ(rs_puts(com, "29\r\n"), rs_woken) << "a write the source is ready for is not begun";
  rs_set_wake(-1, nullptr);
  EXPECT_EQ(rs_puts(com, "29\r\n"), 0);
  EXPECT_EQ(fake_serial.written, "29\r\n");
}

TEST_F(serial_fault_test, the_line_settings_found_are_put_back_on_close_and_by_the_handler) {
  for (const bool by_handler : {false, true}) {
    SCOPED_TRACE(by_handler ? "rs_restore_all_ports" : "rs_close");
    reset_fake_serial();
    fake_serial.reported.XonChar = 0x11;  // settings the driver takes back
    fake_serial.reported.XoffChar = 0x13;
    fake_serial.reported.XonLim = 1024;
    fake_serial.reported.XoffLim = 1024;
    open_port();
    ASSERT_FALSE(fake_serial.restored);
    if (by_handler) {
      rs_restore_all_ports();
      EXPECT_TRUE(fake_serial.restored);
      EXPECT_EQ(fake_serial.closes, 0) << "the port stays open";
    }
    rs_close(com);
    EXPECT_TRUE(fake_serial.restored);
    EXPECT_EQ(std::memcmp(&fake_serial.applied, &fake_serial.reported, sizeof(DCB)), 0);
    EXPECT_EQ(fake_serial.closes, 1);
  }
}

}  // namespace
