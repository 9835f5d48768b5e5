// SPDX-License-Identifier: MIT
// The sources of the two scan passes over the serial ttys, and port_device_scan.
#include "udev_port_sources.h"

#include <cstdio>
#include <cstring>

#include "port_device.h"
#include "port_scan.h"

namespace {

// Copies length bytes of text and a NUL when it fits; the NUL may be left
// out when the text fills the buffer exactly. Returns the bytes stored, or
// -1 when the text does not fit.
int store_text(const char *text, char *buffer, int capacity) {
  const int length = static_cast<int>(std::strlen(text));
  if (capacity <= 0 || length > capacity) return -1;
  std::memcpy(buffer, text, static_cast<std::size_t>(length));
  if (length == capacity) return length;
  buffer[length] = '\0';
  return length + 1;
}

}  // namespace

bool tty_class_source::open_list() { return list_ != nullptr; }

bool tty_class_source::select_device(int index) {
  const int position = present_tty_position(*list_, index);
  if (position < 0) return false;
  describe_serial_port(list_->com(position), text_);
  std::snprintf(friendly_name_, sizeof friendly_name_, "%s (COM%d)", text_.description,
                position + 1);
  return true;
}

bool tty_class_source::read_property(property which, char *buffer, int capacity) {
  const char *text = which == description     ? text_.description
                     : which == friendly_name ? friendly_name_
                                              : text_.hardware_id;
  return store_text(text, buffer, capacity) >= 0;
}

void tty_class_source::close_list() {}

bool tty_map_source::open_map() { return list_ != nullptr; }

// A device node that does not fit is reported as a value of another type,
// so that the pass skips it and goes on with the next port.
bool tty_map_source::read_value_name(int index, char *name, int capacity, bool *is_text) {
  const int position = present_tty_position(*list_, index);
  if (position < 0) return false;
  *is_text = capacity > 0 &&
             tty_device_node(list_->com(position), name, static_cast<std::size_t>(capacity));
  return true;
}

int tty_map_source::read_value_text(int index, char *data, int capacity) {
  const int position = present_tty_position(*list_, index);
  if (position < 0) return -1;
  char text[16];
  std::snprintf(text, sizeof text, "COM%d", position + 1);
  return store_text(text, data, capacity);
}

void tty_map_source::close_map() {}

extern "C" int PORT_DEVICE_CALL port_device_scan(void) {
  serial_tty_list &list = shared_serial_tty_list();
  const bool listed = list_serial_ttys(list);
  tty_class_source classes(listed ? &list : nullptr);
  tty_map_source map(listed ? &list : nullptr);
  return scan_ports(classes, map, utf8_char_length);
}
