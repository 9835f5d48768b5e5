// SPDX-License-Identifier: MIT
// fake_ports install [N] | remove: writes the standard fake serial ports into
// the registry of the running Wine session, with the FTDI adapter on COM N
// (5 by default), or removes them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "registry_fixture.h"

namespace {

// The standard ports with the FTDI adapter (the first device, and the map
// value that names COM5) moved to COM com.
bool install_with_ftdi_on(int com) {
  std::vector<fake_device> devices = standard_devices();
  std::vector<fake_map_value> values = standard_map_values();
  const std::string name = "COM" + std::to_string(com);
  devices[0].friendly_name = "USB Serial Port (" + name + ")";
  for (fake_map_value &value : values) {
    if (value.text == "COM5") value.text = name;
  }
  return install_fake_ports(devices, values);
}

}  // namespace

int main(int argc, char **argv) {
  if ((argc == 2 || argc == 3) && std::strcmp(argv[1], "install") == 0) {
    const int com = argc == 3 ? std::atoi(argv[2]) : 5;
    return com > 0 && install_with_ftdi_on(com) ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "remove") == 0) {
    remove_fake_ports(standard_devices());
    return 0;
  }
  std::fprintf(stderr, "usage: fake_ports install [N] | remove\n");
  return 2;
}
