// SPDX-License-Identifier: MIT
#include "win32_serial_fakes.h"

#include <algorithm>
#include <cstring>

fake_serial_state fake_serial;

namespace {

HANDLE const fake_handle = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5150));

}  // namespace

void reset_fake_serial(void) {
  fake_serial = fake_serial_state{};
  fake_serial.reported.DCBlength = sizeof(DCB);
  fake_serial.reported.BaudRate = 115200;
  fake_serial.reported.ByteSize = 7;
  fake_serial.reported.fOutX = TRUE;
  fake_serial.reported.fAbortOnError = TRUE;
  fake_serial.reported.XonChar = 0;
  fake_serial.reported.XoffChar = 0;
  fake_serial.reported.EofChar = 0x1A;
  fake_serial.reported.ErrorChar = '?';
  fake_serial.reported.XonLim = 60000;
  fake_serial.reported.XoffLim = 60000;
}

HANDLE WINAPI fake_CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
  if (fake_serial.open_error != 0) {
    SetLastError(fake_serial.open_error);
    return INVALID_HANDLE_VALUE;
  }
  return fake_handle;
}

BOOL WINAPI fake_CloseHandle(HANDLE) {
  ++fake_serial.closes;
  return TRUE;
}

BOOL WINAPI fake_GetCommState(HANDLE, LPDCB dcb) {
  *dcb = fake_serial.reported;
  return TRUE;
}

// As SetCommState and the drivers check: distinct XON and XOFF characters,
// limits that fit the input queue.
BOOL WINAPI fake_SetCommState(HANDLE, LPDCB dcb) {
  if (dcb->XonChar == dcb->XoffChar || dcb->XonLim + dcb->XoffLim > 4096) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (fake_serial.state_set && std::memcmp(dcb, &fake_serial.reported, sizeof *dcb) == 0) {
    fake_serial.restored = true;
  }
  fake_serial.applied = *dcb;
  fake_serial.state_set = true;
  return TRUE;
}

BOOL WINAPI fake_SetupComm(HANDLE, DWORD, DWORD) { return TRUE; }

BOOL WINAPI fake_SetCommMask(HANDLE, DWORD mask) {
  fake_serial.comm_mask = mask;
  return TRUE;
}

BOOL WINAPI fake_SetCommTimeouts(HANDLE, LPCOMMTIMEOUTS timeouts) {
  fake_serial.timeouts = *timeouts;
  fake_serial.longest_wait = std::max({fake_serial.longest_wait, timeouts->ReadTotalTimeoutConstant,
                                       timeouts->WriteTotalTimeoutConstant});
  return TRUE;
}

BOOL WINAPI fake_PurgeComm(HANDLE, DWORD) { return TRUE; }

BOOL WINAPI fake_ClearCommError(HANDLE, LPDWORD errors, LPCOMSTAT status) {
  if (errors != nullptr) *errors = 0;
  if (status != nullptr) {
    *status = COMSTAT{};
    status->cbInQue = static_cast<DWORD>(fake_serial.input.size());
  }
  return TRUE;
}

BOOL WINAPI fake_ReadFile(HANDLE, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED) {
  *got = 0;
  if (fake_serial.input.empty()) {
    // Nothing comes: a driver's read ends with its timeout.
    if (fake_serial.read_error == 0) Sleep(fake_serial.timeouts.ReadTotalTimeoutConstant);
    SetLastError(fake_serial.read_error);
    return fake_serial.read_error == 0;
  }
  const size_t count = std::min<size_t>(size, fake_serial.input.size());
  std::memcpy(buffer, fake_serial.input.data(), count);
  fake_serial.input.erase(0, count);
  *got = static_cast<DWORD>(count);
  return TRUE;
}

// A write the port does not take whole ends, as a driver's does, when its
// timeout has run out.
BOOL WINAPI fake_WriteFile(HANDLE, LPCVOID bytes, DWORD size, LPDWORD written, LPOVERLAPPED) {
  *written = 0;
  const COMMTIMEOUTS &t = fake_serial.timeouts;
  const DWORD timeout = t.WriteTotalTimeoutConstant + t.WriteTotalTimeoutMultiplier * size;
  if (fake_serial.write_error != 0) {
    Sleep(timeout);
    SetLastError(fake_serial.write_error);
    return FALSE;
  }
  const DWORD count = std::min(size, fake_serial.write_limit);
  fake_serial.write_limit -= count;
  fake_serial.written.append(static_cast<const char *>(bytes), count);
  *written = count;
  if (count < size) Sleep(timeout);
  return TRUE;
}

BOOL WINAPI fake_FlushFileBuffers(HANDLE) {
  ++fake_serial.flushes;
  return TRUE;
}
