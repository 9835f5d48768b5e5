// SPDX-License-Identifier: MIT
// The serial line settings and the console modes, as pure functions of what
// the driver or the console reported.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "console_modes_win32.h"
#include "win32_dcb.h"

namespace {

// What drivers report before the program sets the line: zeroed, another
// program's settings, and one with every flag set.
DCB reported_dcb(int which) {
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  if (which == 1) {
    dcb.BaudRate = 115200;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutxCtsFlow = TRUE;
    dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.XonLim = 16128;
    dcb.XoffLim = 15872;
    dcb.EofChar = 0x1A;
    dcb.EvtChar = 0x7E;
  } else if (which == 2) {
    std::memset(&dcb, 0xFF, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
  }
  return dcb;
}

TEST(win32_line_settings, sets_every_field_a_driver_may_refuse_whatever_it_reported) {
  for (int which = 0; which < 3; ++which) {
    DCB dcb = reported_dcb(which);
    win32_line_settings(dcb, 9600);
    EXPECT_EQ(dcb.DCBlength, sizeof dcb) << which;
    EXPECT_EQ(dcb.BaudRate, 9600u) << which;
    EXPECT_EQ(dcb.ByteSize, 8) << which;
    EXPECT_EQ(dcb.Parity, NOPARITY) << which;
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT) << which;
    EXPECT_TRUE(dcb.fBinary) << which;
    EXPECT_FALSE(dcb.fParity || dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fDsrSensitivity ||
                 dcb.fOutX || dcb.fInX || dcb.fErrorChar || dcb.fNull || dcb.fAbortOnError)
        << which;
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE)) << which;
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE)) << which;
    EXPECT_EQ(dcb.XonChar, 0x11) << which;
    EXPECT_EQ(dcb.XoffChar, 0x13) << which;
    EXPECT_LE(dcb.XonLim + dcb.XoffLim, win32_input_queue_bytes) << which;
    EXPECT_EQ(dcb.EofChar, 0) << which;
    EXPECT_EQ(dcb.ErrorChar, 0) << which;
    EXPECT_EQ(dcb.EvtChar, '\n') << "the reply lines' end makes the chip send at once";
  }
}

struct mode_case {
  DWORD found;
  DWORD sampling;
  DWORD restored;
};

TEST(console_modes, quick_edit_is_off_while_sampling_and_comes_back_as_found) {
  const DWORD usual = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
  const mode_case cases[] = {
      {usual | ENABLE_QUICK_EDIT_MODE | ENABLE_INSERT_MODE | ENABLE_EXTENDED_FLAGS,
       usual | ENABLE_INSERT_MODE | ENABLE_EXTENDED_FLAGS,
       usual | ENABLE_QUICK_EDIT_MODE | ENABLE_INSERT_MODE | ENABLE_EXTENDED_FLAGS},
      // Read without the extended flag: it is added both ways, so that the
      // console takes QuickEdit's state at all.
      {usual | ENABLE_QUICK_EDIT_MODE, usual | ENABLE_EXTENDED_FLAGS,
       usual | ENABLE_QUICK_EDIT_MODE | ENABLE_EXTENDED_FLAGS},
      {usual, usual | ENABLE_EXTENDED_FLAGS, usual | ENABLE_EXTENDED_FLAGS},
      {0, ENABLE_EXTENDED_FLAGS, ENABLE_EXTENDED_FLAGS},
  };
  for (const mode_case &c : cases) {
    EXPECT_EQ(console_sampling_input_mode(c.found), c.sampling) << std::hex << c.found;
    EXPECT_EQ(console_restored_input_mode(c.found), c.restored) << std::hex << c.found;
  }
}

TEST(console_modes, the_screen_processes_vt_sequences_and_only_then_shows_unicode) {
  const DWORD found = ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT;
  EXPECT_EQ(console_screen_output_mode(found), found | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  EXPECT_EQ(console_screen_output_mode(0),
            static_cast<DWORD>(ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING));
  EXPECT_FALSE(console_mode_shows_unicode(found));
  EXPECT_TRUE(console_mode_shows_unicode(console_screen_output_mode(found)));
}

}  // namespace
