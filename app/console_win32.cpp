// SPDX-License-Identifier: MIT
// Console on Windows: keys through the C runtime's _kbhit/_getch, text as
// UTF-16 through the console when stdout is one, else as code page 932
// bytes, the encoding the program's Japanese texts have always had.
#include <conio.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "console.h"

namespace {

constexpr UINT redirected_code_page = 932;
constexpr int max_text_chars = 1024;

// Whether the process has a console to take keys from; without one no key
// can ever arrive, and _getch would not wait for one.
bool has_console_input = false;
bool console_checked = false;

bool console_input_present(void) {
  const HANDLE input =
      CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  const bool present = GetConsoleMode(input, &mode) != FALSE;
  CloseHandle(input);
  return present;
}

bool keys_available(void) {
  if (!console_checked) {
    has_console_input = console_input_present();
    console_checked = true;
  }
  return has_console_input;
}

bool stdout_is_console(void) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != FALSE;
}

DWORD output_error = 0;  // GetLastError of the last failed console_write

// Raw bytes to stdout, flushed; the C runtime's text mode turns "\n" into
// "\r\n" as every printf of the program always did.
bool write_bytes(const char *bytes, size_t length) {
  if (std::fwrite(bytes, 1, length, stdout) == length && std::fflush(stdout) == 0) return true;
  output_error = GetLastError();
  return false;
}

}  // namespace

// The C runtime gives closed standard handles no descriptor to reuse.
void console_guard_standard_streams(void) {}

void console_open(void) { keys_available(); }

bool console_key_waiting(void) { return keys_available() && _kbhit() != 0; }

bool console_has_keys(void) { return keys_available(); }

int console_read_key(void) {
  if (!keys_available()) return -1;
  return _getch() & 0xFF;
}

// _getch leaves the console's modes as it found them: nothing to restore.
void console_close(void) {}

bool console_write(const char *utf8_text) {
  wchar_t wide[max_text_chars];
  const int wide_length = MultiByteToWideChar(CP_UTF8, 0, utf8_text, -1, wide, max_text_chars);
  if (wide_length <= 0) {
    // Too long or not UTF-8: the bytes as they are rather than nothing.
    return write_bytes(utf8_text, std::strlen(utf8_text));
  }
  if (stdout_is_console()) {
    std::fflush(stdout);
    DWORD written = 0;
    if (WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), wide, static_cast<DWORD>(wide_length - 1),
                      &written, nullptr) != FALSE) {
      return true;
    }
    output_error = GetLastError();
    return false;
  }
  char bytes[max_text_chars * 2];
  const int length = WideCharToMultiByte(redirected_code_page, 0, wide, wide_length - 1, bytes,
                                         sizeof bytes, nullptr, nullptr);
  return length <= 0 || write_bytes(bytes, static_cast<size_t>(length));
}

const char *console_output_failure(void) {
  static char reason[256];
  if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     output_error, 0, reason, sizeof reason, nullptr) == 0) {
    std::snprintf(reason, sizeof reason, "error %lu", static_cast<unsigned long>(output_error));
  }
  return reason;
}

// Full-screen use of the console is not available yet on Windows.
bool console_screen_open(const char * /*leave_text*/) { return false; }
bool console_screen_size(int * /*columns*/, int * /*rows*/) { return false; }
bool console_screen_resized(void) { return false; }
bool console_screen_unicode(void) { return false; }
