// SPDX-License-Identifier: MIT
// The Windows sources of the scan: the Ports device class through SetupAPI,
// the serial map in the registry, and character lengths in the ANSI code
// page. The passes in port_scan.cpp own every buffer; these only read.
#pragma once

#include <windows.h>

#include <setupapi.h>  // needs windows.h before it

#include "port_source.h"

// Present devices of the Ports setup class, one at a time.
class setupapi_class_source final : public port_class_source {
public:
  bool open_list() override;
  bool select_device(int index) override;
  bool read_property(property which, char *buffer, int capacity) override;
  void close_list() override;

private:
  HDEVINFO list_ = INVALID_HANDLE_VALUE;
  SP_DEVINFO_DATA device_ = {};
};

// Values of HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM.
class registry_map_source final : public port_map_source {
public:
  bool open_map() override;
  bool read_value_name(int index, char *name, int capacity, bool *is_text) override;
  int read_value_text(int index, char *data, int capacity) override;
  void close_map() override;

private:
  HKEY key_ = nullptr;
  // The text of the value last read, as the registry gave it (it may lack
  // its NUL), and which value it belongs to.
  char text_[256] = {};
  int text_length_ = -1;
  int text_index_ = -1;
};

// Byte length of the character at text in code page code_page: 2 for a lead
// byte followed by a non-NUL byte, else 1.
int code_page_char_length(unsigned code_page, const char *text);

// The same in the system's ANSI code page; what the scan cuts with.
int ansi_char_length(const char *text);
