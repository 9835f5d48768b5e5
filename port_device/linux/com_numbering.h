// SPDX-License-Identifier: MIT
// COM numbering of the Linux serial ttys, shared by the scan and by rs_open
// so that COM N always names the same device node within one set of devices.
#pragma once

#include <cstddef>

// Writes the device node of COM port com (such as /dev/ttyUSB0) into node
// (size bytes). False when no present serial tty has that number (a
// placeholder keeps its number but has no port to open) or it does not fit.
bool com_port_device_node(int com, char *node, std::size_t size);
