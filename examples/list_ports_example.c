/* SPDX-License-Identifier: MIT */
/* list_ports_example: lists the serial ports through the nine functions of
 * port_device.h: every port, then those on the FTDI bus, then those whose
 * texts contain the pattern given as the first argument. A starting point
 * for programs of your own; docs/library.md says how to build it against an
 * installed library, and the Windows zip's README.txt how to build it there. */
#include <stdio.h>

#include <port_device.h>

/* Prints the picked ports: COM number, description (at most 31 bytes: the
 * directory cuts longer ones), hardware ID and device name (the device node
 * on Linux, the kernel's device name on Windows). */
static void print_picked(void) {
  char name[PORT_NAME_SIZE];
  char hardware_id[PORT_DEVICE_NAME_SIZE];
  char device[PORT_DEVICE_NAME_SIZE];
  int n;
  for (n = 0; n < get_how_many_port_devices(); ++n) {
    if (get_port_name(n, name) != 0 || get_port_device_name(n, hardware_id) != 0 ||
        get_port_device_name2(n, device) != 0) {
      continue;
    }
    printf("  COM%-3d  %-31s  %-34s  %s\n", get_port_number(n), name, hardware_id, device);
  }
}

int main(int argc, char **argv) {
  /* The scan fills the table; the pickups choose rows of it; the queries
   * read the chosen rows by position. */
  printf("serial ports: %d\n", port_device_scan());
  port_device_pickup_all();
  print_picked();

  printf("on the FTDI bus (adapter type 2): %d\n", port_device_pickup_by_type(2));
  print_picked();

  if (argc > 1) {
    /* port_device_pickup adds to the list; a type code of no adapter
     * empties it first. */
    port_device_pickup_by_type(-1);
    printf("containing \"%s\": %d\n", argv[1], port_device_pickup(argv[1]));
    print_picked();
  }
  return 0;
}
