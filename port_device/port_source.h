// SPDX-License-Identifier: MIT
// What a platform hands the two scan passes. The passes are written once
// (port_scan.cpp) and own every buffer; a source only reads the platform.
#pragma once

// Device-class source: the present devices of the serial Ports class.
class port_class_source {
public:
  enum property { description, friendly_name, hardware_id };

  // Asks for the list of present devices; false when the platform gives none.
  virtual bool open_list() = 0;
  // Selects the device at index (from 0); false when there is none.
  virtual bool select_device(int index) = 0;
  // Reads a property of the selected device into buffer (capacity bytes).
  // The text may lack its NUL; false when the property cannot be read.
  virtual bool read_property(property which, char *buffer, int capacity) = 0;
  // Releases the list.
  virtual void close_list() = 0;

protected:
  ~port_class_source() = default;
};

// Serial-map source: values naming each serial port's kernel device.
class port_map_source {
public:
  // Opens the serial map; false when it cannot be opened.
  virtual bool open_map() = 0;
  // Reads the name (capacity bytes, NUL included) and whether the value is
  // text, of the value at index. False ends the enumeration.
  virtual bool read_value_name(int index, char *name, int capacity, bool *is_text) = 0;
  // Reads the text of the value at index into data (capacity bytes, may lack
  // its NUL). Returns the bytes stored, or -1 when the text does not fit.
  virtual int read_value_text(int index, char *data, int capacity) = 0;
  // Closes the map.
  virtual void close_map() = 0;

protected:
  ~port_map_source() = default;
};

// Byte length of the character that starts at text (at least 1 for a
// non-NUL byte), in the platform's 8-bit encoding. Cuts use it so that they
// never split a multi-byte character.
using char_length_fn = int (*)(const char *text);
