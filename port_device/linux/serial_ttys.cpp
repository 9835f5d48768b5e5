// SPDX-License-Identifier: MIT
// Listing and ordering of the serial ttys from /sys/class/tty: one
// directory read, one readlink per tty and one read of each hardware tty's
// type, so that virtual consoles cost nothing and no device database is
// built for ttys that are thrown away.
#include "serial_ttys.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

// Families numbered first, in this order; every other name comes after.
const char *const numbered_families[] = {"ttyS", "ttyUSB", "ttyACM"};
constexpr int other_family = 3;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool all_digits(const char *text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (!is_digit(*text)) return false;
  }
  return true;
}

// tty and tty<N> are the virtual consoles: never a serial port.
bool is_console_name(const char *name) {
  return std::strncmp(name, "tty", 3) == 0 && (name[3] == '\0' || all_digits(name + 3));
}

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
  while (parts.prefix_length > 0 && is_digit(name[parts.prefix_length - 1])) --parts.prefix_length;
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

bool in_com_order(const char *left, const char *right) {
  const tty_name_parts a = split_tty_name(left);
  const tty_name_parts b = split_tty_name(right);
  if (a.family != b.family) return a.family < b.family;
  if (const int prefixes = compare_prefixes(a, b)) return prefixes < 0;
  if (a.has_index != b.has_index) return !a.has_index;
  if (a.index != b.index) return a.index < b.index;
  return std::strcmp(a.name, b.name) < 0;
}

enum class tty_state { present, placeholder, gone };

// An 8250 port slot that no UART answered reports type 0 (PORT_UNKNOWN);
// ttys of other drivers have no type. A class link whose device has gone
// (removed while the link was read) names no port.
tty_state read_tty_state(const char *syspath) {
  char path[tty_path_size + 8];
  std::snprintf(path, sizeof path, "%s/type", syspath);
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return access(syspath, F_OK) == 0 ? tty_state::present : tty_state::gone;
  char type[8] = {};
  const ssize_t length = read(fd, type, sizeof type - 1);
  close(fd);
  const bool unknown = length >= 1 && type[0] == '0' && (length == 1 || type[1] == '\n');
  return unknown ? tty_state::placeholder : tty_state::present;
}

// Records the tty that the class link name points at; false when it is
// not a serial port or does not fit.
bool read_serial_tty(int class_dir, const char *name, serial_tty &tty) {
  if (name[0] == '.' || is_console_name(name)) return false;
  if (std::strlen(name) >= sizeof tty.name) return false;
  char target[tty_path_size];
  const ssize_t length = readlinkat(class_dir, name, target, sizeof target - 1);
  if (length <= 0 || length >= static_cast<ssize_t>(sizeof target) - 1) return false;
  target[length] = '\0';
  // The link is relative (../../devices/...); the tty lives under /sys.
  const char *devices = std::strstr(target, "devices/");
  if (devices == nullptr) return false;
  if (std::strncmp(devices, "devices/virtual/", 16) == 0 && !is_rfcomm_name(name)) return false;
  const int written = std::snprintf(tty.syspath, sizeof tty.syspath, "/sys/%s", devices);
  if (written < 0 || written >= static_cast<int>(sizeof tty.syspath)) return false;
  const tty_state state = read_tty_state(tty.syspath);
  if (state == tty_state::gone) return false;
  std::snprintf(tty.name, sizeof tty.name, "%s", name);
  tty.present = state == tty_state::present;
  return true;
}

}  // namespace

bool is_rfcomm_name(const char *name) {
  return std::strncmp(name, "rfcomm", 6) == 0 && all_digits(name + 6);
}

bool list_serial_ttys(serial_tty_list &list) {
  list.count = 0;
  DIR *dir = opendir("/sys/class/tty");
  if (dir == nullptr) return false;
  const int class_dir = dirfd(dir);
  while (const dirent *entry = readdir(dir)) {
    if (list.count == max_serial_ttys) break;
    if (read_serial_tty(class_dir, entry->d_name, list.ttys[list.count])) ++list.count;
  }
  closedir(dir);
  for (int k = 0; k < list.count; ++k) list.order[k] = static_cast<short>(k);
  std::sort(list.order, list.order + list.count, [&list](short a, short b) {
    return in_com_order(list.ttys[a].name, list.ttys[b].name);
  });
  return true;
}

int present_tty_position(const serial_tty_list &list, int n) {
  for (int position = 0; position < list.count; ++position) {
    if (list.com(position).present && n-- == 0) return position;
  }
  return -1;
}

// The kernel puts a device whose name holds '!' in a subdirectory of /dev.
bool tty_device_node(const serial_tty &tty, char *node, std::size_t size) {
  const int length = std::snprintf(node, size, "/dev/%s", tty.name);
  if (length >= 0 && static_cast<std::size_t>(length) < size) {
    for (char *c = node; *c != '\0'; ++c) {
      if (*c == '!') *c = '/';
    }
    return true;
  }
  if (size > 0) node[0] = '\0';
  return false;
}

namespace {
serial_tty_list shared_list;
}  // namespace

serial_tty_list &shared_serial_tty_list() { return shared_list; }
