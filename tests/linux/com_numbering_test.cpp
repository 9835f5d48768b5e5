// SPDX-License-Identifier: MIT
// COM numbering against fake serial hardware: the lookup that the serial
// layer opens ports by, its agreement with the scan, and the sources' limits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "com_numbering.h"
#include "fake_serial_devices.h"
#include "port_device.h"
#include "test_bed.h"
#include "udev_port_sources.h"

TEST(com_port_device_node, names_the_node_of_each_number) {
  fake_testbed bed(standard_bed_records());
  ASSERT_TRUE(bed.ok()) << bed.error();
  const struct {
    int com;
    const char *node;  // nullptr: no port to open
  } cases[] = {
      {1, "/dev/ttyS0"},   {2, nullptr},  // the placeholder keeps COM2 but has no UART
      {3, "/dev/ttyUSB0"}, {4, "/dev/ttyUSB1"}, {5, "/dev/ttyUSB2"}, {6, "/dev/ttyUSB10"},
      {7, nullptr},        {0, nullptr},        {-1, nullptr},
  };
  for (const auto &c : cases) {
    char node[64] = "unchanged";
    EXPECT_EQ(com_port_device_node(c.com, node, sizeof node), c.node != nullptr) << "COM" << c.com;
    EXPECT_STREQ(node, c.node != nullptr ? c.node : "unchanged") << "COM" << c.com;
  }
}

TEST(com_port_device_node, refuses_a_buffer_too_small_for_the_node) {
  fake_testbed bed(standard_bed_records());
  ASSERT_TRUE(bed.ok()) << bed.error();
  char node[sizeof "/dev/ttyS0"];
  EXPECT_TRUE(com_port_device_node(1, node, sizeof node));
  EXPECT_STREQ(node, "/dev/ttyS0");
  EXPECT_FALSE(com_port_device_node(1, node, sizeof node - 1));
  EXPECT_STREQ(node, "");
  EXPECT_FALSE(com_port_device_node(1, nullptr, 64));
}

// The serial layer opens COM N by this lookup: it must name the device
// node that the scan lists under N.
TEST(com_port_device_node, agrees_with_the_scan) {
  fake_testbed bed(standard_bed_records());
  ASSERT_TRUE(bed.ok()) << bed.error();
  ASSERT_EQ(port_device_scan(), 5);
  for (int n = 0; n < port_device_pickup_all(); ++n) {
    char listed[PORT_DEVICE_NAME_SIZE];
    char looked_up[PORT_DEVICE_NAME_SIZE];
    ASSERT_EQ(get_port_device_name2(n, listed), 0);
    ASSERT_TRUE(com_port_device_node(get_port_number(n), looked_up, sizeof looked_up)) << listed;
    EXPECT_STREQ(looked_up, listed);
  }
}

// Texts that fill a buffer exactly come without their NUL; longer ones are
// refused, never cut.
TEST(udev_sources, honour_the_buffer_capacity) {
  fake_testbed bed(standard_bed_records());
  ASSERT_TRUE(bed.ok()) << bed.error();
  {
    static serial_tty_list list;
    ASSERT_TRUE(list_serial_ttys(list));
    ASSERT_EQ(list.count, 6);

    tty_class_source classes(&list);
    ASSERT_TRUE(classes.open_list());
    ASSERT_TRUE(classes.select_device(1));  // ttyUSB0, COM3
    const std::string friendly = "FT232R USB UART (COM3)";
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_TRUE(classes.read_property(port_class_source::friendly_name, buffer,
                                      static_cast<int>(friendly.size())));
    EXPECT_EQ(std::string(buffer, friendly.size()), friendly);
    EXPECT_EQ(buffer[friendly.size()], 'x');
    EXPECT_FALSE(classes.read_property(port_class_source::friendly_name, buffer,
                                       static_cast<int>(friendly.size()) - 1));
    EXPECT_FALSE(classes.select_device(5));

    tty_map_source map(&list);
    ASSERT_TRUE(map.open_map());
    bool is_text = false;
    char name[16];
    ASSERT_TRUE(map.read_value_name(4, name, sizeof name, &is_text));
    EXPECT_TRUE(is_text);
    EXPECT_STREQ(name, "/dev/ttyUSB10");
    ASSERT_TRUE(map.read_value_name(4, name, 13, &is_text))
        << "a node that does not fit is skipped, not the end";
    EXPECT_FALSE(is_text);
    char data[8];
    EXPECT_EQ(map.read_value_text(4, data, sizeof data), 5);
    EXPECT_STREQ(data, "COM6");
    EXPECT_EQ(map.read_value_text(4, data, 4), 4);
    EXPECT_EQ(map.read_value_text(4, data, 3), -1);
    EXPECT_FALSE(map.read_value_name(5, name, sizeof name, &is_text));
  }
}

// The lookup numbers every serial tty as the scan does, also where the
// table stops at 100 rows, among placeholders and for Bluetooth links.
TEST(com_port_device_node, numbers_real_kernel_layouts) {
  const struct {
    const char *name;
    std::string records;
    std::vector<std::pair<int, const char *>> nodes;  // nullptr: no port to open
  } beds[] = {
      {"150 FTDI adapters",
       ftdi_adapters_records(150),
       {{1, "/dev/ttyUSB0"},
        {100, "/dev/ttyUSB99"},
        {101, "/dev/ttyUSB100"},
        {150, "/dev/ttyUSB149"},
        {151, nullptr}}},
      {"32 placeholder slots",
       placeholder_slots_record(0, 32) + usb_adapter_record(standard_ftdi_adapter),
       {{1, nullptr}, {32, nullptr}, {33, "/dev/ttyUSB0"}, {34, nullptr}}},
      {"Bluetooth links and a Raspberry Pi",
       soc_port_record("ttyAMA0", "amba", "fe201000.serial", "uart-pl011") +
           soc_port_record("ttyS0", "platform", "fe215040.serial", "bcm2835-aux-uart") +
           rfcomm_bound_record("rfcomm1", "00:1A:7D:DA:71:13", 3) +
           rfcomm_connected_record("rfcomm0", "usb1/1-7", "00:1A:7D:DA:71:14", 1) +
           virtual_tty_record("ttyprintk") + virtual_tty_record("tty0") + virtual_tty_record("tty"),
       {{1, "/dev/ttyS0"},
        {2, "/dev/rfcomm0"},
        {3, "/dev/rfcomm1"},
        {4, "/dev/ttyAMA0"},
        {5, nullptr}}},
  };
  for (const auto &bed_data : beds) {
    SCOPED_TRACE(bed_data.name);
    fake_testbed bed(bed_data.records);
    ASSERT_TRUE(bed.ok()) << bed.error();
    for (const auto &[com, expected] : bed_data.nodes) {
      char node[64] = "unchanged";
      EXPECT_EQ(com_port_device_node(com, node, sizeof node), expected != nullptr) << "COM" << com;
      EXPECT_STREQ(node, expected != nullptr ? expected : "unchanged") << "COM" << com;
    }
  }
}
