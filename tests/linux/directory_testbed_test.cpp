// The installed interface, libport_device.so through port_device.h only,
// over fake serial hardware: rows, COM numbers, names and pickups.
#include <gtest/gtest.h>

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
                   usb_adapter_record({"usb1/1-7", "rfcomm0", "cdc_acm", "0a12", "0001", "Radio"}));
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
      {10, "Radio", "USB\\VID_0A12&PID_0001", "/dev/rfcomm0"},
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
