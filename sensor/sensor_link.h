// SPDX-License-Identifier: MIT
// The sensor module behind the first FTDI-bus serial port: opening with its
// initialisation sequence, and one decoded six-axis sample per request.
#pragma once

#include <cstdint>

// COM number of the sensor's port; 0 until sensor_open chooses one.
extern int32_t sensor_port;

// 0 when the module is open and initialised; 1 when no FTDI-bus port exists;
// 2 when the port cannot be opened (rs_open_failure() says why). The replies
// of the opening are not examined; a port that goes away during it is
// reported by the first sensor_read.
int sensor_open(void);

// What sensor_read got.
enum sensor_outcome {
  sensor_sample_read = 0,  // all six values delivered
  sensor_no_sample = 1,    // silence or a reply without six fields; out-parameters untouched
  sensor_port_gone = 2     // the port is gone (unplugged, hung up)
};

// Requests and decodes one sample: geomagnetic axes 1-3, then acceleration
// axes 1-3 (x10). Returns within about two seconds when the module is silent.
// Once the port is gone, and when no port is open, returns sensor_port_gone
// at once.
sensor_outcome sensor_read(int32_t *geo1, int32_t *geo2, int32_t *geo3, int32_t *acc1,
                           int32_t *acc2, int32_t *acc3);

// Closes the port that sensor_open opened, once; later calls do nothing.
void sensor_close(void);
