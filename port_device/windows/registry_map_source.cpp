// SPDX-License-Identifier: MIT
// Serial-map source over the registry: each value of SERIALCOMM names a
// port's kernel device, and its text is the port's COM name.
#include "win32_sources.h"

#include <cstring>

namespace {

// The serial map, with the trailing backslash the key has always been
// opened with.
const char serial_map_key[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM\\";

}  // namespace

bool registry_map_source::open_map() {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, serial_map_key, 0, KEY_READ, &key_) == ERROR_SUCCESS;
}

// One read for the value's name, type and text together, so that a value
// added or removed between two reads (a hot-plug) can never pair one value's
// name with another's text. A text longer than the pass takes
// (ERROR_MORE_DATA) is read again for name and type alone: the value then
// has no text, and the size of its data never ends the enumeration.
bool registry_map_source::read_value_name(int index, char *name, int capacity, bool *is_text) {
  DWORD name_length = static_cast<DWORD>(capacity);
  DWORD type = REG_NONE;
  DWORD data_size = sizeof text_ - 1;
  LONG result = RegEnumValueA(key_, static_cast<DWORD>(index), name, &name_length, nullptr, &type,
                              reinterpret_cast<BYTE *>(text_), &data_size);
  text_length_ = static_cast<int>(data_size);
  if (result == ERROR_MORE_DATA) {
    name_length = static_cast<DWORD>(capacity);
    result = RegEnumValueA(key_, static_cast<DWORD>(index), name, &name_length, nullptr, &type,
                           nullptr, nullptr);
    text_length_ = -1;
  }
  if (result != ERROR_SUCCESS) return false;
  *is_text = type == REG_SZ;
  text_index_ = *is_text ? index : -1;
  return true;
}

// The text of the value just read by read_value_name; -1 when it did not
// fit or another value is asked for.
int registry_map_source::read_value_text(int index, char *data, int capacity) {
  if (index != text_index_ || text_length_ < 0 || text_length_ > capacity) return -1;
  std::memcpy(data, text_, static_cast<size_t>(text_length_));
  return text_length_;
}

void registry_map_source::close_map() {
  if (key_ != nullptr) RegCloseKey(key_);
  key_ = nullptr;
}
