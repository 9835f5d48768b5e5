// SPDX-License-Identifier: MIT
// The two scan passes over a platform source, and the text rules they use:
// COM-number parsing and cuts that keep characters whole. Portable.
#pragma once

#include <cstddef>

#include "port_source.h"

// Device-class pass: rebuilds the rows from the present Ports-class devices.
// Returns device_count, or -1 (table untouched) when there is no device list.
int scan_device_class(port_class_source &source, char_length_fn char_length);

// Serial-map pass: adds each port's kernel device name to the rows with its
// COM number, appending a row for a number no row has. Returns the number of
// values whose text begins with "COM"; 0 when the map cannot be opened.
int scan_serial_map(port_map_source &source, char_length_fn char_length);

// Both passes in order, then an empty pickup list. Returns device_count.
int scan_ports(port_class_source &classes, port_map_source &map, char_length_fn char_length);

// COM number of a friendly name: of the occurrences of "COM" (then "com"),
// the first followed by a digit gives the number its digits spell; with no
// such occurrence but some "COM"/"com", 0. Returns -1 when neither occurs.
int friendly_name_com_number(const char *friendly_name);

// COM number of a serial-map text that begins with "COM": the digits after
// it, where a leading 0 starts no number (then 0).
int serial_map_com_number(const char *text);

// Length of the longest prefix of text, at most max_bytes, that ends on a
// whole character.
std::size_t whole_char_prefix(const char *text, std::size_t max_bytes, char_length_fn char_length);

// Copies text into slot (size bytes), cut at a whole character, NUL-terminated.
void copy_cut(char *slot, std::size_t size, const char *text, char_length_fn char_length);

// Character lengths of UTF-8: a valid sequence counts whole, any other byte
// alone.
int utf8_char_length(const char *text);
