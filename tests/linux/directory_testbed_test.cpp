// SPDX-License-Identifier: MIT
// The installed interface, libport_device.so through port_device.h only,
// over fake serial hardware: rows, COM numbers, names and pickups.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "fake_serial_devices.h"
#include "port_device.h"
#include "test_bed.h"

namespace {

struct port_row {
  int number;
  std::string name;
  std::string device_name;
  std::string device_name2;
};

bool operator==(const port_row &a, const port_row &b) {
  return a.number == b.number && a.name == b.name && a.device_name == b.device_name &&
         a.device_name2 == b.device_name2;
}

void PrintTo(const port_row &row, std::ostream *out) {
  *out << "{COM" << row.number << ", \"" << row.name << "\", \"" << row.device_name << "\", \""
       << row.device_name2 << "\"}";
}

// The picked rows, read back through the four queries.
std::vector<port_row> picked_rows() {
  std::vector<port_row> rows;
  for (int n = 0; n < get_how_many_port_devices(); ++n) {
    char name[PORT_NAME_SIZE] = "";
    char device_name[PORT_DEVICE_NAME_SIZE] = "";
    char device_name2[PORT_DEVICE_NAME_SIZE] = "";
    EXPECT_EQ(get_port_name(n, name), 0);
    EXPECT_EQ(get_port_device_name(n, device_name), 0);
    EXPECT_EQ(get_port_device_name2(n, device_name2), 0);
    rows.push_back({get_port_number(n), name, device_name, device_name2});
  }
  return rows;
}

std::vector<int> picked_numbers() {
  std::vector<int> numbers;
  for (int n = 0; n < get_how_many_port_devices(); ++n) numbers.push_back(get_port_number(n));
  return numbers;
}

const char bluetooth_id[] = "BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}";

const std::vector<port_row> standard_rows = {
    {1, "Communications Port", "ACPI\\PNP0501", "/dev/ttyS0"},
    {3, "FT232R USB UART", "FTDIBUS\\COMPORT&VID_0403&PID_6001", "/dev/ttyUSB0"},
    {4, "USB Serial Port", "FTDIBUS\\COMPORT&VID_0403&PID_6015", "/dev/ttyUSB1"},
    {5, "CP210x USB to UART Bridge", "USB\\VID_10C4&PID_EA60", "/dev/ttyUSB2"},
    {6, "Prolific USB-to-Serial Port", "USB\\VID_067B&PID_2303", "/dev/ttyUSB10"},
};

}  // namespace

TEST(standard_bed, lists_present_hardware_ports_in_com_order) {
  fake_testbed bed(standard_bed_records());
  ASSERT_TRUE(bed.ok()) << bed.error();
  ASSERT_EQ(port_device_scan(), 5);
  ASSERT_EQ(port_device_pickup_all(), 5);
  EXPECT_EQ(picked_rows(), standard_rows);
}

TEST(standard_bed, picks_by_adapter_type_and_pattern) {
  fake_testbed bed(standard_bed_records());
  ASSERT_TRUE(bed.ok()) << bed.error();
  ASSERT_EQ(port_device_scan(), 5);
  const struct {
    int type;
    std::vector<int> numbers;
  } types[] = {
      {0, {1, 3, 4, 5, 6}}, {1, {1}}, {2, {3, 4}}, {3, {5}}, {4, {6}}, {5, {}}, {6, {}}, {7, {}}};
  for (const auto &c : types) {
    EXPECT_EQ(port_device_pickup_by_type(c.type), static_cast<int>(c.numbers.size()))
        << "type " << c.type;
    EXPECT_EQ(picked_numbers(), c.numbers) << "type " << c.type;
  }
  const struct {
    const char *pattern;
    std::vector<int> numbers;
  } patterns[] = {
      {"/dev/ttyUSB1", {4, 6}},  // ttyUSB1 and ttyUSB10
      {"/dev/ttyS", {1}},
      {"COM", {3, 4}},  // FTDIBUS\COMPORT; "Communications" does not
                        // match case-sensitively
      {"VID_0403", {3, 4}},
      {"USB", {3, 4, 5, 6}},
      {"ttyprintk", {}},
  };
  for (const auto &c : patterns) {
    port_device_pickup_by_type(-1);
    EXPECT_EQ(port_device_pickup(c.pattern), static_cast<int>(c.numbers.size())) << c.pattern;
    EXPECT_EQ(picked_numbers(), c.numbers) << c.pattern;
  }
}

