/* SPDX-License-Identifier: MIT */
/* A C program that uses the directory through orlanse_sensor.exe's import
 * library: it lists every port, one line each. */
#include <stdio.h>

#include "port_device.h"

int main(void) {
  char name[PORT_NAME_SIZE];
  char device_name[PORT_DEVICE_NAME_SIZE];
  char device_name2[PORT_DEVICE_NAME_SIZE];
  int n;
  port_device_scan();
  port_device_pickup_by_type(0);
  port_device_pickup("COM");
  port_device_pickup_all();
  for (n = 0; n < get_how_many_port_devices(); ++n) {
    if (get_port_name(n, name) != 0 || get_port_device_name(n, device_name) != 0 ||
        get_port_device_name2(n, device_name2) != 0) {
      return 1;
    }
    printf("COM%d\t%s\t%s\t%s\n", get_port_number(n), name, device_name, device_name2);
  }
  return 0;
}
