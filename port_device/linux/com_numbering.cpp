// SPDX-License-Identifier: MIT
// COM numbering of the serial ttys: which ttys count, their order, and the
// lookup of a COM number's device node.
#include "com_numbering.h"

#include <libudev.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "serial_ttys.h"

namespace {

// Families numbered first, in this order; every other name comes after.
const char *const numbered_families[] = {"ttyS", "ttyUSB", "ttyACM"};
constexpr int other_family = 3;

// A kernel tty name split into its family prefix and trailing index.
struct tty_name_parts {
  const char *name;
  std::size_t prefix_length;
  int family;
  bool has_index;
  unsigned long long index;
};

tty_name_parts split_tty_name(const char *name) {
  tty_name_parts parts{name, std::strlen(name), other_family, false, 0};
  while (parts.prefix_length > 0 && name[parts.prefix_length - 1] >= '0' &&
         name[parts.prefix_length - 1] <= '9') {
    --parts.prefix_length;
  }
  // Indexes too long for a number saturate; the full name breaks the tie.
  for (const char *digit = name + parts.prefix_length; *digit != '\0'; ++digit) {
    parts.has_index = true;
    if (parts.index < 100000000000000000ULL)
      parts.index = parts.index * 10 + static_cast<unsigned>(*digit - '0');
  }
  for (int family = 0; family < other_family; ++family) {
    const char *prefix = numbered_families[family];
    if (std::strlen(prefix) == parts.prefix_length &&
        std::strncmp(name, prefix, parts.prefix_length) == 0) {
      parts.family = family;
    }
  }
  return parts;
}

int compare_prefixes(const tty_name_parts &a, const tty_name_parts &b) {
  const int common = std::strncmp(a.name, b.name, std::min(a.prefix_length, b.prefix_length));
  if (common != 0) return common;
  return a.prefix_length < b.prefix_length ? -1 : a.prefix_length > b.prefix_length ? 1 : 0;
}

bool in_com_order(const serial_tty &left, const serial_tty &right) {
  const tty_name_parts a = split_tty_name(udev_device_get_sysname(left.device));
  const tty_name_parts b = split_tty_name(udev_device_get_sysname(right.device));
  if (a.family != b.family) return a.family < b.family;
  if (const int prefixes = compare_prefixes(a, b)) return prefixes < 0;
  if (a.has_index != b.has_index) return !a.has_index;
  if (a.index != b.index) return a.index < b.index;
  return std::strcmp(a.name, b.name) < 0;
}

// Ttys under /devices/virtual (consoles, ptys, ...) have no serial hardware.
bool has_hardware_parent(const char *syspath) {
  return std::strstr(syspath, "/devices/virtual/") == nullptr;
}

// An 8250 port slot that no UART answered reports type 0 (PORT_UNKNOWN).
bool is_placeholder(udev_device *tty) {
  const char *type = udev_device_get_sysattr_value(tty, "type");
  return type != nullptr && std::strcmp(type, "0") == 0;
}

void release_serial_ttys(serial_tty_list &list) {
  for (int k = 0; k < list.count; ++k) udev_device_unref(list.ttys[k].device);
  list.count = 0;
}

}  // namespace

serial_tty_list::~serial_tty_list() { release_serial_ttys(*this); }

bool list_serial_ttys(udev *context, serial_tty_list &list) {
  release_serial_ttys(list);
  udev_enumerate *enumerate = udev_enumerate_new(context);
  if (enumerate == nullptr) return false;
  const bool listed = udev_enumerate_add_match_subsystem(enumerate, "tty") >= 0 &&
                      udev_enumerate_scan_devices(enumerate) >= 0;
  udev_list_entry *entry = nullptr;
  udev_list_entry_foreach(entry, listed ? udev_enumerate_get_list_entry(enumerate) : nullptr) {
    if (list.count == max_serial_ttys) break;
    const char *syspath = udev_list_entry_get_name(entry);
    if (!has_hardware_parent(syspath)) continue;
    udev_device *tty = udev_device_new_from_syspath(context, syspath);
    if (tty == nullptr || udev_device_get_sysname(tty) == nullptr) {
      udev_device_unref(tty);
      continue;
    }
    list.ttys[list.count++] = {tty, !is_placeholder(tty)};
  }
  udev_enumerate_unref(enumerate);
  std::sort(list.ttys, list.ttys + list.count, in_com_order);
  return listed;
}

int present_tty_position(const serial_tty_list &list, int n) {
  for (int position = 0; position < list.count; ++position) {
    if (list.ttys[position].present && n-- == 0) return position;
  }
  return -1;
}

bool tty_device_node(udev_device *tty, char *node, std::size_t size) {
  const char *devnode = udev_device_get_devnode(tty);
  const int length = devnode != nullptr
                         ? std::snprintf(node, size, "%s", devnode)
                         : std::snprintf(node, size, "/dev/%s", udev_device_get_sysname(tty));
  if (length >= 0 && static_cast<std::size_t>(length) < size) return true;
  if (size > 0) node[0] = '\0';
  return false;
}

bool com_port_device_node(int com, char *node, std::size_t size) {
  if (com < 1 || com > max_serial_ttys || node == nullptr || size == 0) return false;
  udev *context = udev_new();
  if (context == nullptr) return false;
  bool found = false;
  {
    serial_tty_list list;
    if (list_serial_ttys(context, list) && com <= list.count && list.ttys[com - 1].present) {
      found = tty_device_node(list.ttys[com - 1].device, node, size);
    }
  }
  udev_unref(context);
  return found;
}
