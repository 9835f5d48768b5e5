// SPDX-License-Identifier: MIT
// The serial layer on Windows: COM N is \\.\COMN, opened exclusively at
// 9600 8N1 with no flow control. Lines are read by the shared line reader
// (line_reader.h) over a byte source whose every wait is in the driver
// (COMMTIMEOUTS) for at most what is left of the call's own deadline, kept on
// GetTickCount64, so a slow drip of bytes cannot stretch a call.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "line_reader.h"
#include "rs232.h"
#include "win32_dcb.h"
#include "win32_errors.h"

namespace {

constexpr int max_open_ports = 8;
constexpr int line_deadline_ms = 1000;
constexpr int getch_deadline_ms = 1000;
// A write waits about a second, plus the bytes' time on the wire (1.04 ms
// each at 9600 baud 8N1; 2 ms covers slower rates too).
constexpr DWORD write_deadline_ms = 1000;
constexpr DWORD write_ms_per_byte = 2;
// GetTickCount64 advances in steps of 10 to 16 ms.
constexpr ULONGLONG tick_slack_ms = 32;

struct serial_port {
  HANDLE handle;  // nullptr: the slot is free
  int16_t number;
  line_reader reader;
};

// Zero-filled at load time; no constructor runs.
serial_port ports[max_open_ports];
char open_failure[320];

serial_port *find_port(int16_t number) {
  for (serial_port &port : ports) {
    if (port.handle != nullptr && port.number == number) return &port;
  }
  return nullptr;
}

serial_port *free_slot(void) {
  for (serial_port &port : ports) {
    if (port.handle == nullptr) return &port;
  }
  return nullptr;
}

// "\\.\COM5: <the system's text for error>[; <hint>]", on one line, UTF-8.
void note_open_failure(const char *path, DWORD error) {
  int used = std::snprintf(open_failure, sizeof open_failure, "%s: ", path);
  if (used < 0 || used >= static_cast<int>(sizeof open_failure)) used = 0;
  win32_error_text(error, open_failure + used, static_cast<int>(sizeof open_failure) - used);
  const char *hint = win32_open_failure_hint(error);
  if (hint != nullptr) {
    const size_t length = std::strlen(open_failure);
    std::snprintf(open_failure + length, sizeof open_failure - length, "; %s", hint);
  }
}

// Raw 8N1 at baud with every kind of flow control off, and the event
// character, on top of what the driver reports.
bool set_line_settings(HANDLE handle, int32_t baud) {
  // Queue sizes are a request that some drivers refuse; the defaults serve.
  SetupComm(handle, win32_input_queue_bytes, win32_output_queue_bytes);
  DCB dcb = {};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) return false;
  win32_line_settings(dcb, static_cast<DWORD>(baud));
  if (!SetCommState(handle, &dcb)) return false;
  // Some drivers pass the event character on to the chip only while it is
  // watched for; a driver without events samples just as well.
  SetCommMask(handle, EV_RXFLAG);
  return true;
}

// A read that returns as soon as one byte is there, or after wait_ms with
// none; a write that gives up when the port takes no more bytes.
bool set_read_wait(HANDLE handle, DWORD wait_ms) {
  COMMTIMEOUTS timeouts = {};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
  timeouts.ReadTotalTimeoutConstant = wait_ms;
  timeouts.WriteTotalTimeoutMultiplier = write_ms_per_byte;
  timeouts.WriteTotalTimeoutConstant = write_deadline_ms;
  return SetCommTimeouts(handle, &timeouts) != FALSE;
}

// Bytes that have arrived and wait in the driver, or 0 when it cannot say.
DWORD bytes_waiting(HANDLE handle) {
  DWORD errors = 0;
  COMSTAT status = {};
  return ClearCommError(handle, &errors, &status) ? status.cbInQue : 0;
}

