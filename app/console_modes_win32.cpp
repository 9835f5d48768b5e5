// SPDX-License-Identifier: MIT
#include "console_modes_win32.h"

DWORD console_sampling_input_mode(DWORD found) {
  return (found | ENABLE_EXTENDED_FLAGS) & ~static_cast<DWORD>(ENABLE_QUICK_EDIT_MODE);
}

DWORD console_restored_input_mode(DWORD found) { return found | ENABLE_EXTENDED_FLAGS; }

DWORD console_screen_output_mode(DWORD found) {
  return found | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING;
}

bool console_mode_shows_unicode(DWORD mode) {
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
