// SPDX-License-Identifier: MIT
// The port table behind the directory's nine functions, and the pattern
// search that the pickups and the scan share. Portable: no platform headers.
#pragma once

#include "port_device.h"

constexpr int port_table_rows = 100;
constexpr int port_name_size = PORT_NAME_SIZE;
constexpr int port_device_name_size = PORT_DEVICE_NAME_SIZE;

struct port_table_data {
  int port_number[port_table_rows];
  char port_name[port_table_rows][port_name_size];
  char port_device_name[port_table_rows][port_device_name_size];
  char port_device_name2[port_table_rows][port_device_name_size];
  int device_count;
  int pickup_list[port_table_rows];
  int pickup_count;
};

// Process-wide and zero-filled at load time (no constructor runs, so it is
// valid even when the Windows exe is loaded as a module).
extern port_table_data port_table;

// 1-based position of the first occurrence of pattern in text, or -1.
// An empty pattern matches at 1; NULL arguments never match.
int find_pattern(const char *text, const char *pattern);
