// SPDX-License-Identifier: MIT
// Platform sources that play a script, for the scan passes' tests.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "port_source.h"

struct scripted_device {
  std::string description;
  std::string friendly_name;
  std::string hardware_id;  // may hold several NUL-separated strings
  bool readable = true;     // false: every property read fails
};

class scripted_class_source final : public port_class_source {
public:
  std::vector<scripted_device> devices;
  bool grant_list = true;
  bool omit_nul = false;  // hand texts over without their NUL where they fill the buffer
  int selects = 0;
  int closes = 0;

  bool open_list() override { return grant_list; }
  bool select_device(int index) override {
    ++selects;
    selected_ = index;
    return index < static_cast<int>(devices.size());
  }
  bool read_property(property which, char *buffer, int capacity) override {
    const scripted_device &device = devices[static_cast<std::size_t>(selected_)];
    if (!device.readable) return false;
    const std::string &text = which == description     ? device.description
                              : which == friendly_name ? device.friendly_name
                                                       : device.hardware_id;
    const std::size_t with_nul = text.size() + (omit_nul ? 0 : 1);
    if (with_nul > static_cast<std::size_t>(capacity)) return false;
    std::memcpy(buffer, text.c_str(), with_nul);
    return true;
  }
  void close_list() override { ++closes; }

private:
  int selected_ = -1;
};

struct scripted_value {
  std::string name;
  std::string text;
  bool is_text = true;
  bool fits = true;  // false: the text read fails as too long
};

class scripted_map_source final : public port_map_source {
public:
  std::vector<scripted_value> values;
  bool grant_map = true;
  bool omit_nul = false;
  int closes = 0;

  bool open_map() override { return grant_map; }
  bool read_value_name(int index, char *name, int capacity, bool *is_text) override {
    if (index >= static_cast<int>(values.size())) return false;
    const scripted_value &value = values[static_cast<std::size_t>(index)];
    const std::size_t length = std::min(value.name.size(), static_cast<std::size_t>(capacity - 1));
    std::memcpy(name, value.name.c_str(), length);
    name[length] = '\0';
    *is_text = value.is_text;
    return true;
  }
  int read_value_text(int index, char *data, int capacity) override {
    const scripted_value &value = values[static_cast<std::size_t>(index)];
    const std::size_t with_nul = value.text.size() + (omit_nul ? 0 : 1);
    if (!value.fits || with_nul > static_cast<std::size_t>(capacity)) return -1;
    std::memcpy(data, value.text.c_str(), with_nul);
    return static_cast<int>(with_nul);
  }
  void close_map() override { ++closes; }
};