// The port behind COM3 goes away; numbers follow the remaining ttys.
TEST(standard_bed, unplugged_adapter_is_gone_after_rescan) {
  fake_testbed bed(standard_bed_records());
  ASSERT_TRUE(bed.ok()) << bed.error();
  ASSERT_EQ(port_device_scan(), 5);
  ASSERT_EQ(port_device_pickup_by_type(2), 2);

  bed.remove(usb_adapter_syspath(standard_ftdi_adapter));
  ASSERT_EQ(port_device_scan(), 4);
  EXPECT_EQ(get_how_many_port_devices(), 0) << "a scan empties the pickup list";
  port_device_pickup_all();
  const std::vector<port_row> expected = {
      {1, "Communications Port", "ACPI\\PNP0501", "/dev/ttyS0"},
      {3, "USB Serial Port", "FTDIBUS\\COMPORT&VID_0403&PID_6015", "/dev/ttyUSB1"},
      {4, "CP210x USB to UART Bridge", "USB\\VID_10C4&PID_EA60", "/dev/ttyUSB2"},
      {5, "Prolific USB-to-Serial Port", "USB\\VID_067B&PID_2303", "/dev/ttyUSB10"},
  };
  EXPECT_EQ(picked_rows(), expected);
  port_device_pickup_by_type(-1);
  EXPECT_EQ(port_device_pickup("/dev/ttyUSB0"), 0);
}

TEST(bed_without_ports, lists_nothing) {
  fake_testbed bed(placeholder_record("ttyS0") + virtual_tty_record("ttyprintk") +
                   virtual_tty_record("console"));
  ASSERT_TRUE(bed.ok()) << bed.error();
  EXPECT_EQ(port_device_scan(), 0);
  EXPECT_EQ(port_device_pickup_all(), 0);
  EXPECT_EQ(get_port_number(0), -1);
}

// One port of each kind the description table knows, and the order of
// ttys outside the three numbered families.
TEST(families_bed, describes_each_kind_of_port) {
  fake_testbed bed(pnp_port_record("ttyS0", "00:01", "PNP0501\\nPNP0500", false) +
                   pci_port_record("ttyS4", "0000:00:16.3", "0x8086", "0xa13d") +
                   bus_port_record("ttyS5", "platform", "dw-apb-uart.0", "dw-apb-uart") +
                   usb_adapter_record({"usb1/1-1", "ttyUSB0", "cypress_m8", "04b4", "5500",
                                       "Cypress USB Serial"}) +
                   usb_adapter_record({"usb1/1-2", "ttyUSB1", "ark3116", "6547", "0232", ""}) +
                   usb_adapter_record({"usb1/1-3", "ttyUSB2", "option", "1199", "68c0", "MC7304"}) +
                   usb_adapter_record({"usb1/1-4", "ttyUSB3", "ftdi_sio", "0403", "6010",
                                       "Dual RS232-HS", false}) +
                   usb_adapter_record({"usb1/1-5", "ttyACM0", "cdc_acm", "2e8a", "000a", "Pico"}) +
                   usb_adapter_record({"usb1/1-6", "ttyACM1", "cdc_acm", "1d50", "6018", ""}) +
                   bus_port_record("ttyAMA10", "amba", "fe201000.serial", "uart-pl011") +
                   bus_port_record("ttyAMA2", "amba", "fe201400.serial", "uart-pl011") +
                   bus_port_record("ttyAMA0", "amba", "fe201800.serial", "uart-pl011") +
                   rfcomm_connected_record("rfcomm0", "usb1/1-7", "00:1A:7D:DA:71:13", 1));
  ASSERT_TRUE(bed.ok()) << bed.error();
  const std::vector<port_row> expected = {
      {1, "Communications Port", "ACPI\\PNP0501", "/dev/ttyS0"},
      {2, "PCI Serial Port", "PCI\\VEN_8086&DEV_A13D", "/dev/ttyS4"},
      {3, "Serial Port", "PLATFORM\\dw-apb-uart", "/dev/ttyS5"},
      {4, "Cypress USB-to-Serial Port", "USB\\VID_04B4&PID_5500", "/dev/ttyUSB0"},
      {5, "ArkMicro USB-to-Serial Port", "USB\\VID_6547&PID_0232", "/dev/ttyUSB1"},
      {6, "MC7304", "USB\\VID_1199&PID_68C0", "/dev/ttyUSB2"},
      {7, "Dual RS232-HS", "FTDIBUS\\COMPORT&VID_0403&PID_6010", "/dev/ttyUSB3"},
      {8, "Pico", "USB\\VID_2E8A&PID_000A", "/dev/ttyACM0"},
      {9, "USB Serial Device", "USB\\VID_1D50&PID_6018", "/dev/ttyACM1"},
      {10, "Standard Serial over Bluetooth ", bluetooth_id, "/dev/rfcomm0"},
      {11, "Serial Port", "AMBA\\uart-pl011", "/dev/ttyAMA0"},
      {12, "Serial Port", "AMBA\\uart-pl011", "/dev/ttyAMA2"},
      {13, "Serial Port", "AMBA\\uart-pl011", "/dev/ttyAMA10"},
  };
  ASSERT_EQ(port_device_scan(), static_cast<int>(expected.size()));
  port_device_pickup_all();
  EXPECT_EQ(picked_rows(), expected);
  EXPECT_EQ(port_device_pickup_by_type(5), 1);
  EXPECT_EQ(port_device_pickup_by_type(6), 1);
}

