// SPDX-License-Identifier: MIT
// The sensor module behind the first FTDI-bus serial port: opening with its
// initialisation sequence, and one decoded six-axis sample per request.
#pragma once

#include <cstdint>

#include "serial_transport.h"

// COM number of the sensor's port; 0 until sensor_open chooses one.
extern int32_t sensor_port;

// 0 when the module is open and initialised; 1 when no FTDI-bus port exists;
// 2 when the port cannot be opened (rs_open_failure() says why). The replies
// of the opening are not examined; a port that goes away during it is
// reported by the first sensor_read.
int sensor_open(void);

// Same as sensor_open, with the port named instead of the first FTDI-bus
// port: "COMn", or on Linux the port's device node ("/dev/ttyUSB0"). 1 when
// the directory has no port of that name.
int sensor_open_port(const char *name);

// The link on an already-open byte stream (a TCP connection, a replayed
// recording) instead of a COM port: the same opening, the same reads. name
// says what it is, for diagnostics. 0, or 2 when the serial layer cannot
// take it (the transport is then closed).
int sensor_open_transport(const char *name, serial_transport transport);

// Every byte the link exchanges on the ports it opens from now on passes tap
// (a recording of the run), from the opening's first command on.
void sensor_set_tap(serial_tap tap);

// A test for a waiting key press that the opening may consult: when an
// opening exchange gets no reply and a key is waiting, the opening ends at
// once (still returning 0). NULL, the default: never cut short.
void sensor_set_key_check(bool (*key_waiting)(void));

// What sensor_read got.
enum sensor_outcome {
  sensor_sample_read = 0,  // all six values delivered
  sensor_no_reply = 1,     // no complete reply in time; out-parameters untouched
  sensor_port_gone = 2,    // the port is gone (unplugged, hung up)
  sensor_bad_reply = 3     // a reply line that is no sample; out-parameters untouched
};

// Requests and decodes one sample: geomagnetic axes 1-3, then acceleration
// axes 1-3 (x10). A sample is a reply of exactly 24 hexadecimal digits.
// Returns within about a second and a quarter whatever the module does;
// while a late reply is still owed it sends nothing and reports no reply.
// Once the port is gone, and when no port is open, returns sensor_port_gone
// at once.
sensor_outcome sensor_read(int32_t *geo1, int32_t *geo2, int32_t *geo3, int32_t *acc1,
                           int32_t *acc2, int32_t *acc3);

// Closes the port that sensor_open opened, once; later calls do nothing.
void sensor_close(void);
