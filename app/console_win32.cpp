// SPDX-License-Identifier: MIT
// Console on Windows: keys through the C runtime's _kbhit/_getch, text as
// UTF-16 through the console when stdout is one, else as code page 932
// bytes, the encoding the program's Japanese texts have always had.
//
// While the program runs, QuickEdit is off; full-screen use turns on VT
// processing. Both are put back, and the screen's leave text written, on
// every way out: console_close, Ctrl+C, Ctrl+Break and closing the window
// (SetConsoleCtrlHandler), where the serial port is closed too.
#include <conio.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "console.h"
#include "console_modes_win32.h"
#include "sensor_link.h"
#include "win32_errors.h"

namespace {

constexpr UINT redirected_code_page = 932;
// Text goes out in pieces of at most this many UTF-8 bytes, each cut at a
// character's start, so that any length fits the fixed buffers.
constexpr int piece_bytes = 1024;
// How a process ends on Ctrl+C, as Windows' own handler ends it.
constexpr UINT control_c_exit_status = 0xC000013A;

// Whether the process has a console to take keys from; without one no key
// can ever arrive, and _getch would not wait for one.
bool has_console_input = false;
bool console_checked = false;

// What console_open and console_screen_open changed, for the restore. The
// Ctrl+C handler runs on a thread of its own: restore_pending makes one
// restore win.
HANDLE console_input = INVALID_HANDLE_VALUE;
DWORD found_input_mode = 0;
bool input_mode_changed = false;
DWORD found_output_mode = 0;
bool output_mode_changed = false;
const char *leave_text = nullptr;
volatile LONG restore_pending = 0;
bool handler_installed = false;
HANDLE main_thread = nullptr;

// Screen size as last reported by console_screen_resized.
int known_columns = 0;
int known_rows = 0;

DWORD output_error = 0;  // GetLastError of the last failed console_write

HANDLE standard_output(void) { return GetStdHandle(STD_OUTPUT_HANDLE); }

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

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

// Length of the longest prefix of text, at most piece_bytes, that ends at
// the start of a UTF-8 character (a byte that is no continuation byte).
int piece_length(const char *text, size_t left) {
  if (left <= static_cast<size_t>(piece_bytes)) return static_cast<int>(left);
  int length = piece_bytes;
  while (length > 1 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  return length;
}

// Writes wide text to a console handle whole; false with the error kept.
bool write_console_wide(HANDLE console, const wchar_t *wide, int length) {
  while (length > 0) {
    DWORD written = 0;
    if (!WriteConsoleW(console, wide, static_cast<DWORD>(length), &written, nullptr) ||
        written == 0) {
      output_error = GetLastError();
      return false;
    }
    wide += written;
    length -= static_cast<int>(written);
  }
  return true;
}

// Raw bytes to a C stream, flushed; the C runtime's text mode turns "\n"
// into "\r\n" as every printf of the program always did.
bool write_bytes(std::FILE *stream, const char *bytes, size_t length) {
  if (std::fwrite(bytes, 1, length, stream) == length && std::fflush(stream) == 0) return true;
  output_error = GetLastError();
  if (output_error == 0) output_error = ERROR_WRITE_FAULT;
  return false;
}

// Converts the next piece of text (left bytes) to wide characters and
// moves past it: the piece's wide length, or 0 on a failure (kept).
int next_wide_piece(const char *&text, size_t &left, wchar_t (&wide)[piece_bytes]) {
  const int length = piece_length(text, left);
  const int wide_length = MultiByteToWideChar(CP_UTF8, 0, text, length, wide, piece_bytes);
  if (wide_length <= 0) output_error = GetLastError();
  text += length;
  left -= static_cast<size_t>(length);
  return wide_length;
}

// UTF-8 text to a console, whole; no C runtime call, so that the Ctrl+C
// handler can use it while the other thread is held anywhere.
bool write_console_utf8(HANDLE console, const char *text) {
  size_t left = std::strlen(text);
  while (left > 0) {
    wchar_t wide[piece_bytes];
    const int wide_length = next_wide_piece(text, left, wide);
    if (wide_length <= 0 || !write_console_wide(console, wide, wide_length)) return false;
  }
  return true;
}

// UTF-8 text to a redirected stream as bytes of code_page.
bool write_redirected(std::FILE *stream, UINT code_page, const char *text) {
  size_t left = std::strlen(text);
  while (left > 0) {
    wchar_t wide[piece_bytes];
    const int wide_length = next_wide_piece(text, left, wide);
    if (wide_length <= 0) return false;
    char bytes[piece_bytes * 2];
    const int byte_length =
        WideCharToMultiByte(code_page, 0, wide, wide_length, bytes, sizeof bytes, nullptr, nullptr);
    if (byte_length <= 0) {
      output_error = GetLastError();
      return false;
    }
    if (!write_bytes(stream, bytes, static_cast<size_t>(byte_length))) return false;
  }
  return true;
}

// UTF-8 text to a standard stream: through WriteConsoleW when it is a
// console (after what the C runtime still holds for it), else as bytes of
// code_page. Any length.
bool write_text(std::FILE *stream, DWORD std_handle, UINT code_page, const char *text) {
  const HANDLE handle = GetStdHandle(std_handle);
  if (!is_console(handle)) return write_redirected(stream, code_page, text);
  std::fflush(stream);
  return write_console_utf8(handle, text);
}

// Puts back what was changed, once, whichever thread gets here first: the
// leave text while VT processing is still on, then the output and input
// modes.
void restore_console(void) {
  if (InterlockedExchange(&restore_pending, 0) == 0) return;
  const HANDLE output = standard_output();
  if (output_mode_changed) {
    if (leave_text != nullptr) write_console_utf8(output, leave_text);
    SetConsoleMode(output, found_output_mode);
    output_mode_changed = false;
    leave_text = nullptr;
  }
  if (input_mode_changed) {
    SetConsoleMode(console_input, console_restored_input_mode(found_input_mode));
    input_mode_changed = false;
  }
}

// Ctrl+C, Ctrl+Break, the window closed, logoff or shutdown: the sampling
// thread is held where it is, so that it reports nothing about the port
// being closed under it; then the console goes back as found, the port is
// closed, and the process ends as Windows would end it.
BOOL WINAPI on_console_event(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: break;
    default: return FALSE;
  }
  if (main_thread != nullptr) SuspendThread(main_thread);
  restore_console();
  sensor_close();
  // Every text was flushed as written; nothing is left for the C runtime's
  // exit, which could wait on a lock of the held thread.
  TerminateProcess(GetCurrentProcess(), control_c_exit_status);
  return TRUE;
}

void install_handler(void) {
  if (handler_installed) return;
  DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &main_thread,
                  THREAD_SUSPEND_RESUME, FALSE, 0);
  handler_installed = SetConsoleCtrlHandler(on_console_event, TRUE) != FALSE;
}

