/* SPDX-License-Identifier: MIT */
/* msvc_client: a C program built as Microsoft's tools build one (clang for
 * i686-pc-windows-msvc, lld-link with its default /SAFESEH) that links the
 * directory through port_device.lib. It has no C runtime: its entry point
 * calls the nine functions and returns the number of checks that failed,
 * which becomes the process's exit status. */
#include "port_device.h"

static int same_text(const char *a, const char *b) {
  while (*a != '\0' && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

int client_start(void) {
  char name[PORT_NAME_SIZE];
  char device[PORT_DEVICE_NAME_SIZE];
  char device2[PORT_DEVICE_NAME_SIZE];
  int failures = 0;
  const int ports = port_device_scan();
  if (get_how_many_port_devices() != 0) ++failures;
  if (port_device_pickup_all() != ports) ++failures;
  if (port_device_pickup_by_type(2) > 0) {
    if (get_port_number(0) < 0) ++failures;
    if (get_port_name(0, name) != 0 || get_port_device_name(0, device) != 0 ||
        get_port_device_name2(0, device2) != 0) {
      ++failures;
    }
  }
  if (port_device_pickup("FTDIBUS") < 0) ++failures;
  if (get_port_name(-1, name) != -1) ++failures;
  if (port_device_pickup_by_type(1) > 0 && get_port_name(0, name) == 0 && same_text(name, "")) {
    ++failures;
  }
  return failures;
}
