// SPDX-License-Identifier: MIT
// Fake serial ports in the Wine registry: Ports-class devices under the
// Enum tree, which SetupAPI lists, and the values of the serial map.
#pragma once

#include <string>
#include <vector>

struct fake_device {
  std::string instance;       // under Enum, such as "FTDIBUS\\VID_0403+PID_6001+A1\\0000"
  std::string description;    // UTF-8; stored as UTF-16, read back in the ANSI code page
  std::string friendly_name;  // empty: no FriendlyName value
  std::vector<std::string> hardware_ids;
};

struct fake_map_value {
  std::string name;  // such as "\\Device\\VCP0"
  std::string text;  // REG_SZ text, or the bytes of a REG_BINARY value
  bool is_text = true;
};

// Replaces every Ports-class device and every serial-map value with the
// given ones. Returns false (with a line on stderr) when the registry
// refuses a write.
bool install_fake_ports(const std::vector<fake_device> &devices,
                        const std::vector<fake_map_value> &values);

// Removes the devices and values that install_fake_ports wrote.
void remove_fake_ports(const std::vector<fake_device> &devices);

// The machine the end-to-end runs see: an FTDI adapter on COM5 (the
// sensor's port, backed by a pty), a CP210x bridge, an on-board ACPI port,
// a Prolific adapter whose friendly name holds COM twice, a port with a
// Japanese description, and a port known only from the serial map.
const std::vector<fake_device> &standard_devices(void);
const std::vector<fake_map_value> &standard_map_values(void);
