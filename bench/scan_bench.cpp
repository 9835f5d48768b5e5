// Time of one port_device_scan over a umockdev test bed of 50 serial ports
// (plus the virtual ttys a machine has), and of the COM-number lookup that
// opening a port uses; first on this machine's own devices for reference.
// Prints figures; it passes or fails nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "com_numbering.h"
#include "fake_serial_devices.h"
#include "port_device.h"
#include "preload_environment.h"
#include "test_bed.h"

namespace {

constexpr int usb_adapters = 49;  // and one on-board port: 50

std::string fifty_port_records() {
  const fake_usb_adapter kinds[] = {
      {"", "", "ftdi_sio", "0403", "6001", "FT232R USB UART"},
      {"", "", "cp210x", "10c4", "ea60", "CP2102 USB to UART Bridge Controller"},
      {"", "", "pl2303", "067b", "2303", "USB-Serial Controller"},
      {"", "", "cdc_acm", "2341", "0043", "Arduino Uno"},
  };
  std::string records = pnp_port_record("ttyS0", "00:00", "PNP0501", true);
  int acm = 0;
  int usb = 0;
  for (int k = 0; k < usb_adapters; ++k) {
    fake_usb_adapter adapter = kinds[k % 4];
    adapter.usb_port = "usb" + std::to_string(1 + k / 16) + "/" + std::to_string(1 + k / 16) + "-" +
                       std::to_string(1 + k % 16);
    adapter.tty = adapter.driver == "cdc_acm" ? "ttyACM" + std::to_string(acm++)
                                              : "ttyUSB" + std::to_string(usb++);
    records += usb_adapter_record(adapter);
  }
  for (int k = 0; k < 64; ++k) records += virtual_tty_record("tty" + std::to_string(k));
  return records + virtual_tty_record("console") + virtual_tty_record("ptmx");
}

struct timing {
  double median_us;
  double min_us;
};

template <typename Action>
timing time_runs(int runs, Action action) {
  std::vector<double> us;
  for (int k = 0; k < runs; ++k) {
    const auto start = std::chrono::steady_clock::now();
    action();
    const auto stop = std::chrono::steady_clock::now();
    us.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
  }
  std::sort(us.begin(), us.end());
  return {us[us.size() / 2], us.front()};
}

void report(const char *what, int runs, timing t) {
  std::printf("%-46s median %9.1f us   min %9.1f us   (%d runs)\n", what, t.median_us, t.min_us,
              runs);
}

}  // namespace

int main(int argc, char **argv) {
  ensure_umockdev_preload(argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  char node[64];

  const int own_ports = port_device_scan();
  std::printf("this machine: %d serial port(s)\n", own_ports);
  report("  port_device_scan", runs, time_runs(runs, [] { port_device_scan(); }));

  fake_testbed bed(fifty_port_records());
  if (!bed.ok()) {
    std::fprintf(stderr, "scan_bench: %s\n", bed.error().c_str());
    return 1;
  }
  const int ports = port_device_scan();
  std::printf("test bed: %d serial ports, %d virtual ttys\n", ports, 66);
  report("  port_device_scan", runs, time_runs(runs, [] { port_device_scan(); }));
  report("  com_port_device_node (COM50)", runs,
         time_runs(runs, [&node] { com_port_device_node(50, node, sizeof node); }));
  return ports == 50 ? 0 : 1;
}
