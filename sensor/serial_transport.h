// SPDX-License-Identifier: MIT
// The byte stream under the serial layer: a local serial port, a TCP
// connection to a serial-to-network server, or a recording being replayed.
// The serial layer keeps one per open port and reads every line through it;
// each kind lives in a file of its own and fills in these calls.
#pragma once

struct serial_transport {
  // Waits at most wait_ms (0: not at all) until bytes have arrived and reads
  // those there are, up to size: the count (> 0), rs_timeout when none came
  // in time, rs_woken when the wake source turned ready first, or rs_gone.
  int (*read)(void *context, unsigned char *bytes, int size, int wait_ms);
  // Writes size bytes whole and waits until they have gone out, within
  // wait_ms: 0, rs_timeout, rs_woken or rs_gone.
  int (*write)(void *context, const unsigned char *bytes, int size, int wait_ms);
  // Ends the stream and puts back whatever opening it changed. Called once.
  void (*close)(void *context);
  void *context;
};

// Where the bytes of a port pass, both ways, as they pass: direction 'r'
// (from the module) or 'w' (to it), with the time since the port was opened.
// For a recording of the run.
struct serial_tap {
  void (*bytes)(void *context, char direction, long long ms_since_open, const unsigned char *data,
                int size);
  void *context;
};
