/* SPDX-License-Identifier: MIT */
/* dll_client: calls the directory's nine functions in port_device.dll,
 * linked through its MinGW import library, over the standard fake ports,
 * and checks what they give. */
#include <stdio.h>
#include <string.h>

#include "port_device.h"

static int failures = 0;
static int checks = 0;

static void check(int ok, const char *what) {
  ++checks;
  if (!ok) {
    ++failures;
    fprintf(stderr, "dll_client: FAILED: %s\n", what);
  }
}

int main(void) {
  char name[PORT_NAME_SIZE];
  char device[PORT_DEVICE_NAME_SIZE];
  char device2[PORT_DEVICE_NAME_SIZE];

  check(port_device_scan() == 6, "the scan finds the six standard ports");
  check(get_how_many_port_devices() == 0, "a scan empties the pickup list");
  check(port_device_pickup_by_type(2) == 1 && get_port_number(0) == 5, "the FTDI-bus port is COM5");
  check(get_port_name(0, name) == 0 && strcmp(name, "USB Serial Port") == 0, "its description");
  check(get_port_device_name(0, device) == 0 &&
            strcmp(device, "FTDIBUS\\COMPORT&VID_0403&PID_6001") == 0,
        "its hardware ID");
  check(get_port_device_name2(0, device2) == 0 && strcmp(device2, "\\Device\\VCP0") == 0,
        "its kernel device name");
  check(get_port_number(1) == -1 && get_port_name(1, name) == -1 && get_port_number(-1) == -1,
        "positions outside the list give -1");
  check(port_device_pickup_all() == 6 && get_how_many_port_devices() == 6,
        "pickup_all lists every port");
  check(port_device_pickup_by_type(7) == 0, "an unknown type picks nothing");
  check(port_device_pickup("Communications") == 1 && get_port_number(0) == 1,
        "a pattern picks the ACPI port");

  printf("dll_client: %d of %d checks passed\n", checks - failures, checks);
  return failures == 0 ? 0 : 1;
}
