// SPDX-License-Identifier: MIT
// The two scan sources over the serial ttys of /sys/class/tty: one Ports-class
// device and one serial-map value per present tty, both in COM order.
#pragma once

#include "port_source.h"
#include "serial_port_description.h"
#include "serial_ttys.h"

// Device-class source: description, "description (COMN)" and hardware ID.
class tty_class_source final : public port_class_source {
public:
  // list is null when the ttys could not be listed.
  explicit tty_class_source(const serial_tty_list *list) : list_(list) {}

  bool open_list() override;
  bool select_device(int index) override;
  bool read_property(property which, char *buffer, int capacity) override;
  void close_list() override;

private:
  const serial_tty_list *list_;
  serial_port_text text_{};
  char friendly_name_[serial_port_text_size + 16] = "";
};

// Serial-map source: value name = the tty's device node, text = "COMN".
class tty_map_source final : public port_map_source {
public:
  explicit tty_map_source(const serial_tty_list *list) : list_(list) {}

  bool open_map() override;
  bool read_value_name(int index, char *name, int capacity, bool *is_text) override;
  int read_value_text(int index, char *data, int capacity) override;
  void close_map() override;

private:
  const serial_tty_list *list_;
};
