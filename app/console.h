// SPDX-License-Identifier: MIT
// Console of the sampling program: the key test and key read, text out, and
// full-screen use of the terminal. Implemented once per platform
// (console_posix.cpp, console_win32.cpp).
#pragma once

// Opens the null device for each of stdin, stdout and stderr that is not
// open, so that no later open (the serial port) takes its number. Call first.
void console_guard_standard_streams(void);

// Prepares the keyboard (once) and arranges for it to be restored on every
// exit. Call before the first key test. On POSIX, output flow control is off
// meanwhile, so that Ctrl-S is a key like any other.
void console_open(void);

// The descriptor that turns readable when a key (or a Ctrl-C the console
// holds back, see console_defer_interrupt) is waiting, for waits that also
// watch other things; -1 when none (no terminal, or Windows).
int console_key_fd(void);

// cleanup is called first from the handler of every signal that ends the
// program (so it must be async-signal-safe), before the console is put back.
void console_on_ending_signal(void (*cleanup)(void));

// From now on Ctrl-C (SIGINT) ends the run as a key does: the key test says
// yes and the key read returns 3. console_close then ends the program by
// SIGINT. A second Ctrl-C before that ends it at once.
void console_defer_interrupt(void);

// True when a key press is waiting; neither waits nor consumes it.
bool console_key_waiting(void);

// Whether a key press can ever arrive (a terminal or console to take it
// from).
bool console_has_keys(void);

// Takes exactly one key press, without echo, and returns its first byte
// (0..255); the rest of a key that sends several bytes (an arrow's escape
// sequence) is read and dropped. Returns -1 at once when no key can ever
// arrive (no terminal or console).
int console_read_key(void);

// Puts the keyboard and the screen back as console_open and
// console_screen_open found them. Safe to call twice.
void console_close(void);

// Writes UTF-8 text to stdout in the console's encoding, and flushes it.
// False when the text could not be written whole (stdout closed, full or
// failing); console_output_failure() then says why. While stdout takes no
// output (paused, full, not read) it waits for stdout or a key: a key ends
// the wait, and false is returned with the bytes not written counted in
// console_unwritten_bytes(). From then on writes no longer wait: what stdout
// does not take at once is counted too.
bool console_write(const char *utf8_text);

// Bytes that were not written because a key was pressed while stdout took
// no output; 0 when none. The run then ends as after a key.
long long console_unwritten_bytes(void);

// Why the last failed console_write failed, as text for a diagnostic.
const char *console_output_failure(void);

// Full-screen use of the terminal behind stdout.
// Whether stdout is a terminal the full screen can use (one that moves its
// cursor with VT sequences); else false with the reason, for a diagnostic,
// in reason.
bool console_screen_usable(char *reason, int size);

// Prepares it for VT sequences (on Windows: virtual terminal processing);
// false when stdout is no terminal that takes them. leave_text (static
// storage) is written to it whenever the console is restored, on every way
// out, so that the screen is left as found; after a stop (Ctrl-Z) and
// continuing, enter_text (static storage) is written before the next text
// and the next console_screen_resized() says yes, so that it is redrawn.
bool console_screen_open(const char *enter_text, const char *leave_text);

// The terminal's size in columns and rows; a terminal that reports none (a
// serial console says 0x0) has the size COLUMNS and LINES give. False when
// unknown.
bool console_screen_size(int *columns, int *rows);

// True once after each change of the terminal's size.
bool console_screen_resized(void);

// Whether the terminal shows UTF-8 block and braille characters.
bool console_screen_unicode(void);

// Writes UTF-8 text to stderr, whole, and flushes it: on Windows through the
// console's wide-character API when stderr is a console, else in the ANSI
// code page. False when it could not be written.
bool console_write_error(const char *utf8_text);
