// SPDX-License-Identifier: MIT
// The local port on Windows: COM N is \\.\COMN, opened exclusively at
// 9600 8N1 with no flow control, as a transport (serial_transport.h) whose
// every wait is in the driver (COMMTIMEOUTS) in slices of at most
// serial_wake_slice_ms, for at most what is left of the call's own deadline
// (kept on GetTickCount64, so a slow drip of bytes cannot stretch a call);
// the wake source is asked between slices. The line settings found are put
// back on close.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "rs232.h"
#include "rs232_front.h"
#include "win32_dcb.h"
#include "win32_errors.h"

namespace {

constexpr int max_local_ports = 8;
// A write waits at most a slice plus the bytes' time on the wire (1.04 ms
// each at 9600 baud 8N1; 2 ms covers slower rates too) at a time.
constexpr DWORD write_ms_per_byte = 2;
// GetTickCount64 advances in steps of 10 to 16 ms.
constexpr ULONGLONG tick_slack_ms = 32;

struct local_port {
  HANDLE handle;  // nullptr: the entry is free
  bool found_ok;
  DCB found;  // the line settings found at open
};

// Zero-filled at load time; no constructor runs.
local_port local_ports[max_local_ports];

local_port *free_local_port(void) {
  for (local_port &local : local_ports) {
    if (local.handle == nullptr) return &local;
  }
  return nullptr;
}

// "\\.\COM5: <the system's text for error>[; <hint>]", on one line, UTF-8.
void note_open_failure(const char *path, DWORD error) {
  char text[320];
  int used = std::snprintf(text, sizeof text, "%s: ", path);
  if (used < 0 || used >= static_cast<int>(sizeof text)) used = 0;
  win32_error_text(error, text + used, static_cast<int>(sizeof text) - used);
  const char *hint = win32_open_failure_hint(error);
  if (hint != nullptr) {
    const size_t length = std::strlen(text);
    std::snprintf(text + length, sizeof text - length, "; %s", hint);
  }
  serial_note_open_failure("%s", text);
}

// Raw 8N1 at baud with every kind of flow control off, and the event
// character, on top of what the driver reports (kept in found).
bool set_line_settings(HANDLE handle, int32_t baud, DCB *found) {
  // Queue sizes are a request that some drivers refuse; the defaults serve.
  SetupComm(handle, win32_input_queue_bytes, win32_output_queue_bytes);
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) return false;
  *found = dcb;
  win32_line_settings(dcb, static_cast<DWORD>(baud));
  if (!SetCommState(handle, &dcb)) return false;
  // Some drivers pass the event character on to the chip only while it is
  // watched for; a driver without events samples just as well.
  SetCommMask(handle, EV_RXFLAG);
  return true;
}

// A read that returns as soon as one byte is there, or after wait_ms with
// none; a write that gives up after a slice when the port takes no more
// bytes.
bool set_waits(HANDLE handle, DWORD wait_ms) {
  COMMTIMEOUTS timeouts = {};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = wait_ms;
  timeouts.WriteTotalTimeoutMultiplier = write_ms_per_byte;
  timeouts.WriteTotalTimeoutConstant = serial_wake_slice_ms;
  return SetCommTimeouts(handle, &timeouts) != FALSE;
}

// Bytes that have arrived and wait in the driver, or 0 when it cannot say.
DWORD bytes_waiting(HANDLE handle) {
  DWORD errors = 0;
  COMSTAT status = {};
  return ClearCommError(handle, &errors, &status) ? status.cbInQue : 0;
}

ULONGLONG ms_left(ULONGLONG deadline) {
  const ULONGLONG now = GetTickCount64();
  return deadline > now ? deadline - now : 0;
}

