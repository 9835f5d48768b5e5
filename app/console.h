// SPDX-License-Identifier: MIT
// Console of the sampling program: the key test and key read, and text out.
// Implemented once per platform (console_posix.cpp, console_win32.cpp).
#pragma once

// Prepares the keyboard (once) and arranges for it to be restored on every
// exit. Call before the first key test.
void console_open(void);

// True when a key press is waiting; neither waits nor consumes it.
bool console_key_waiting(void);

// Takes exactly one key press, without echo. Returns at once when no key can
// ever arrive (no terminal or console).
void console_read_key(void);

// Puts the keyboard back as console_open found it. Safe to call twice.
void console_close(void);

// Writes UTF-8 text to stdout in the console's encoding, and flushes it.
void console_write(const char *utf8_text);
