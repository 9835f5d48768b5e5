// SPDX-License-Identifier: MIT
#include "win32_dcb.h"

namespace {

constexpr char xon_char = 0x11;   // DC1
constexpr char xoff_char = 0x13;  // DC3

}  // namespace

void win32_line_settings(DCB &dcb, DWORD baud) {
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
  // Unused with XON/XOFF off, yet checked by SetCommState and some drivers:
  // distinct characters and limits that fit the input queue.
  dcb.XonLim = static_cast<WORD>(win32_input_queue_bytes / 4);
  dcb.XoffLim = static_cast<WORD>(win32_input_queue_bytes / 4);
  dcb.XonChar = xon_char;
  dcb.XoffChar = xoff_char;
  dcb.ErrorChar = 0;
  dcb.EofChar = 0;
  dcb.EvtChar = win32_event_char;
}
