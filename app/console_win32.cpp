// SPDX-License-Identifier: MIT
// Console on Windows: keys through the C runtime's _kbhit/_getch, text as
// UTF-16 through the console when stdout is one, else as code page 932
// bytes, the encoding the program's Japanese texts have always had.
//
// While the program runs, QuickEdit is off; full-screen use turns on VT
// processing. Both are put back, and the screen's leave text written, on
// every way out: console_close, Ctrl+C, Ctrl+Break and closing the window
// (SetConsoleCtrlHandler), where the serial port is closed too.
//
// Writes to stdout run on a thread of their own while the main thread waits
// for them or a key, so that a pipe nobody reads or a paused console never
// keeps a key from ending the run.
#include <conio.h>
#include <fcntl.h>
#include <io.h>
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

void (*ending_cleanup)(void) = nullptr;

// The write in hand of the writer thread: wide text to a console, or bytes
// to a file or pipe; bytes counts the UTF-8 bytes it stands for.
struct stdout_write {
  HANDLE handle;
  bool console;
  const wchar_t *wide;
  int wide_length;
  const char *bytes;
  DWORD size;
  long long utf8_bytes;
  bool written;
  DWORD error;
};
stdout_write job = {};
HANDLE job_ready = nullptr;
HANDLE job_done = nullptr;
bool writer_started = false;
bool key_cut_output = false;  // a key ended a wait for stdout
long long unwritten_bytes = 0;
constexpr DWORD key_check_ms = 20;

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

bool write_file_whole(HANDLE file, const char *bytes, DWORD size, DWORD *error) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(file, bytes, size, &written, nullptr) || written == 0) {
      *error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
      return false;
    }
    bytes += written;
    size -= written;
  }
  return true;
}

DWORD WINAPI run_stdout_writes(void * /*unused*/) {
  for (;;) {
    WaitForSingleObject(job_ready, INFINITE);
    job.error = 0;
    if (job.console) {
      job.written = write_console_wide(job.handle, job.wide, job.wide_length);
      job.error = output_error;
    } else {
      job.written = write_file_whole(job.handle, job.bytes, job.size, &job.error);
    }
    SetEvent(job_done);
  }
}

bool start_writer(void) {
  if (writer_started) return true;
  job_ready = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  job_done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (job_ready == nullptr || job_done == nullptr) return false;
  const HANDLE thread = CreateThread(nullptr, 0, run_stdout_writes, nullptr, 0, nullptr);
  if (thread == nullptr) return false;
  CloseHandle(thread);
  writer_started = true;
  return true;
}

bool write_job_here(void) {
  job.written = job.console ? write_console_wide(job.handle, job.wide, job.wide_length)
                            : write_file_whole(job.handle, job.bytes, job.size, &job.error);
  if (!job.written && !job.console) output_error = job.error;
  return job.written;
}

// After a key ended a wait for stdout the writer may stay held with the
// job's buffers: later writes are counted as not written, untried.
bool count_after_key_cut(long long utf8_bytes) {
  if (!key_cut_output) return false;
  unwritten_bytes += utf8_bytes;
  output_error = ERROR_OPERATION_ABORTED;
  return true;
}

// Runs job on the writer thread and waits for it or a key. A key ends the
// wait: the job's bytes count as not written.
bool run_stdout_job(void) {
  if (!start_writer()) return write_job_here();
  SetEvent(job_ready);
  for (;;) {
    if (WaitForSingleObject(job_done, key_check_ms) == WAIT_OBJECT_0) {
      if (!job.written) output_error = job.error;
      return job.written;
    }
    if (keys_available() && _kbhit() != 0) {
      key_cut_output = true;
      unwritten_bytes += job.utf8_bytes;
      output_error = ERROR_OPERATION_ABORTED;
      return false;
    }
  }
}

// Bytes to stdout's file or pipe, with "\n" as "\r\n" where the C runtime
// keeps stdout in text mode, as every printf of the program always did.
bool write_stdout_bytes(const char *bytes, size_t length, long long utf8_bytes) {
  if (count_after_key_cut(utf8_bytes)) return false;
  std::fflush(stdout);
  const int fd = _fileno(stdout);
  const int mode = _setmode(fd, _O_BINARY);
  if (mode != -1) _setmode(fd, mode);
  static char translated[piece_bytes * 4];
  size_t size = 0;
  for (size_t k = 0; k < length; ++k) {
    if (bytes[k] == '\n' && mode != -1 && (mode & _O_TEXT) != 0) translated[size++] = '\r';
    translated[size++] = bytes[k];
  }
  job = {};
  // The C runtime hands out the handle as an integer.
  job.handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));  // NOLINT(performance-no-int-to-ptr)
  job.bytes = translated;
  job.size = static_cast<DWORD>(size);
  job.utf8_bytes = utf8_bytes;
  return run_stdout_job();
}

