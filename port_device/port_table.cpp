// SPDX-License-Identifier: MIT
// The port table, find_pattern, the pickups and the four queries.
#include "port_table.h"

#include <cstring>

port_table_data port_table;

namespace {

// Entries 1 to m of the 1-based prefix table are used, so patterns of up to
// 255 bytes fit; longer ones are searched without it.
constexpr int prefix_table_size = 256;

int find_pattern_plain(const char *text, const char *pattern) {
  const char *hit = std::strstr(text, pattern);
  return hit ? static_cast<int>(hit - text) + 1 : -1;
}

// Type codes 1 to 6 and the text a port must contain.
const char *const type_patterns[] = {nullptr,    "ACPI\\PNP", "FTDIBUS", "CP210x",
                                     "Prolific", "Cypress",   "ArkMicro"};
constexpr int type_count = static_cast<int>(sizeof type_patterns / sizeof type_patterns[0]);

bool row_contains(int row, const char *pattern) {
  return find_pattern(port_table.port_name[row], pattern) != -1 ||
         find_pattern(port_table.port_device_name[row], pattern) != -1 ||
         find_pattern(port_table.port_device_name2[row], pattern) != -1;
}

bool pickup_has_number(int number) {
  for (int k = 0; k < port_table.pickup_count; ++k) {
    if (port_table.port_number[port_table.pickup_list[k]] == number) return true;
  }
  return false;
}

// Row behind position n of the pickup list, or -1.
int picked_row(int n) {
  if (n < 0 || n >= port_table.pickup_count) return -1;
  return port_table.pickup_list[n];
}

// Copies a slot's text into a caller's buffer of the slot's size: at most
// size bytes with the NUL, even for a slot that has lost its NUL.
void copy_slot(char *destination, const char *slot, std::size_t size) {
  const void *end = std::memchr(slot, '\0', size - 1);
  const std::size_t length =
      end != nullptr ? static_cast<std::size_t>(static_cast<const char *>(end) - slot) : size - 1;
  std::memcpy(destination, slot, length);
  destination[length] = '\0';
}

// Copies the text that column holds for the n-th picked row; -1 for a bad
// position or a NULL destination.
template <std::size_t size>
int copy_picked_text(int n, char *destination, const char (*column)[size]) {
  const int row = picked_row(n);
  if (row < 0 || destination == nullptr) return -1;
  copy_slot(destination, column[row], size);
  return 0;
}

}  // namespace

// Knuth-Morris-Pratt with 1-based indexes: P[j] is pattern[j - 1].
int find_pattern(const char *text, const char *pattern) {
  if (text == nullptr || pattern == nullptr) return -1;
  const int n = static_cast<int>(std::strlen(text));
  const int m = static_cast<int>(std::strlen(pattern));
  if (m >= prefix_table_size) return find_pattern_plain(text, pattern);

  int next[prefix_table_size];
  int i = 1;
  int j = 0;
  next[1] = 0;
  while (i < m) {
    if (j == 0 || pattern[j - 1] == pattern[i - 1]) {
      ++i;
      ++j;
      next[i] = j;
    } else {
      j = next[j];
    }
  }
  i = 1;
  j = 1;
  while (j <= m && i <= n) {
    if (j == 0 || pattern[j - 1] == text[i - 1]) {
      ++i;
      ++j;
    } else {
      j = next[j];
    }
  }
  return j == m + 1 ? i - m : -1;
}

extern "C" {

int PORT_DEVICE_CALL port_device_pickup(const char *pattern) {
  if (pattern == nullptr) return port_table.pickup_count;
  for (int row = 0; row < port_table.device_count; ++row) {
    if (port_table.pickup_count >= port_table_rows) break;
    if (!row_contains(row, pattern)) continue;
    if (pickup_has_number(port_table.port_number[row])) continue;
    port_table.pickup_list[port_table.pickup_count++] = row;
  }
  return port_table.pickup_count;
}

int PORT_DEVICE_CALL port_device_pickup_by_type(int type) {
  port_table.pickup_count = 0;
  if (type == 0) {
    for (int row = 0; row < port_table.device_count; ++row) port_table.pickup_list[row] = row;
    port_table.pickup_count = port_table.device_count;
  } else if (type > 0 && type < type_count) {
    port_device_pickup(type_patterns[type]);
  }
  return port_table.pickup_count;
}

int PORT_DEVICE_CALL port_device_pickup_all(void) { return port_device_pickup_by_type(0); }

int PORT_DEVICE_CALL get_how_many_port_devices(void) { return port_table.pickup_count; }

int PORT_DEVICE_CALL get_port_number(int n) {
  const int row = picked_row(n);
  return row < 0 ? -1 : port_table.port_number[row];
}

int PORT_DEVICE_CALL get_port_name(int n, char *name) {
  return copy_picked_text(n, name, port_table.port_name);
}

int PORT_DEVICE_CALL get_port_device_name(int n, char *name) {
  return copy_picked_text(n, name, port_table.port_device_name);
}

int PORT_DEVICE_CALL get_port_device_name2(int n, char *name) {
  return copy_picked_text(n, name, port_table.port_device_name2);
}

}  // extern "C"