namespace {

// A pickup and the COM numbers it must give: by type, or by pattern when
// pattern is set.
struct pickup_check {
  int type;
  const char *pattern;
  std::vector<int> numbers;
};

struct bed_case {
  const char *name;
  std::string records;
  std::vector<port_row> rows;  // every row, in table order
  std::vector<pickup_check> pickups;
};

void expect_bed(const bed_case &bed_data) {
  SCOPED_TRACE(bed_data.name);
  fake_testbed bed(bed_data.records);
  ASSERT_TRUE(bed.ok()) << bed.error();
  ASSERT_EQ(port_device_scan(), static_cast<int>(bed_data.rows.size()));
  port_device_pickup_all();
  EXPECT_EQ(picked_rows(), bed_data.rows);
  for (const pickup_check &c : bed_data.pickups) {
    const std::string what = c.pattern != nullptr ? c.pattern : "type " + std::to_string(c.type);
    if (c.pattern != nullptr) {
      port_device_pickup_by_type(-1);
      EXPECT_EQ(port_device_pickup(c.pattern), static_cast<int>(c.numbers.size())) << what;
    } else {
      EXPECT_EQ(port_device_pickup_by_type(c.type), static_cast<int>(c.numbers.size())) << what;
    }
    EXPECT_EQ(picked_numbers(), c.numbers) << what;
  }
}

fake_usb_adapter port_of(const std::string &tty, const std::string &driver, int interface_number,
                         int interfaces, const std::string &device_class = "00") {
  fake_usb_adapter port{"", tty, driver, "", "", ""};
  port.interface_number = interface_number;
  port.interfaces = interfaces;
  port.device_class = device_class;
  return port;
}

// The ports of one device: the first carries the device's identity.
std::string one_device(const std::string &usb_port, const std::string &vendor,
                       const std::string &product_id, const std::string &product,
                       std::vector<fake_usb_adapter> ports) {
  ports.front().usb_port = usb_port;
  ports.front().vendor = vendor;
  ports.front().product_id = product_id;
  ports.front().product = product;
  return usb_multi_port_record(ports);
}

const char ftdi_quad_id[] = "FTDIBUS\\COMPORT&VID_0403&PID_6011";

}  // namespace