// Raw bytes to a C stream, flushed; the C runtime's text mode turns "\n"
// into "\r\n" as every printf of the program always did.
bool write_bytes(std::FILE *stream, const char *bytes, size_t length) {
  if (std::fwrite(bytes, 1, length, stream) == length && std::fflush(stream) == 0) return true;
  output_error = GetLastError();
  if (output_error == 0) output_error = ERROR_WRITE_FAULT;
  return false;
}

// Cuts UTF-8 text into pieces that end at a character's end, converts each
// to wide characters and hands it to take(wide, wide_length, piece_bytes,
// bytes_left_after). False as soon as a piece does not convert (the error
// kept) or take refuses one. No C runtime call, so that the Ctrl+C handler
// can use it while the other thread is held anywhere.
template <typename Take>
bool for_each_wide_piece(const char *text, Take take) {
  size_t left = std::strlen(text);
  while (left > 0) {
    wchar_t wide[piece_bytes];
    const int length = piece_length(text, left);
    const int wide_length = MultiByteToWideChar(CP_UTF8, 0, text, length, wide, piece_bytes);
    if (wide_length <= 0) {
      output_error = GetLastError();
      return false;
    }
    text += length;
    left -= static_cast<size_t>(length);
    if (!take(wide, wide_length, static_cast<size_t>(length), left)) return false;
  }
  return true;
}

// UTF-8 text to a console, whole.
bool write_console_utf8(HANDLE console, const char *text) {
  return for_each_wide_piece(text, [console](const wchar_t *wide, int wide_length, size_t, size_t) {
    return write_console_wide(console, wide, wide_length);
  });
}

// UTF-8 text to a redirected stream as bytes of code_page.
bool write_redirected(std::FILE *stream, UINT code_page, const char *text) {
  return for_each_wide_piece(
      text, [stream, code_page](const wchar_t *wide, int wide_length, size_t piece, size_t left) {
        char bytes[piece_bytes * 2];
        const int byte_length = WideCharToMultiByte(code_page, 0, wide, wide_length, bytes,
                                                    sizeof bytes, nullptr, nullptr);
        if (byte_length <= 0) {
          output_error = GetLastError();
          return false;
        }
        const bool written = stream == stdout
                                 ? write_stdout_bytes(bytes, static_cast<size_t>(byte_length),
                                                      static_cast<long long>(piece))
                                 : write_bytes(stream, bytes, static_cast<size_t>(byte_length));
        if (!written && stream == stdout && key_cut_output)
          unwritten_bytes += static_cast<long long>(left);
        return written;
      });
}

// UTF-8 text to stdout's console, whole, through the writer thread.
bool write_stdout_console(HANDLE console, const char *text) {
  return for_each_wide_piece(
      text, [console](const wchar_t *wide, int wide_length, size_t piece, size_t left) {
        if (count_after_key_cut(static_cast<long long>(piece) + static_cast<long long>(left))) {
          return false;
        }
        static wchar_t job_wide[piece_bytes];
        std::memcpy(job_wide, wide, sizeof(wchar_t) * static_cast<size_t>(wide_length));
        job = {};
        job.handle = console;
        job.console = true;
        job.wide = job_wide;
        job.wide_length = wide_length;
        job.utf8_bytes = static_cast<long long>(piece);
        if (run_stdout_job()) return true;
        if (key_cut_output) unwritten_bytes += static_cast<long long>(left);
        return false;
      });
}

// UTF-8 text to a standard stream: through WriteConsoleW when it is a
// console (after what the C runtime still holds for it), else as bytes of
// code_page. Any length.
bool write_text(std::FILE *stream, DWORD std_handle, UINT code_page, const char *text) {
  const HANDLE handle = GetStdHandle(std_handle);
  if (!is_console(handle)) return write_redirected(stream, code_page, text);
  std::fflush(stream);
  return stream == stdout ? write_stdout_console(handle, text) : write_console_utf8(handle, text);
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
  if (ending_cleanup != nullptr) ending_cleanup();
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

// An arrow or function key comes as two codes, 0 or 0xE0 and the key's:
// both are taken, so that nothing of it is left.
int console_read_key(void) {
  if (!keys_available()) return -1;
  const int key = _getch() & 0xFF;
  if (key == 0 || key == 0xE0) _getch();
  return key;
}

int console_key_fd(void) { return -1; }

void console_on_ending_signal(void (*cleanup)(void)) { ending_cleanup = cleanup; }

// Ctrl+C ends the program through the console handler, as it always has.
void console_defer_interrupt(void) {}

long long console_unwritten_bytes(void) { return unwritten_bytes; }

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

bool console_screen_usable(char *reason, int size) {
  int columns = 0;
  int rows = 0;
  if (screen_size(&columns, &rows)) return true;
  std::snprintf(reason, static_cast<size_t>(size), "--view needs a terminal on standard output");
  return false;
}

bool console_screen_open(const char * /*enter_text*/, const char *text) {
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
