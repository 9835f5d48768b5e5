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

// The link on a byte stream that is already open (a TCP connection, a
// recording being replayed) in place of a COM port: the same opening, the
// same reads; the caller names the stream in its own diagnostics. 0, or 2
// when the serial layer cannot take the stream (rs_open_failure() may say
// why).
int sensor_open_transport(serial_transport transport);

// Every byte the link exchanges on the ports it opens from now on passes tap
// (a recording of the run), from the opening's first command on.
void sensor_set_tap(serial_tap tap);

// A test for a waiting key press that the opening may consult: when an
// opening exchange gets no reply and a key is waiting, the opening ends at
// once (still returning 0). NULL, the default: never cut short. A wait that
// the serial layer ends for a key (rs_woken) ends the opening at once too.
void sensor_set_key_check(bool (*key_waiting)(void));

// What sensor_read got.
enum sensor_outcome {
  sensor_sample_read = 0,  // all six values delivered
  sensor_no_reply = 1,     // no complete reply in time; out-parameters untouched
  sensor_port_gone = 2,    // the port is gone (unplugged, hung up)
  sensor_bad_reply = 3,    // lines came, none a sample; out-parameters untouched
  sensor_interrupted = 4   // a wait was ended by the wake source (a key); nothing delivered
};

// Requests and decodes one sample: geomagnetic axes 1-3, then acceleration
// axes 1-3 (x10). The sample is the first line of exactly 24 hexadecimal
// digits that comes for the request within a second while no earlier
// request is still owed; other lines are counted, never delivered. Returns
// within about a second and a quarter whatever the module does, plus the
// opening when the module is initialised again (it answers but sent no
// sample for 2 s, or it answers after a silence of 2 s or more); while a
// late reply is still owed it sends nothing and reports no reply. Once the
// port is gone, and when no port is open, returns sensor_port_gone at once.
sensor_outcome sensor_read(int32_t *geo1, int32_t *geo2, int32_t *geo3, int32_t *acc1,
                           int32_t *acc2, int32_t *acc3);

// Closes the port that sensor_open opened, once; later calls do nothing.
void sensor_close(void);

// What the link has to tell the user about the module, each once per
// episode (module_watch.h says when).
enum sensor_notice {
  sensor_notice_none = 0,
  sensor_notice_silent,             // nothing heard for 2 s
  sensor_notice_answers_again,      // heard again after that
  sensor_notice_not_samples,        // answers with lines that are no sample
  sensor_notice_unasked_lines,      // sends lines nobody asked for
  sensor_notice_late_replies,       // answers after the link gave up waiting
  sensor_notice_initialised_again,  // the opening was sent again
};

// The next notice to tell, or sensor_notice_none. The program asks after
// each read and after the opening.
sensor_notice sensor_take_notice(void);

// The notice as one line of text, without prefix or newline.
const char *sensor_notice_text(sensor_notice notice);
