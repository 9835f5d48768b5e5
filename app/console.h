// SPDX-License-Identifier: MIT
// Console of the sampling program: the key test and key read, text out, and
// full-screen use of the terminal. Implemented once per platform
// (console_posix.cpp, console_win32.cpp).
#pragma once

// Opens the null device for each of stdin, stdout and stderr that is not
// open, so that no later open (the serial port) takes its number. Call first.
void console_guard_standard_streams(void);

// Prepares the keyboard (once) and arranges for it to be restored on every
// exit. Call before the first key test.
void console_open(void);

// True when a key press is waiting; neither waits nor consumes it.
bool console_key_waiting(void);

// Whether a key press can ever arrive (a terminal or console to take it
// from).
bool console_has_keys(void);

// Takes exactly one key press, without echo, and returns its first byte
// (0..255). Returns -1 at once when no key can ever arrive (no terminal or
// console).
int console_read_key(void);

// Puts the keyboard and the screen back as console_open and
// console_screen_open found them. Safe to call twice.
void console_close(void);

// Writes UTF-8 text to stdout in the console's encoding, and flushes it.
// False when the text could not be written whole (stdout closed, full or
// failing); console_output_failure() then says why.
bool console_write(const char *utf8_text);

// Why the last failed console_write failed, as text for a diagnostic.
const char *console_output_failure(void);

// Full-screen use of the terminal behind stdout.
// Prepares it for VT sequences (on Windows: virtual terminal processing);
// false when stdout is no terminal that takes them. leave_text (static
// storage) is written to it whenever the console is restored, on every way
// out, so that the screen is left as found.
bool console_screen_open(const char *leave_text);

// The terminal's size in columns and rows; false when unknown.
bool console_screen_size(int *columns, int *rows);

// True once after each change of the terminal's size.
bool console_screen_resized(void);

// Whether the terminal shows UTF-8 block and braille characters.
bool console_screen_unicode(void);

// Writes UTF-8 text to stderr, whole, and flushes it: on Windows through the
// console's wide-character API when stderr is a console, else in the ANSI
// code page. False when it could not be written.
bool console_write_error(const char *utf8_text);
