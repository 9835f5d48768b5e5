/* SPDX-License-Identifier: MIT */
/* A program of someone else's that uses the serial port directory as the
 * packages install it: only the public header and the library. It scans,
 * picks every port, reads each one back and checks the refusals of the
 * queries; prints one line per port and exits 0 when all holds. */
#include <stdio.h>

#include <port_device.h>

int main(void) {
  char name[PORT_NAME_SIZE];
  char device_name[PORT_DEVICE_NAME_SIZE];
  char device_name2[PORT_DEVICE_NAME_SIZE];
  const int found = port_device_scan();
  const int picked = port_device_pickup_all();
  int n;
  if (found < 0 || found > 100 || picked != found || get_how_many_port_devices() != picked) {
    fprintf(stderr, "consumer: scan found %d, pickup gave %d\n", found, picked);
    return 1;
  }
  for (n = 0; n < picked; ++n) {
    if (get_port_name(n, name) != 0 || get_port_device_name(n, device_name) != 0 ||
        get_port_device_name2(n, device_name2) != 0 || get_port_number(n) < 0) {
      fprintf(stderr, "consumer: port %d cannot be read back\n", n);
      return 1;
    }
    printf("COM%d  %s  %s  %s\n", get_port_number(n), name, device_name, device_name2);
  }
  if (get_port_number(picked) != -1 || get_port_name(-1, name) != -1 ||
      get_port_device_name(picked, NULL) != -1) {
    fprintf(stderr, "consumer: a query past the list did not refuse\n");
    return 1;
  }
  printf("consumer: %d ports\n", picked);
  return 0;
}
