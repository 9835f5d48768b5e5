// SPDX-License-Identifier: MIT
#include "win32_errors.h"

#include <cstdio>

#include "rs232.h"

namespace {

bool is_timeout(DWORD error) { return error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT; }

}  // namespace

int win32_read_failure(DWORD error) { return is_timeout(error) ? rs_timeout : rs_gone; }

int win32_write_failure(DWORD error) { return is_timeout(error) ? rs_timeout : rs_gone; }

const char *win32_open_failure_hint(DWORD error) {
  return error == ERROR_ACCESS_DENIED ? "the port may be in use by another program" : nullptr;
}

void win32_error_text(DWORD error, char *text, int size) {
  if (size <= 0) return;
  wchar_t wide[256];
  DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, wide, sizeof wide / sizeof wide[0], nullptr);
  while (length > 0 && (wide[length - 1] == L'\r' || wide[length - 1] == L'\n' ||
                        wide[length - 1] == L' ' || wide[length - 1] == L'.')) {
    --length;
  }
  const int bytes = length == 0 ? 0
                                : WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length),
                                                      text, size - 1, nullptr, nullptr);
  if (bytes <= 0) {
    std::snprintf(text, static_cast<size_t>(size), "error %lu", static_cast<unsigned long>(error));
  } else {
    text[bytes] = '\0';
  }
}
