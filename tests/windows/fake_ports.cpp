// fake_ports install|remove: writes the standard fake serial ports into the
// registry of the running Wine session, or removes them.
#include <cstdio>
#include <cstring>

#include "registry_fixture.h"

int main(int argc, char **argv) {
  if (argc == 2 && std::strcmp(argv[1], "install") == 0) {
    return install_fake_ports(standard_devices(), standard_map_values()) ? 0 : 1;
  }
  if (argc == 2 && std::strcmp(argv[1], "remove") == 0) {
    remove_fake_ports(standard_devices());
    return 0;
  }
  std::fprintf(stderr, "usage: fake_ports install|remove\n");
  return 2;
}
