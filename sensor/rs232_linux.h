// SPDX-License-Identifier: MIT
// The Linux part of the serial layer as tests reach it: the calls that read
// and set a port's driver flags (TIOCGSERIAL/TIOCSSERIAL), which a test bed
// of emulated ttys does not take, can be replaced.
#pragma once

// Reading and setting the serial driver's flags (ASYNC_* of linux/serial.h)
// of an open port: 0, or -1 with errno set. Both must be async-signal-safe.
struct serial_flag_calls {
  int (*get)(int fd, int *flags);
  int (*set)(int fd, int flags);
};

// Uses calls from now on; {nullptr, nullptr}: the driver's ioctls again.
void serial_use_flag_calls(serial_flag_calls calls);