// The adapter families as real kernels show them: the usb-serial port's
// driver is not always the module's (cypress_m8 registers earthmate,
// cyphidcom and nokiaca42v2; ch341 registers ch341-uart).
TEST(real_kernel_beds, usb_serial_families) {
  expect_bed(
      {"Cypress and CH340",
       usb_adapter_record({"usb1/1-1", "ttyUSB0", "cypress_m8", "04b4", "5500", "USB to Serial"}) +
           usb_adapter_record(
               {"usb1/1-2", "ttyUSB1", "cypress_m8", "1163", "0100", "Earthmate GPS"}) +
           usb_adapter_record({"usb1/1-3", "ttyUSB2", "cypress_m8", "078b", "1234", ""}) +
           usb_adapter_record({"usb1/1-4", "ttyUSB3", "ch341", "1a86", "7523", "USB Serial"}) +
           usb_adapter_record({"usb1/1-5", "ttyUSB4", "cp210x", "10c4", "ea60", "CP2102"}) +
           usb_adapter_record({"usb1/1-6", "ttyUSB5", "pl2303", "067b", "23a3", ""}) +
           usb_adapter_record({"usb1/1-7", "ttyUSB6", "ark3116", "6547", "0232", ""}) +
           usb_adapter_record({"usb1/1-8", "ttyUSB7", "ftdi_sio", "0403", "6015", ""}),
       {
           {1, "Cypress USB-to-Serial Port", "USB\\VID_04B4&PID_5500", "/dev/ttyUSB0"},
           {2, "Cypress USB-to-Serial Port", "USB\\VID_1163&PID_0100", "/dev/ttyUSB1"},
           {3, "Cypress USB-to-Serial Port", "USB\\VID_078B&PID_1234", "/dev/ttyUSB2"},
           {4, "USB Serial", "USB\\VID_1A86&PID_7523", "/dev/ttyUSB3"},
           {5, "CP210x USB to UART Bridge", "USB\\VID_10C4&PID_EA60", "/dev/ttyUSB4"},
           {6, "Prolific USB-to-Serial Port", "USB\\VID_067B&PID_23A3", "/dev/ttyUSB5"},
           {7, "ArkMicro USB-to-Serial Port", "USB\\VID_6547&PID_0232", "/dev/ttyUSB6"},
           {8, "USB Serial Port", "FTDIBUS\\COMPORT&VID_0403&PID_6015", "/dev/ttyUSB7"},
       },
       {{5, nullptr, {1, 2, 3}},
        {2, nullptr, {8}},
        {3, nullptr, {5}},
        {4, nullptr, {6}},
        {6, nullptr, {7}},
        {0, "1A86", {4}},
        {0, "ch341", {}}}});
}

