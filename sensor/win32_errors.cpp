// SPDX-License-Identifier: MIT
#include "win32_errors.h"

#include "rs232.h"

namespace {

bool is_timeout(DWORD error) { return error == ERROR_SEM_TIMEOUT || error == ERROR_TIMEOUT; }

}  // namespace

int win32_read_failure(DWORD error) { return is_timeout(error) ? rs_timeout : rs_gone; }

int win32_write_failure(DWORD error) { return is_timeout(error) ? rs_timeout : rs_gone; }

const char *win32_open_failure_hint(DWORD error) {
  return error == ERROR_ACCESS_DENIED ? "the port may be in use by another program" : nullptr;
}
