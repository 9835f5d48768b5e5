// SPDX-License-Identifier: MIT
// The console modes the program sets on Windows, as pure functions of the
// modes it found, so that they are tested without a console.
#pragma once

#include <windows.h>

// Input while sampling: QuickEdit off, since with it one click in the
// window selects text, freezes the output and eats the key meant to end
// sampling. ENABLE_EXTENDED_FLAGS makes the console take the change.
DWORD console_sampling_input_mode(DWORD found);

// The input mode to put back: the one found, with ENABLE_EXTENDED_FLAGS so
// that QuickEdit and insert mode return as found even when the mode read did
// not carry that flag.
DWORD console_restored_input_mode(DWORD found);

// Output for full-screen use: VT sequences processed (Windows 10 and later;
// older consoles refuse the flag), with processed output as VT needs.
DWORD console_screen_output_mode(DWORD found);

// Whether a console with output mode `mode` shows block and braille
// characters, given that the program writes to a console through
// WriteConsoleW: only where VT processing is on, that is Windows 10's
// console or Windows Terminal. Older consoles draw with raster or legacy
// fonts that have neither. Even on Windows 10 the classic console's default
// fonts lack braille (Windows Terminal falls back to a font that has it):
// the rule cannot see the font, so braille may show as boxes there.
bool console_mode_shows_unicode(DWORD mode);