// Waits until deadline at most, a slice at a time. Each slice is a read of
// one byte, which the driver ends as soon as a byte is there (a longer read
// would wait for all its bytes); what else has arrived by then is taken at
// once. The count, rs_timeout, rs_woken or rs_gone.
int read_port(void *context, unsigned char *bytes, int size, int wait_ms) {
  const HANDLE handle = static_cast<const local_port *>(context)->handle;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(wait_ms);
  DWORD got = 0;
  while (got == 0) {
    const ULONGLONG asked = GetTickCount64();
    ULONGLONG wait = ms_left(deadline);
    // With no time left only what has already arrived is taken.
    if (wait == 0 && bytes_waiting(handle) == 0) return rs_timeout;
    if (wait > 0 && bytes_waiting(handle) == 0 && serial_wake_ready()) return rs_woken;
    if (wait > static_cast<ULONGLONG>(serial_wake_slice_ms)) wait = serial_wake_slice_ms;
    // The driver's shortest wait is 1 ms; bytes that are there end it at once.
    if (!set_waits(handle, static_cast<DWORD>(wait > 0 ? wait : 1))) return rs_gone;
    // A failed read is a driver's timeout or, for the rest, a port that is
    // no longer usable (win32_read_failure).
    if (!ReadFile(handle, bytes, 1, &got, nullptr)) return win32_read_failure(GetLastError());
    // An empty read ends only with its wait; one that ends well before is
    // an end of file: the other side has closed. Never spin on it.
    if (got == 0 && GetTickCount64() - asked + tick_slack_ms < wait) return rs_gone;
    if (got == 0 && wait == 0) return rs_timeout;
  }
  DWORD more = bytes_waiting(handle);
  if (more > static_cast<DWORD>(size - 1)) more = static_cast<DWORD>(size - 1);
  DWORD taken = 0;
  if (more > 0 && !ReadFile(handle, bytes + 1, more, &taken, nullptr)) {
    return win32_read_failure(GetLastError());
  }
  return static_cast<int>(1 + taken);
}

// Synchronous writes of a slice each: one returns once the driver has taken
// the bytes, or after its slice with a short count (or, from some drivers,
// ERROR_SEM_TIMEOUT) when the port stopped taking them.
int write_port(void *context, const unsigned char *bytes, int size, int wait_ms) {
  const HANDLE handle = static_cast<const local_port *>(context)->handle;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(wait_ms);
  DWORD left = size > 0 ? static_cast<DWORD>(size) : 0;
  if (!set_waits(handle, 0)) return rs_gone;
  while (left > 0) {
    if (serial_wake_ready()) return rs_woken;
    DWORD written = 0;
    if (!WriteFile(handle, bytes, left, &written, nullptr)) {
      const int failure = win32_write_failure(GetLastError());
      if (failure != rs_timeout) return failure;
    }
    bytes += written;
    left -= written;
    if (left > 0 && ms_left(deadline) == 0) return rs_timeout;
  }
  return 0;
}

int flush_port(void *context) {
  const HANDLE handle = static_cast<const local_port *>(context)->handle;
  return PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR) ? 0 : rs_gone;
}

void restore_port(local_port &local) {
  if (local.found_ok) SetCommState(local.handle, &local.found);
}

void close_port(void *context) {
  local_port &local = *static_cast<local_port *>(context);
  restore_port(local);
  CloseHandle(local.handle);
  local = local_port{};
}

}  // namespace

int16_t rs_open(int16_t port, int32_t baud) {
  char path[32];
  std::snprintf(path, sizeof path, "\\\\.\\COM%d", static_cast<int>(port));
  serial_clear_open_failure();
  // A port already open here is as busy as one another program holds.
  if (serial_port_is_open(port)) {
    note_open_failure(path, ERROR_ACCESS_DENIED);
    return -1;
  }
  local_port *local = free_local_port();
  if (local == nullptr || serial_ports_full()) {
    note_open_failure(path, ERROR_TOO_MANY_OPEN_FILES);
    return -1;
  }
  const HANDLE handle =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    note_open_failure(path, GetLastError());
    return -1;
  }
  DCB found = {};
  if (!set_line_settings(handle, baud, &found) || !set_waits(handle, 0) ||
      !PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR)) {
    note_open_failure(path, GetLastError());
    CloseHandle(handle);
    return -1;
  }
  local->handle = handle;
  local->found_ok = true;
  local->found = found;
  const serial_transport transport{read_port, write_port, close_port, local};
  if (rs_open_transport(port, transport) != 0) {
    close_port(local);
    return -1;
  }
  serial_set_input_flush(port, flush_port);
  return 0;
}

void rs_restore_all_ports(void) {
  for (local_port &local : local_ports) {
    if (local.handle != nullptr) restore_port(local);
  }
}

int rs_sleep(int ms) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(ms > 0 ? ms : 0);
  for (;;) {
    const ULONGLONG left = ms_left(deadline);
    if (left == 0) return 0;
    if (serial_wake_ready()) return rs_woken;
    Sleep(static_cast<DWORD>(left < serial_wake_slice_ms ? left : serial_wake_slice_ms));
  }
}

void rs_pause(int ms) { rs_sleep(ms); }

long long rs_clock_ms(void) { return static_cast<long long>(GetTickCount64()); }
