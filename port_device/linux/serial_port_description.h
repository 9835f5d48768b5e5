// SPDX-License-Identifier: MIT
// Description and hardware ID of a Linux serial tty, worded as the Ports
// class names the same adapter, so that the adapter-type pickups find it.
#pragma once

#include <cstddef>

struct serial_tty;

constexpr int serial_port_text_size = 256;

struct serial_port_text {
  char description[serial_port_text_size];
  char hardware_id[serial_port_text_size];
};

// Fills text from sysfs: the tty's parents, their drivers and attributes
// (udev's ID_* properties only where sysfs gives no USB IDs).
void describe_serial_port(const serial_tty &tty, serial_port_text &text);

// Copies a text that a device or the kernel supplies into slot (size
// bytes), cut at a whole UTF-8 character, with every control character
// shown as one '?': C0 and DEL, C1 as U+0080 to U+009F, and bytes 0x80 to
// 0x9F that begin no valid UTF-8 character. So a device's own strings
// cannot disturb a terminal.
void copy_device_text(char *slot, std::size_t size, const char *text);