// Each port of a multi-port device can be told apart: FTDI channels by
// their letter (one hardware ID, as FTDI's driver gives them), the
// interfaces of other composite devices by MI_xx.
TEST(real_kernel_beds, ports_of_one_device) {
  expect_bed(
      {"FT4232H and a dual FT2232H with a long name",
       one_device("usb1/1-1", "0403", "6011", "Quad RS232-HS",
                  {port_of("ttyUSB0", "ftdi_sio", 0, 4), port_of("ttyUSB1", "ftdi_sio", 1, 4),
                   port_of("ttyUSB2", "ftdi_sio", 2, 4), port_of("ttyUSB3", "ftdi_sio", 3, 4)}) +
           one_device("usb1/1-2", "0403", "6010", "Dual Channel RS232 Adapter With Long Name",
                      {port_of("ttyUSB4", "ftdi_sio", 0, 2), port_of("ttyUSB5", "ftdi_sio", 1, 2)}),
       {
           {1, "Quad RS232-HS A", ftdi_quad_id, "/dev/ttyUSB0"},
           {2, "Quad RS232-HS B", ftdi_quad_id, "/dev/ttyUSB1"},
           {3, "Quad RS232-HS C", ftdi_quad_id, "/dev/ttyUSB2"},
           {4, "Quad RS232-HS D", ftdi_quad_id, "/dev/ttyUSB3"},
           {5, "Dual Channel RS232 Adapter Wi A", "FTDIBUS\\COMPORT&VID_0403&PID_6010",
            "/dev/ttyUSB4"},
           {6, "Dual Channel RS232 Adapter Wi B", "FTDIBUS\\COMPORT&VID_0403&PID_6010",
            "/dev/ttyUSB5"},
       },
       {{2, nullptr, {1, 2, 3, 4, 5, 6}},
        {0, "Quad RS232-HS B", {2}},
        {0, ftdi_quad_id, {1, 2, 3, 4}},
        {0, " B", {2, 6}}}});
  expect_bed({"two-port cdc_acm, CP2105 and a plain CDC device",
              one_device("usb1/1-1", "10c4", "ea70", "CP2105 Dual USB to UART Bridge Controller",
                         {port_of("ttyUSB0", "cp210x", 0, 2), port_of("ttyUSB1", "cp210x", 1, 2)}) +
                  one_device("usb1/1-2", "1209", "0001", "Dual CDC",
                             {port_of("ttyACM0", "cdc_acm", 0, 4, "ef"),
                              port_of("ttyACM1", "cdc_acm", 2, 4, "ef")}) +
                  one_device("usb1/1-3", "2341", "0043", "Arduino Uno",
                             {port_of("ttyACM2", "cdc_acm", 0, 2, "02")}),
              {
                  {1, "CP210x USB to UART Bridge", "USB\\VID_10C4&PID_EA70&MI_00", "/dev/ttyUSB0"},
                  {2, "CP210x USB to UART Bridge", "USB\\VID_10C4&PID_EA70&MI_01", "/dev/ttyUSB1"},
                  {3, "Dual CDC", "USB\\VID_1209&PID_0001&MI_00", "/dev/ttyACM0"},
                  {4, "Dual CDC", "USB\\VID_1209&PID_0001&MI_02", "/dev/ttyACM1"},
                  // A CDC device class: Windows binds the whole device.
                  {5, "Arduino Uno", "USB\\VID_2341&PID_0043", "/dev/ttyACM2"},
              },
              {{3, nullptr, {1, 2}},
               {0, "MI_02", {4}},
               {0, "USB\\VID_1209&PID_0001&MI_00", {3}},
               {0, "PID_0001", {3, 4}},
               {2, nullptr, {}}}});
}

// An rfcomm link is a Bluetooth port, not the dongle's USB device, whether
// connected (under the dongle's link device) or only bound (virtual).
TEST(real_kernel_beds, bluetooth_links) {
  const pickup_check bluetooth_pickups[] = {
      {0, "BTHENUM", {1}}, {0, "VID_0A12", {}}, {2, nullptr, {}}, {0, nullptr, {1}}};
  const std::vector<pickup_check> pickups(std::begin(bluetooth_pickups),
                                          std::end(bluetooth_pickups));
  expect_bed({"connected rfcomm0",
              rfcomm_connected_record("rfcomm0", "usb1/1-7", "00:1A:7D:DA:71:13", 1) +
                  virtual_tty_record("ttyprintk"),
              {{1, "Standard Serial over Bluetooth ", bluetooth_id, "/dev/rfcomm0"}},
              pickups});
  expect_bed({"bound rfcomm0",
              rfcomm_bound_record("rfcomm0", "00:1A:7D:DA:71:13", 1) +
                  virtual_tty_record("rfcommx") + virtual_tty_record("ttyprintk"),
              {{1, "Standard Serial over Bluetooth ", bluetooth_id, "/dev/rfcomm0"}},
              pickups});
}

TEST(real_kernel_beds, on_board_ports) {
  expect_bed({"Raspberry Pi: PL011 on amba, mini-UART on platform",
              soc_port_record("ttyAMA0", "amba", "fe201000.serial", "uart-pl011") +
                  soc_port_record("ttyS0", "platform", "fe215040.serial", "bcm2835-aux-uart") +
                  virtual_tty_record("ttyprintk"),
              {
                  {1, "Serial Port", "PLATFORM\\bcm2835-aux-uart", "/dev/ttyS0"},
                  {2, "Serial Port", "AMBA\\uart-pl011", "/dev/ttyAMA0"},
              },
              {{1, nullptr, {}}, {2, nullptr, {}}, {0, "AMBA", {2}}, {0, "/dev/ttyS0", {1}}}});
  expect_bed({"8250 with 32 placeholder slots",
              placeholder_slots_record(0, 32) + usb_adapter_record(standard_ftdi_adapter) +
                  usb_adapter_record({"usb1/1-5", "ttyACM0", "cdc_acm", "2e8a", "000a", "Pico"}),
              {
                  {33, "FT232R USB UART", "FTDIBUS\\COMPORT&VID_0403&PID_6001", "/dev/ttyUSB0"},
                  {34, "Pico", "USB\\VID_2E8A&PID_000A", "/dev/ttyACM0"},
              },
              {{1, nullptr, {}}, {2, nullptr, {33}}, {0, "/dev/ttyS", {}}}});
}

