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

// Raw bytes to stdout, flushed; the C runtime's text mode turns "\n" into
// "\r\n" as every printf of the program always did.
void write_bytes(const char *bytes, size_t length) {
  std::fwrite(bytes, 1, length, stdout);
  std::fflush(stdout);
}

}  // namespace

void console_open(void) { keys_available(); }

bool console_key_waiting(void) { return keys_available() && _kbhit() != 0; }

void console_read_key(void) {
  if (keys_available()) _getch();
}

// _getch leaves the console's modes as it found them: nothing to restore.
void console_close(void) {}

void console_write(const char *utf8_text) {
  wchar_t wide[max_text_chars];
  const int wide_length = MultiByteToWideChar(CP_UTF8, 0, utf8_text, -1, wide, max_text_chars);
  if (wide_length <= 0) {
    // Too long or not UTF-8: the bytes as they are rather than nothing.
    write_bytes(utf8_text, std::strlen(utf8_text));
    return;
  }
  if (stdout_is_console()) {
    std::fflush(stdout);
    DWORD written = 0;
    WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), wide, static_cast<DWORD>(wide_length - 1),
                  &written, nullptr);
    return;
  }
  char bytes[max_text_chars * 2];
  const int length = WideCharToMultiByte(redirected_code_page, 0, wide, wide_length - 1, bytes,
                                         sizeof bytes, nullptr, nullptr);
  if (length > 0) write_bytes(bytes, static_cast<size_t>(length));
}
