// SPDX-License-Identifier: MIT
// Writes and removes fake Ports-class devices and serial-map values.
#include "registry_fixture.h"

#include <windows.h>

#include <cstdio>

namespace {

const char enum_root[] = "System\\CurrentControlSet\\Enum\\";
const char serial_map[] = "HARDWARE\\DEVICEMAP\\SERIALCOMM";
const wchar_t ports_class_guid[] = L"{4d36e978-e325-11ce-bfc1-08002be10318}";

std::wstring wide(const std::string &utf8) {
  if (utf8.empty()) return std::wstring();
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], length);
  return text;
}

bool report(const char *what, const std::string &where, LONG status) {
  if (status == ERROR_SUCCESS) return true;
  std::fprintf(stderr, "registry_fixture: %s %s: error %ld\n", what, where.c_str(), status);
  return false;
}

// Text values go in as UTF-16 so that the ANSI reads convert them into
// whatever code page the run uses.
LONG set_text(HKEY key, const wchar_t *name, const std::wstring &text, DWORD type) {
  return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE *>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::wstring multi_string(const std::vector<std::string> &strings) {
  std::wstring joined;
  for (const std::string &text : strings) {
    joined += wide(text);
    joined += L'\0';
  }
  return joined;  // set_text adds the closing NUL
}

bool write_device(const fake_device &device) {
  HKEY key = nullptr;
  const std::string path = enum_root + device.instance;
  if (!report("create", path,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr))) {
    return false;
  }
  LONG status = set_text(key, L"ClassGUID", ports_class_guid, REG_SZ);
  if (status == ERROR_SUCCESS) status = set_text(key, L"Class", L"Ports", REG_SZ);
  if (status == ERROR_SUCCESS)
    status = set_text(key, L"DeviceDesc", wide(device.description), REG_SZ);
  if (status == ERROR_SUCCESS && !device.friendly_name.empty()) {
    status = set_text(key, L"FriendlyName", wide(device.friendly_name), REG_SZ);
  }
  if (status == ERROR_SUCCESS) {
    status = set_text(key, L"HardwareID", multi_string(device.hardware_ids), REG_MULTI_SZ);
  }
  RegCloseKey(key);
  return report("fill", path, status);
}

// Deletes the values of the serial map, Wine's own for the host's ports
// included, so that the map holds exactly what a test puts there.
bool clear_serial_map(HKEY map) {
  for (;;) {
    char name[256];
    DWORD length = sizeof name;
    const LONG status = RegEnumValueA(map, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_NO_MORE_ITEMS) return true;
    if (!report("enumerate", serial_map, status)) return false;
    if (!report("delete", name, RegDeleteValueA(map, name))) return false;
  }
}

bool write_map_values(const std::vector<fake_map_value> &values) {
  HKEY map = nullptr;
  if (!report("create", serial_map,
              RegCreateKeyExA(HKEY_LOCAL_MACHINE, serial_map, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &map, nullptr))) {
    return false;
  }
  bool ok = clear_serial_map(map);
  for (const fake_map_value &value : values) {
    if (!ok) break;
    const LONG status = value.is_text
                            ? set_text(map, wide(value.name).c_str(), wide(value.text), REG_SZ)
                            : RegSetValueExA(map, value.name.c_str(), 0, REG_BINARY,
                                             reinterpret_cast<const BYTE *>(value.text.data()),
                                             static_cast<DWORD>(value.text.size()));
    ok = report("set", value.name, status);
  }
  RegCloseKey(map);
  return ok;
}

