// SPDX-License-Identifier: MIT
// For the link's own files: the link on a port the serial layer already has
// open under the number port (a COM port, or a byte stream put in a port's
// place): runs the opening and returns 0.
#pragma once

#include <cstdint>

int sensor_link_start(int16_t port);
