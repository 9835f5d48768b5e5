// SPDX-License-Identifier: MIT
// What the serial layer on Windows makes of the errors a driver reports:
// pure functions of the error code, so that the paths Wine never takes are
// tested.
#pragma once

#include <windows.h>

// Outcome of a failed ReadFile on an open port: rs_timeout for a driver's
// timeout (ERROR_SEM_TIMEOUT, ERROR_TIMEOUT), else rs_gone: the errors real
// drivers give after an unplug (operation aborted, bad command, access
// denied, device removed or not connected, general failure, invalid handle)
// and any other, since a read that fails otherwise cannot go on either.
int win32_read_failure(DWORD error);

// Outcome of a failed WriteFile: rs_timeout for a write timeout, which some
// drivers report as ERROR_SEM_TIMEOUT rather than as a short count; rs_gone
// for everything else.
int win32_write_failure(DWORD error);

// A hint to add to the system's reason when CreateFile fails with error, or
// nullptr: access denied on a serial port nearly always means that another
// program holds it open.
const char *win32_open_failure_hint(DWORD error);

// The system's text for error as UTF-8 into text (size bytes, NUL always
// written), without its closing full stop and line end; "error N" when the
// system has none.
void win32_error_text(DWORD error, char *text, int size);