// The byte source of a port: waits until deadline at most. The wait is a
// read of one byte, which the driver ends as soon as a byte is there (a
// longer read would wait for all its bytes); what else has arrived by then is
// taken at once. The count, rs_timeout or rs_gone.
int read_port(void *context, unsigned char *bytes, int size, int wait_ms) {
  const HANDLE handle = *static_cast<const HANDLE *>(context);
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(wait_ms);
  DWORD got = 0;
  while (got == 0) {
    const ULONGLONG asked = GetTickCount64();
    const ULONGLONG wait = deadline > asked ? deadline - asked : 0;
    // With no time left only what has already arrived is taken.
    if (wait == 0 && bytes_waiting(handle) == 0) return rs_timeout;
    // The driver's shortest wait is 1 ms; bytes that are there end it at once.
    if (!set_read_wait(handle, static_cast<DWORD>(wait > 0 ? wait : 1))) return rs_gone;
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

serial_byte_source source_of(serial_port &port) { return {read_port, &port.handle}; }

}  // namespace

int16_t rs_open(int16_t port, int32_t baud) {
  char path[32];
  std::snprintf(path, sizeof path, "\\\\.\\COM%d", static_cast<int>(port));
  open_failure[0] = '\0';
  // A port already open here is as busy as one another program holds.
  if (find_port(port) != nullptr) {
    note_open_failure(path, ERROR_ACCESS_DENIED);
    return -1;
  }
  serial_port *slot = free_slot();
  if (slot == nullptr) {
    note_open_failure(path, ERROR_TOO_MANY_OPEN_FILES);
    return -1;
  }
  const HANDLE handle =
      CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    note_open_failure(path, GetLastError());
    return -1;
  }
  if (!set_line_settings(handle, baud) || !set_read_wait(handle, 0) ||
      !PurgeComm(handle, PURGE_RXABORT | PURGE_RXCLEAR)) {
    note_open_failure(path, GetLastError());
    CloseHandle(handle);
    return -1;
  }
  slot->handle = handle;
  slot->number = port;
  line_reader_clear(&slot->reader);
  slot->reader.line_end = 0;
  return 0;
}

int rs_close(int16_t port) {
  serial_port *open = find_port(port);
  if (open == nullptr) return -1;
  CloseHandle(open->handle);
  open->handle = nullptr;
  return 0;
}

int rs_puts(int16_t port, const char *text) {
  serial_port *open = find_port(port);
  if (open == nullptr || text == nullptr) return rs_gone;
  // One synchronous write: it returns once the driver has taken the text,
  // and its timeout covers the whole text, so a short count (or, from some
  // drivers, ERROR_SEM_TIMEOUT) means the port stopped taking bytes.
  const DWORD length = static_cast<DWORD>(std::strlen(text));
  DWORD written = 0;
  if (!WriteFile(open->handle, text, length, &written, nullptr)) {
    return win32_write_failure(GetLastError());
  }
  return written < length ? rs_timeout : 0;
}

int rs_gets(int16_t port, char *buf, int size) {
  return rs_gets_within(port, buf, size, line_deadline_ms);
}

int rs_gets_within(int16_t port, char *buf, int size, int wait_ms) {
  if (buf == nullptr || size <= 0) return -1;
  buf[0] = '\0';
  serial_port *open = find_port(port);
  if (open == nullptr) return rs_gone;
  const serial_byte_source source = source_of(*open);
  return line_reader_gets(&open->reader, &source, buf, size, wait_ms);
}

int rs_read(int16_t port, unsigned char *bytes, int size, int wait_ms) {
  serial_port *open = find_port(port);
  if (open == nullptr) return rs_gone;
  const serial_byte_source source = source_of(*open);
  return line_reader_read(&open->reader, &source, bytes, size, wait_ms);
}

int rs_line_end(int16_t port) {
  const serial_port *open = find_port(port);
  return open != nullptr ? open->reader.line_end : 0;
}

int rs_getch(int16_t port) { return rs_getch_within(port, getch_deadline_ms); }

int rs_getch_within(int16_t port, int wait_ms) {
  serial_port *open = find_port(port);
  if (open == nullptr) return rs_gone;
  const serial_byte_source source = source_of(*open);
  return line_reader_getch(&open->reader, &source, wait_ms);
}

int rs_drain(int16_t port, int *line_ends, int quiet_ms, int wait_ms) {
  serial_port *open = find_port(port);
  if (open == nullptr || line_ends == nullptr) return rs_gone;
  const serial_byte_source source = source_of(*open);
  return line_reader_drain(&open->reader, &source, line_ends, quiet_ms, wait_ms);
}

int rs_discard_input(int16_t port) {
  serial_port *open = find_port(port);
  if (open == nullptr) return rs_gone;
  line_reader_clear(&open->reader);
  return PurgeComm(open->handle, PURGE_RXABORT | PURGE_RXCLEAR) ? 0 : rs_gone;
}

namespace {
// Kept for the waits; honoured by them as the serial layer grows into it.
int wake_fd = -1;
bool (*wake_ready)(void) = nullptr;
}  // namespace

void rs_set_wake(int fd, bool (*ready)(void)) {
  wake_fd = fd;
  wake_ready = ready;
}

const char *rs_open_failure(void) { return open_failure; }

void rs_pause(int ms) { Sleep(ms > 0 ? static_cast<DWORD>(ms) : 0); }

long long rs_clock_ms(void) { return static_cast<long long>(GetTickCount64()); }
