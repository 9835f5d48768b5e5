// SPDX-License-Identifier: MIT
// Time of one port_device_scan, and of the COM-number lookup that opening a
// port uses, next to libserialport's sp_list_ports and pyserial's
// comports() in the same run: on this machine's own devices, then over
// umockdev test beds of 50 mixed ports and of 150 FTDI adapters (each with
// the 66 virtual ttys a machine has). Prints medians and the ratios ours /
// theirs (below 1: ours is faster); it passes or fails nothing.
// scan_bench [runs]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#if defined(HAVE_LIBSERIALPORT)
#include <libserialport.h>
#endif

#include "com_numbering.h"
#include "fake_serial_devices.h"
#include "port_device.h"
#include "preload_environment.h"
#include "test_bed.h"

namespace {

constexpr int usb_adapters = 49;  // and one on-board port: 50

std::string virtual_ttys() {
  std::string records;
  for (int k = 0; k < 64; ++k) records += virtual_tty_record("tty" + std::to_string(k));
  return records + virtual_tty_record("tty") + virtual_tty_record("console") +
         virtual_tty_record("ptmx");
}

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
    adapter.device_link = true;
    records += usb_adapter_record(adapter);
  }
  return records + virtual_ttys();
}

template <typename Action>
double median_us(int runs, Action action) {
  std::vector<double> us;
  for (int k = 0; k < runs; ++k) {
    const auto start = std::chrono::steady_clock::now();
    action();
    const auto stop = std::chrono::steady_clock::now();
    us.push_back(std::chrono::duration<double, std::micro>(stop - start).count());
  }
  std::sort(us.begin(), us.end());
  return us[us.size() / 2];
}

// A listing's median per call and the ports it found; median < 0 when the
// library is not installed.
struct figure {
  double median;
  int ports;
};

figure time_libserialport(int runs) {
#if defined(HAVE_LIBSERIALPORT)
  int ports = 0;
  const double median = median_us(runs, [&ports] {
    sp_port **list = nullptr;
    if (sp_list_ports(&list) != SP_OK) return;
    for (ports = 0; list[ports] != nullptr; ++ports) {
    }
    sp_free_port_list(list);
  });
  return {median, ports};
#else
  (void)runs;
  return {-1, 0};
#endif
}

// pyserial's comports() timed inside a Python of its own (Debian's, where
// python3-serial installs it), under this process's environment: the same
// test bed.
const char pyserial_script[] =
    "import sys, time\n"
    "try:\n"
    "    from serial.tools.list_ports_linux import comports\n"
    "except ImportError:\n"
    "    print('-1 0'); sys.exit(0)\n"
    "runs = int(sys.argv[1]); times = []\n"
    "for _ in range(runs):\n"
    "    start = time.perf_counter(); ports = comports()\n"
    "    times.append((time.perf_counter() - start) * 1e6)\n"
    "times.sort(); print(times[len(times) // 2], len(ports))\n";

figure time_pyserial(int runs) {
  const char *python = access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  const std::string command = std::string(python) + " -c \"$ORLANSE_PYSERIAL_SCRIPT\" " +
                              std::to_string(runs) + " 2>/dev/null";
  setenv("ORLANSE_PYSERIAL_SCRIPT", pyserial_script, 1);
  figure result{-1, 0};
  if (FILE *pipe = popen(command.c_str(), "r")) {
    if (std::fscanf(pipe, "%lf %d", &result.median, &result.ports) != 2) result = {-1, 0};
    pclose(pipe);
  }
  return result;
}

void print_other(const char *name, figure theirs, double ours) {
  if (theirs.median < 0) {
    std::printf("  %-28s not installed\n", name);
    return;
  }
  std::printf("  %-28s %10.1f us  (%d ports)   ours / %s = %.3f\n", name, theirs.median,
              theirs.ports, name, ours / theirs.median);
}

void compare(const char *what, int runs, int last_com) {
  char node[64];
  int ports = 0;
  const double ours = median_us(runs, [&ports] { ports = port_device_scan(); });
  const double lookup =
      median_us(runs, [&node, last_com] { com_port_device_node(last_com, node, sizeof node); });
  std::printf("%s\n", what);
  std::printf("  %-28s %10.1f us  (%d ports)\n", "port_device_scan", ours, ports);
  std::printf("  %-28s %10.1f us\n",
              ("com_port_device_node(COM" + std::to_string(last_com) + ")").c_str(), lookup);
  print_other("libserialport", time_libserialport(runs), ours);
  print_other("pyserial", time_pyserial(runs), ours);
}

int run_beds(int runs) {
  {
    fake_testbed bed(fifty_port_records());
    if (!bed.ok()) {
      std::fprintf(stderr, "scan_bench: %s\n", bed.error().c_str());
      return 1;
    }
    compare("test bed: 50 ports (FTDI, CP210x, PL2303, cdc_acm, on-board), 67 virtual ttys", runs,
            50);
  }
  fake_testbed bed(ftdi_adapters_records(150) + virtual_ttys());
  if (!bed.ok()) {
    std::fprintf(stderr, "scan_bench: %s\n", bed.error().c_str());
    return 1;
  }
  compare("test bed: 150 FTDI adapters (the table keeps 100), 67 virtual ttys", runs, 150);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  const bool beds = argc > 1 && std::strcmp(argv[1], "--beds") == 0;
  const char *runs_arg = beds ? (argc > 2 ? argv[2] : nullptr) : (argc > 1 ? argv[1] : nullptr);
  const int runs = runs_arg != nullptr ? std::max(1, std::atoi(runs_arg)) : 50;
  if (beds) return run_beds(runs);

  std::printf("median per call over %d runs; ratio below 1: ours is faster\n", runs);
  compare("this machine", runs, 1);
  std::fflush(stdout);
  // The test beds need the umockdev preload: the same program again.
  set_umockdev_preload_environment();
  const std::string runs_text = std::to_string(runs);
  char beds_flag[] = "--beds";
  char *again[] = {argv[0], beds_flag, const_cast<char *>(runs_text.c_str()), nullptr};
  execv("/proc/self/exe", again);
  std::perror("scan_bench: re-executing under libumockdev-preload");
  return 127;
}