// The table keeps the 100 ports of the lowest COM numbers.
TEST(real_kernel_beds, one_hundred_fifty_ftdi_adapters) {
  std::vector<port_row> rows;
  std::vector<int> numbers;
  for (int k = 0; k < 100; ++k) {
    rows.push_back({k + 1, "FT232R USB UART", "FTDIBUS\\COMPORT&VID_0403&PID_6001",
                    "/dev/ttyUSB" + std::to_string(k)});
    numbers.push_back(k + 1);
  }
  expect_bed({"150 FTDI adapters",
              ftdi_adapters_records(150),
              rows,
              {{2, nullptr, numbers},
               {0, "/dev/ttyUSB99", {100}},
               {0, "/dev/ttyUSB100", {}},
               {0, "/dev/ttyUSB149", {}}}});
}

// Device strings reach the table without control characters: C0, DEL and
// C1 (as a character or a stray byte) each become one '?'; other UTF-8
// and other bytes stay.
TEST(real_kernel_beds, device_strings_without_controls) {
  const struct {
    const char *product;
    const char *description;
  } cases[] = {
      {"Bad\x1b[2JName", "Bad?[2JName"},
      {"C1\xc2\x85next\xc2\x9b", "C1?next?"},
      {"Stray\x9b\x80", "Stray??"},
      {"Caf\xc3\xa9 \xe3\x82\xbb\xc2\xa0ok", "Caf\xc3\xa9 \xe3\x82\xbb\xc2\xa0ok"},
      {"Latin\xe9", "Latin\xe9"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.product);
    fake_testbed bed(
        usb_adapter_record({"usb1/1-1", "ttyACM0", "cdc_acm", "1d50", "6018", c.product}));
    ASSERT_TRUE(bed.ok()) << bed.error();
    ASSERT_EQ(port_device_scan(), 1);
    port_device_pickup_all();
    EXPECT_EQ(
        picked_rows(),
        (std::vector<port_row>{{1, c.description, "USB\\VID_1D50&PID_6018", "/dev/ttyACM0"}}));
  }
}

namespace {

struct program_run {
  int status;
  std::string out;
  std::string err;
};

std::string read_all(int fd) {
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, got);
  close(fd);
  return text;
}

