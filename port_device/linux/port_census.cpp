// SPDX-License-Identifier: MIT
// The census of present serial ports, over the scan's own listing.
#include "port_census.h"

#include "serial_ttys.h"

extern "C" int count_serial_ports(void) {
  serial_tty_list &list = shared_serial_tty_list();
  if (!list_serial_ttys(list)) return -1;
  int present = 0;
  for (int k = 0; k < list.count; ++k) present += list.ttys[k].present ? 1 : 0;
  return present;
}
