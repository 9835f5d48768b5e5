// SPDX-License-Identifier: MIT
// port_device_scan on Windows: both passes over SetupAPI and the registry.
// The sources live on the stack and nothing here needs start-up code, so the
// export works also when the exe is loaded as a module by another program.
#include "port_device.h"
#include "port_scan.h"
#include "win32_sources.h"

extern "C" int PORT_DEVICE_CALL port_device_scan(void) {
  setupapi_class_source classes;
  registry_map_source map;
  return scan_ports(classes, map, ansi_char_length);
}
