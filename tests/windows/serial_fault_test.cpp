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

}  // namespace
