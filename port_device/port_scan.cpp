// SPDX-License-Identifier: MIT
// The device-class pass and the serial-map pass, written once over a
// platform source, with the COM-number parsing and the cuts they share.
#include "port_scan.h"

#include <cstring>

#include "port_table.h"

namespace {

// Buffers of the device-class pass: 1024 bytes each, handed over as 1023 so
// that a text the platform returns without its NUL still ends inside.
constexpr int class_text_size = 1024;
constexpr int class_text_capacity = class_text_size - 1;

// Buffers of the serial-map pass: the platform gets 255, one byte is kept for
// a NUL the platform may leave out.
constexpr int map_text_capacity = 255;
constexpr int map_text_size = map_text_capacity + 1;

// A COM number has at most 9 digits; a longer run of digits is no number.
constexpr int max_com_digits = 9;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Value of the run of digits at text, or 0 when it is longer than a number.
int digits_value(const char *text) {
  int value = 0;
  int count = 0;
  for (; is_digit(text[count]); ++count) {
    if (count == max_com_digits) return 0;
    value = value * 10 + (text[count] - '0');
  }
  return value;
}

// COM number after the first occurrence of word that a digit follows, or -1
// when no occurrence does. *found tells whether word occurs at all.
int number_after(const char *text, const char *word, bool *found) {
  const std::size_t word_length = std::strlen(word);
  for (const char *at = text; (at = std::strstr(at, word)) != nullptr; ++at) {
    *found = true;
    if (is_digit(at[word_length])) return digits_value(at + word_length);
  }
  return -1;
}

void read_class_property(port_class_source &source, port_class_source::property which,
                         char (&buffer)[class_text_size]) {
  std::memset(buffer, 0, sizeof buffer);
  if (!source.read_property(which, buffer, class_text_capacity)) buffer[0] = '\0';
  buffer[class_text_capacity] = '\0';
}

void fill_class_row(int row, int number, const char *description, const char *hardware_id,
                    char_length_fn char_length) {
  port_table.port_number[row] = number;
  copy_cut(port_table.port_name[row], port_name_size, description, char_length);
  copy_cut(port_table.port_device_name[row], port_device_name_size, hardware_id, char_length);
  port_table.port_device_name2[row][0] = '\0';
}

// Gives every row numbered number the kernel device name; appends a row when
// none has it and the table has room.
void merge_map_value(int number, const char *name, const char *text, char_length_fn char_length) {
  bool matched = false;
  for (int row = 0; row < port_table.device_count; ++row) {
    if (port_table.port_number[row] != number) continue;
    copy_cut(port_table.port_device_name2[row], port_device_name_size, name, char_length);
    matched = true;
  }
  if (matched || port_table.device_count >= port_table_rows) return;
  const int row = port_table.device_count++;
  port_table.port_number[row] = number;
  copy_cut(port_table.port_name[row], port_name_size, text, char_length);
  port_table.port_device_name[row][0] = '\0';
  copy_cut(port_table.port_device_name2[row], port_device_name_size, name, char_length);
}

}  // namespace

int utf8_char_length(const char *text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  int length = 1;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4;
  for (int k = 1; k < length; ++k) {
    if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) return 1;
  }
  return length;
}

std::size_t whole_char_prefix(const char *text, std::size_t max_bytes, char_length_fn char_length) {
  std::size_t length = 0;
  while (text[length] != '\0') {
    const auto next = static_cast<std::size_t>(char_length(text + length));
    if (length + next > max_bytes) break;
    length += next;
  }
  return length;
}

void copy_cut(char *slot, std::size_t size, const char *text, char_length_fn char_length) {
  const std::size_t length = whole_char_prefix(text, size - 1, char_length);
  std::memcpy(slot, text, length);
  slot[length] = '\0';
}

int friendly_name_com_number(const char *friendly_name) {
  bool found = false;
  int number = number_after(friendly_name, "COM", &found);
  if (number < 0) number = number_after(friendly_name, "com", &found);
  if (number >= 0) return number;
  return found ? 0 : -1;
}

int serial_map_com_number(const char *text) {
  const char *digits = text + 3;
  return digits[0] >= '1' && digits[0] <= '9' ? digits_value(digits) : 0;
}

int scan_device_class(port_class_source &source, char_length_fn char_length) {
  if (!source.open_list()) return -1;
  port_table.device_count = 0;
  char description[class_text_size];
  char friendly_name[class_text_size];
  char hardware_id[class_text_size];
  for (int index = 0; port_table.device_count < port_table_rows && source.select_device(index);
       ++index) {
    read_class_property(source, port_class_source::description, description);
    read_class_property(source, port_class_source::friendly_name, friendly_name);
    read_class_property(source, port_class_source::hardware_id, hardware_id);
    const int number = friendly_name_com_number(friendly_name);
    if (number < 0) continue;
    fill_class_row(port_table.device_count++, number, description, hardware_id, char_length);
  }
  source.close_list();
  return port_table.device_count;
}

int scan_serial_map(port_map_source &source, char_length_fn char_length) {
  if (!source.open_map()) return 0;
  char name[map_text_size] = {};
  char text[map_text_size] = {};
  int com_values = 0;
  for (int index = 0;; ++index) {
    bool is_text = false;
    std::memset(name, 0, sizeof name);
    if (!source.read_value_name(index, name, map_text_capacity, &is_text)) break;
    name[map_text_capacity] = '\0';
    if (!is_text) continue;
    std::memset(text, 0, sizeof text);
    const int stored = source.read_value_text(index, text, map_text_capacity);
    if (stored < 0) continue;
    text[stored < map_text_capacity ? stored : map_text_capacity] = '\0';
    if (std::strncmp(text, "COM", 3) != 0) continue;
    ++com_values;
    merge_map_value(serial_map_com_number(text), name, text, char_length);
  }
  source.close_map();
  return com_values;
}

int scan_ports(port_class_source &classes, port_map_source &map, char_length_fn char_length) {
  scan_device_class(classes, char_length);
  scan_serial_map(map, char_length);
  port_table.pickup_count = 0;
  return port_table.device_count;
}
