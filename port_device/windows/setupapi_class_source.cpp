// SPDX-License-Identifier: MIT
// Device-class source over SetupAPI: the present devices of the Ports class
// and their description, friendly name and hardware ID.
#include "win32_sources.h"

namespace {

// GUID_DEVCLASS_PORTS, held here so that no GUID library or INITGUID is
// needed; constant-initialised, so valid without any start-up code.
const GUID ports_class_guid = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

DWORD registry_property(port_class_source::property which) {
  switch (which) {
    case port_class_source::description: return SPDRP_DEVICEDESC;
    case port_class_source::friendly_name: return SPDRP_FRIENDLYNAME;
    case port_class_source::hardware_id: break;
  }
  return SPDRP_HARDWAREID;
}

}  // namespace

bool setupapi_class_source::open_list() {
  list_ = SetupDiGetClassDevsA(&ports_class_guid, nullptr, nullptr, DIGCF_PRESENT);
  return list_ != INVALID_HANDLE_VALUE;
}

bool setupapi_class_source::select_device(int index) {
  device_ = SP_DEVINFO_DATA{};
  device_.cbSize = sizeof device_;
  return SetupDiEnumDeviceInfo(list_, static_cast<DWORD>(index), &device_) != FALSE;
}

// The hardware ID is a list of strings; the first one ends at the first NUL,
// which is all the pass reads.
bool setupapi_class_source::read_property(property which, char *buffer, int capacity) {
  DWORD required = 0;
  return SetupDiGetDeviceRegistryPropertyA(list_, &device_, registry_property(which), nullptr,
                                           reinterpret_cast<BYTE *>(buffer),
                                           static_cast<DWORD>(capacity), &required) != FALSE;
}

void setupapi_class_source::close_list() {
  if (list_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(list_);
  list_ = INVALID_HANDLE_VALUE;
}