// Runs list_ports inside the current test bed (the preload and the bed's
// directory are in the environment). stderr is small, so it is read after
// stdout without a deadlock.
program_run run_list_ports(std::vector<std::string> args) {
  int out[2];
  int err[2];
  if (pipe(out) != 0 || pipe(err) != 0) return {-1, "", "pipe"};
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    std::vector<char *> argv{const_cast<char *>(LIST_PORTS_PATH)};
    for (std::string &arg : args) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    execv(LIST_PORTS_PATH, argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  program_run run{-1, read_all(out[0]), read_all(err[0])};
  int status = 0;
  if (waitpid(child, &status, 0) == child && WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
}

int count_lines(const std::string &text) {
  return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

// Beyond 100 ports list_ports lists the 100 lowest COM numbers and says on
// stderr how many it left out; with fewer it says nothing there.
TEST(list_ports_in_beds, says_how_many_ports_the_table_left_out) {
  const struct {
    int adapters;
    const char *args;  // one argument or nullptr
    int lines;         // heading included
    std::string err;
  } cases[] = {
      {150, nullptr, 101,
       "list_ports: 50 more serial ports are not listed: the directory keeps the 100 of the "
       "lowest COM numbers\n"},
      {101, "2", 101,
       "list_ports: 1 more serial port is not listed: the directory keeps the 100 of the lowest "
       "COM numbers\n"},
      {100, nullptr, 101, ""},
      {150, "COM100", 2,
       "list_ports: 50 more serial ports are not listed: the directory keeps "
       "the 100 of the lowest COM numbers\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::to_string(c.adapters) + " adapters");
    fake_testbed bed(ftdi_adapters_records(c.adapters));
    ASSERT_TRUE(bed.ok()) << bed.error();
    const program_run run = run_list_ports(c.args != nullptr ? std::vector<std::string>{c.args}
                                                             : std::vector<std::string>{});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(count_lines(run.out), c.lines) << run.out;
    EXPECT_EQ(run.err, c.err);
  }
}

// What list_ports prints of a device's own strings carries no control
// characters, C1 included.
TEST(list_ports_in_beds, prints_controls_as_question_marks) {
  fake_testbed bed(usb_adapter_record({"usb1/1-1", "ttyACM0", "cdc_acm", "1d50", "6018",
                                       "A\xc2\x9b"
                                       "1m\x9b"
                                       "2J\x1b"
                                       "B"}));
  ASSERT_TRUE(bed.ok()) << bed.error();
  const program_run run = run_list_ports({});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out,
            "Port    Description  Hardware ID            Device\n"
            "COM1    A?1m?2J?B    USB\\VID_1D50&PID_6018  /dev/ttyACM0\n");
  EXPECT_EQ(run.err, "");
}

// list_ports --json is valid JSON whatever a device reports: python3's json
// reads it back, quotes and backslashes as they were, a byte that is no
// UTF-8 as the character of its value.
TEST(list_ports_in_beds, json_parses_back_for_hostile_texts) {
  const struct {
    const char *product;
    const char *parsed;  // python's json.dumps of the parsed array (ASCII, sorted keys)
  } cases[] = {
      {"Q\"uo\\\\te",  // umockdev's record reads the backslash pair as one
       R"([{"com": 1, "description": "Q\"uo\\te", "device": "/dev/ttyACM0", )"
       R"("hardware_id": "USB\\VID_1D50&PID_6018", "types": []}])"},
      {"Latin\xe9 \xc3\xa9\xe3\x82\xbb",
       R"([{"com": 1, "description": "Latin\u00e9 \u00e9\u30bb", "device": "/dev/ttyACM0", )"
       R"("hardware_id": "USB\\VID_1D50&PID_6018", "types": []}])"},
      {"Esc\x1b[2J\xc2\x85\xed\xa0\x80",
       R"([{"com": 1, "description": "Esc?[2J?\u00ed\u00a0\u0080", "device": "/dev/ttyACM0", )"
       R"("hardware_id": "USB\\VID_1D50&PID_6018", "types": []}])"},
      {"FTDIBUS Prolific",
       R"([{"com": 1, "description": "FTDIBUS Prolific", "device": "/dev/ttyACM0", )"
       R"("hardware_id": "USB\\VID_1D50&PID_6018", "types": [2, 4]}])"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.product);
    fake_testbed bed(
        usb_adapter_record({"usb1/1-1", "ttyACM0", "cdc_acm", "1d50", "6018", c.product}));
    ASSERT_TRUE(bed.ok()) << bed.error();
    const program_run run = run_list_ports({"--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    char path[] = "/tmp/list_ports_json_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, run.out.data(), run.out.size()), static_cast<ssize_t>(run.out.size()));
    close(fd);
    const std::string command = std::string("python3 -c 'import json,sys; print(json.dumps(") +
                                "json.load(open(sys.argv[1], encoding=\"utf-8\")), " +
                                "sort_keys=True))' " + path;
    std::string parsed;
    if (std::FILE *pipe = popen(command.c_str(), "r")) {
      char buffer[512];
      for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        parsed.append(buffer, got);
      EXPECT_EQ(pclose(pipe), 0) << run.out;
    }
    unlink(path);
    EXPECT_EQ(parsed, std::string(c.parsed) + "\n") << run.out;
  }
}
