// SPDX-License-Identifier: MIT
// Whether the terminal TERM names can show the full-screen view, which
// speaks the ANSI (VT100) control sequences: looked up in the terminfo
// database where the terminal has an entry, else by the name of a family
// known to speak them.
#pragma once

#include <cstddef>
#include <cstdint>

enum class terminal_verdict {
  usable,         // moves its cursor with ESC [ row ; column H
  unnamed,        // TERM is not set or empty
  no_addressing,  // cannot move its cursor (dumb, hardcopy, generic)
  foreign,        // moves its cursor with sequences of another kind (vt52)
  unknown         // no terminfo entry and no family the view knows
};

terminal_verdict console_terminal_verdict(const char *term);

// The stderr text for a refusal (no program name, no line end) into out.
void console_terminal_refusal(terminal_verdict verdict, const char *term, char *out,
                              std::size_t size);
