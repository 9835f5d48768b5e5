// SPDX-License-Identifier: MIT
// Scripted fakes of the Win32 calls the serial layer makes, for the paths
// Wine never takes: drivers that refuse settings, fail reads after an
// unplug, or time writes out with an error. Force-included ahead of
// rs232_win32.cpp in the fault tests, so that its calls land here; the
// tests script and read fake_serial.
#pragma once

#include <windows.h>

#include <string>

struct fake_serial_state {
  DWORD open_error = 0;        // CreateFileA fails with this; 0: it opens
  DCB reported = {};           // what GetCommState reports
  bool state_set = false;      // SetCommState took a DCB
  DCB applied = {};            // the DCB it took
  DWORD comm_mask = 0;         // the last SetCommMask
  std::string input;           // bytes the port delivers, in order
  DWORD read_error = 0;        // once input is used up, ReadFile fails with this
  DWORD write_error = 0;       // WriteFile fails with this; 0: it writes
  DWORD write_limit = ~0u;     // the port takes at most this many bytes in all
  COMMTIMEOUTS timeouts = {};  // the last SetCommTimeouts
  DWORD longest_wait = 0;      // the longest read or write timeout any set
  std::string written;         // what WriteFile took
  bool restored = false;       // SetCommState took the DCB reported, after the open's
  int flushes = 0;             // FlushFileBuffers calls
  int closes = 0;              // CloseHandle calls
};

extern fake_serial_state fake_serial;

// Back to a port that opens, reports a DCB as some drivers do (equal XON and
// XOFF characters, an event character of 0) and delivers nothing.
void reset_fake_serial(void);

HANDLE WINAPI fake_CreateFileA(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
BOOL WINAPI fake_CloseHandle(HANDLE);
BOOL WINAPI fake_GetCommState(HANDLE, LPDCB);
BOOL WINAPI fake_SetCommState(HANDLE, LPDCB);
BOOL WINAPI fake_SetupComm(HANDLE, DWORD, DWORD);
BOOL WINAPI fake_SetCommMask(HANDLE, DWORD);
BOOL WINAPI fake_SetCommTimeouts(HANDLE, LPCOMMTIMEOUTS);
BOOL WINAPI fake_PurgeComm(HANDLE, DWORD);
BOOL WINAPI fake_ClearCommError(HANDLE, LPDWORD, LPCOMSTAT);
BOOL WINAPI fake_ReadFile(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL WINAPI fake_WriteFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL WINAPI fake_FlushFileBuffers(HANDLE);

#define CreateFileA fake_CreateFileA
#define CloseHandle fake_CloseHandle
#define GetCommState fake_GetCommState
#define SetCommState fake_SetCommState
#define SetupComm fake_SetupComm
#define SetCommMask fake_SetCommMask
#define SetCommTimeouts fake_SetCommTimeouts
#define PurgeComm fake_PurgeComm
#define ClearCommError fake_ClearCommError
#define ReadFile fake_ReadFile
#define WriteFile fake_WriteFile
#define FlushFileBuffers fake_FlushFileBuffers