bool screen_size(int *columns, int *rows) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(standard_output(), &info)) return false;
  *columns = info.srWindow.Right - info.srWindow.Left + 1;
  *rows = info.srWindow.Bottom - info.srWindow.Top + 1;
  return true;
}

}  // namespace

// The C runtime gives closed standard handles no descriptor to reuse.
void console_guard_standard_streams(void) {}

void console_open(void) {
  install_handler();
  if (!keys_available() || input_mode_changed) return;
  console_input =
      CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (console_input == INVALID_HANDLE_VALUE || !GetConsoleMode(console_input, &found_input_mode)) {
    return;
  }
  if (SetConsoleMode(console_input, console_sampling_input_mode(found_input_mode))) {
    input_mode_changed = true;
    InterlockedExchange(&restore_pending, 1);
  }
}

bool console_key_waiting(void) { return keys_available() && _kbhit() != 0; }

bool console_has_keys(void) { return keys_available(); }

int console_read_key(void) {
  if (!keys_available()) return -1;
  return _getch() & 0xFF;
}

void console_close(void) { restore_console(); }

bool console_write(const char *utf8_text) {
  return write_text(stdout, STD_OUTPUT_HANDLE, redirected_code_page, utf8_text);
}

bool console_write_error(const char *utf8_text) {
  return write_text(stderr, STD_ERROR_HANDLE, CP_ACP, utf8_text);
}

const char *console_output_failure(void) {
  static char reason[512];
  win32_error_text(output_error, reason, sizeof reason);
  return reason;
}

bool console_screen_open(const char *text) {
  const HANDLE output = standard_output();
  DWORD mode = 0;
  if (!GetConsoleMode(output, &mode)) return false;
  install_handler();
  if (!output_mode_changed) found_output_mode = mode;
  // Consoles before Windows 10 refuse the flag; some accept it silently:
  // it counts only when the mode read back carries it.
  DWORD now = 0;
  if (!SetConsoleMode(output, console_screen_output_mode(mode)) || !GetConsoleMode(output, &now) ||
      (now & ENABLE_VIRTUAL_TERMINAL_PROCESSING) == 0) {
    SetConsoleMode(output, found_output_mode);
    return false;
  }
  output_mode_changed = true;
  leave_text = text;
  screen_size(&known_columns, &known_rows);
  InterlockedExchange(&restore_pending, 1);
  return true;
}

bool console_screen_size(int *columns, int *rows) { return screen_size(columns, rows); }

bool console_screen_resized(void) {
  int columns = 0;
  int rows = 0;
  if (!screen_size(&columns, &rows)) return false;
  const bool changed = columns != known_columns || rows != known_rows;
  known_columns = columns;
  known_rows = rows;
  return changed;
}

bool console_screen_unicode(void) {
  DWORD mode = 0;
  return GetConsoleMode(standard_output(), &mode) && console_mode_shows_unicode(mode);
}