// Removes every device of the Ports class from the Enum tree (Wine may list
// the host's own), walking the tree three levels deep: bus, device, instance.
void remove_ports_class_devices(void) {
  HKEY root = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Enum", 0, KEY_ALL_ACCESS,
                    &root) != ERROR_SUCCESS) {
    return;
  }
  std::vector<std::string> doomed;
  char bus[256];
  for (DWORD b = 0;; ++b) {
    DWORD length = sizeof bus;
    if (RegEnumKeyExA(root, b, bus, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
      break;
    HKEY bus_key = nullptr;
    if (RegOpenKeyExA(root, bus, 0, KEY_READ, &bus_key) != ERROR_SUCCESS) continue;
    char device[256];
    for (DWORD d = 0;; ++d) {
      length = sizeof device;
      if (RegEnumKeyExA(bus_key, d, device, &length, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      HKEY device_key = nullptr;
      if (RegOpenKeyExA(bus_key, device, 0, KEY_READ, &device_key) != ERROR_SUCCESS) continue;
      char instance[256];
      for (DWORD i = 0;; ++i) {
        length = sizeof instance;
        if (RegEnumKeyExA(device_key, i, instance, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
          break;
        wchar_t guid[64] = {};
        DWORD size = sizeof guid - sizeof(wchar_t);
        if (RegGetValueW(device_key, wide(instance).c_str(), L"ClassGUID", RRF_RT_REG_SZ, nullptr,
                         guid, &size) == ERROR_SUCCESS &&
            lstrcmpiW(guid, ports_class_guid) == 0) {
          doomed.push_back(std::string(bus) + "\\" + device + "\\" + instance);
        }
      }
      RegCloseKey(device_key);
    }
    RegCloseKey(bus_key);
  }
  for (const std::string &path : doomed) RegDeleteTreeA(root, path.c_str());
  RegCloseKey(root);
}

}  // namespace

bool install_fake_ports(const std::vector<fake_device> &devices,
                        const std::vector<fake_map_value> &values) {
  remove_ports_class_devices();
  for (const fake_device &device : devices) {
    if (!write_device(device)) return false;
  }
  return write_map_values(values);
}

void remove_fake_ports(const std::vector<fake_device> &devices) {
  for (const fake_device &device : devices) {
    const std::string path = enum_root + device.instance;
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
  }
  write_map_values({});
}

const std::vector<fake_device> &standard_devices(void) {
  static const std::vector<fake_device> devices = {
      {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000",
       "USB Serial Port",
       "USB Serial Port (COM5)",
       {"FTDIBUS\\COMPORT&VID_0403&PID_6001"}},
      {"USB\\VID_10C4&PID_EA60\\0001",
       "Silicon Labs CP210x USB to UART Bridge",
       "Silicon Labs CP210x USB to UART Bridge (COM7)",
       {"USB\\VID_10C4&PID_EA60&REV_0100", "USB\\VID_10C4&PID_EA60"}},
      {"ACPI\\PNP0501\\1",
       "Communications Port",
       "Communications Port (COM1)",
       {"ACPI\\PNP0501", "*PNP0501"}},
      {"USB\\VID_067B&PID_2303\\5&2C1D3A7&0&2",
       "Prolific USB-to-Serial Comm Port",
       "USB COM Port (COM9)",
       {"USB\\VID_067B&PID_2303&REV_0300", "USB\\VID_067B&PID_2303"}},
      // "USB-" and 16 double-byte characters: a cut at 31 bytes falls on
      // the lead byte of the 14th character.
      {"USB\\VID_0584&PID_B020\\7&1",
       "USB-シリアル変換ケーブル通信ポート用",
       "USB-シリアル変換ケーブル通信ポート用 (COM3)",
       {"USB\\VID_0584&PID_B020"}},
  };
  return devices;
}

const std::vector<fake_map_value> &standard_map_values(void) {
  static const std::vector<fake_map_value> values = {
      {"\\Device\\Serial0", "COM1"},         {"\\Device\\Serial2", "COM4"},
      {"\\Device\\Silabser0", "COM7"},       {"\\Device\\VCP0", "COM5"},
      {"\\Device\\ProlificSerial0", "COM9"}, {"\\Device\\RealSerial0", "COM3"},
  };
  return values;
}
