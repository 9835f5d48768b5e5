// SPDX-License-Identifier: MIT
// Serial-map source over the registry: each value of SERIALCOMM names a
// port's kernel device, and its text is the port's COM name.
#include "win32_sources.h"

namespace {

// The serial map, with the trailing backslash the key has always been
// opened with.
const char serial_map_key[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM\\";

}  // namespace

bool registry_map_source::open_map() {
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, serial_map_key, 0, KEY_READ, &key_) == ERROR_SUCCESS;
}

// First read of a value: name and type, no data, so the size of the data
// can never fail it.
bool registry_map_source::read_value_name(int index, char *name, int capacity, bool *is_text) {
  DWORD name_length = static_cast<DWORD>(capacity);
  DWORD type = REG_NONE;
  if (RegEnumValueA(key_, static_cast<DWORD>(index), name, &name_length, nullptr, &type, nullptr,
                    nullptr) != ERROR_SUCCESS) {
    return false;
  }
  *is_text = type == REG_SZ;
  return true;
}

// Second read: the same value with its text. A text that does not fit
// (ERROR_MORE_DATA), or a value that is no longer text, gives -1.
int registry_map_source::read_value_text(int index, char *data, int capacity) {
  DWORD name_length = sizeof name_ - 1;
  DWORD type = REG_NONE;
  DWORD data_size = static_cast<DWORD>(capacity);
  if (RegEnumValueA(key_, static_cast<DWORD>(index), name_, &name_length, nullptr, &type,
                    reinterpret_cast<BYTE *>(data), &data_size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return -1;
  }
  return static_cast<int>(data_size);
}

void registry_map_source::close_map() {
  if (key_ != nullptr) RegCloseKey(key_);
  key_ = nullptr;
}
