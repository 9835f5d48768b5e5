// SPDX-License-Identifier: MIT
// Description and hardware ID of a Linux serial tty, worded as the Ports
// class names the same adapter, so that the adapter-type pickups find it.
#pragma once

struct udev_device;

constexpr int serial_port_text_size = 256;

struct serial_port_text {
  char description[serial_port_text_size];
  char hardware_id[serial_port_text_size];
};

// Fills text from the tty's sysfs attributes (udev ID_* properties only
// where sysfs gives none) and from the driver and bus of its parents.
void describe_serial_port(udev_device *tty, serial_port_text &text);
