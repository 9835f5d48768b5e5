// SPDX-License-Identifier: MIT
// COM numbering of the serial ttys: the lookup of a COM number's device
// node, over the same listing as the scan.
#include "com_numbering.h"

#include "serial_ttys.h"

bool com_port_device_node(int com, char *node, std::size_t size) {
  if (com < 1 || com > max_serial_ttys || node == nullptr || size == 0) return false;
  serial_tty_list &list = shared_serial_tty_list();
  if (!list_serial_ttys(list) || com > list.count || !list.com(com - 1).present) return false;
  return tty_device_node(list.com(com - 1), node, size);
}
