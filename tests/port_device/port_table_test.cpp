// SPDX-License-Identifier: MIT
// The table's pattern search, pickups and queries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "port_table.h"

namespace {

struct row {
  int number;
  const char *name;
  const char *device_name;
  const char *device_name2;
};

void load_rows(const std::vector<row> &rows) {
  port_table = {};
  for (const row &r : rows) {
    const int i = port_table.device_count++;
    port_table.port_number[i] = r.number;
    std::strcpy(port_table.port_name[i], r.name);
    std::strcpy(port_table.port_device_name[i], r.device_name);
    std::strcpy(port_table.port_device_name2[i], r.device_name2);
  }
}

std::vector<int> picked_numbers() {
  std::vector<int> numbers;
  for (int n = 0; n < get_how_many_port_devices(); ++n) numbers.push_back(get_port_number(n));
  return numbers;
}

std::vector<int> picked_rows() {
  return {port_table.pickup_list, port_table.pickup_list + port_table.pickup_count};
}

// Two FTDI ports (one number shared with an ACPI port), a CP210x, and two
// rows numbered 0.
const std::vector<row> mixed_rows = {
    {1, "Communications Port", "ACPI\\PNP0501", "/dev/ttyS0"},
    {4, "USB Serial Port", "FTDIBUS\\COMPORT&VID_0403&PID_6001", "/dev/ttyUSB0"},
    {4, "USB Serial Port", "FTDIBUS\\COMPORT&VID_0403&PID_6001", "/dev/ttyUSB1"},
    {7, "CP210x USB to UART Bridge", "USB\\VID_10C4&PID_EA60", "/dev/ttyUSB2"},
    {0, "Telecom Port", "ROOT\\PORTS", ""},
    {0, "Modem (COM)", "ROOT\\MODEM", ""},
    {9, "USB Serial Port", "FTDIBUS\\COMPORT&VID_0403&PID_6015", "/dev/ttyUSB3"},
};

}  // namespace

TEST(find_pattern, answers_like_a_1_based_substring_search) {
  const std::string long_pattern(300, 'a');
  const std::string long_text = std::string(500, 'a');
  const std::string max_pattern = std::string(254, 'a') + "b";
  const std::string max_text = std::string(400, 'a') + "b";
  struct {
    const char *text;
    const char *pattern;
    int position;
  } cases[] = {
      {"xCOM12", "COM", 2},
      {"COM3", "COM", 1},
      {"com3", "COM", -1},
      {"anything", "", 1},
      {"", "", 1},
      {"", "C", -1},
      {"CO", "COM", -1},
      {"CCOM", "COM", 2},
      {"aabaabaaab", "aabaaab", 4},  // needs the prefix table to back off
      {"abababca", "ababca", 3},
      {"xyz", "xyz", 1},
      {"xyzxyz", "zx", 3},
      {"ab\xe3\x82\xbb", "\xe3\x82\xbb", 3},
      {long_text.c_str(), long_pattern.c_str(), 1},
      {"short", long_pattern.c_str(), -1},
      {max_text.c_str(), max_pattern.c_str(), 147},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(find_pattern(c.text, c.pattern), c.position)
        << "text of " << std::strlen(c.text) << " bytes, pattern of " << std::strlen(c.pattern);
  }
  EXPECT_EQ(find_pattern(nullptr, "COM"), -1);
  EXPECT_EQ(find_pattern("COM", nullptr), -1);
}

TEST(pickup_by_type, picks_the_family_in_row_order_one_row_per_number) {
  struct {
    int type;
    std::vector<int> rows;
  } cases[] = {
      {0, {0, 1, 2, 3, 4, 5, 6}},
      {1, {0}},
      {2, {1, 6}},
      {3, {3}},
      {4, {}},
      {5, {}},
      {6, {}},
      {7, {}},
      {-1, {}},
  };
  for (const auto &c : cases) {
    load_rows(mixed_rows);
    port_table.pickup_count = 3;  // a type pickup starts from an empty list
    EXPECT_EQ(port_device_pickup_by_type(c.type), static_cast<int>(c.rows.size())) << c.type;
    EXPECT_EQ(picked_rows(), c.rows) << "type " << c.type;
  }
  load_rows(mixed_rows);
  EXPECT_EQ(port_device_pickup_all(), 7);
}

TEST(pickup, appends_matches_whose_number_is_new) {
  load_rows(mixed_rows);
  EXPECT_EQ(port_device_pickup("USB"), 3);  // rows 1, 3, 6; row 2 repeats number 4
  EXPECT_EQ(picked_rows(), (std::vector<int>{1, 3, 6}));
  EXPECT_EQ(port_device_pickup("USB"), 3);   // the same pattern again adds nothing
  EXPECT_EQ(port_device_pickup("Port"), 5);  // union: ACPI row 0, first row numbered 0
  EXPECT_EQ(picked_numbers(), (std::vector<int>{4, 7, 9, 1, 0}));
  EXPECT_EQ(port_device_pickup("/dev/ttyUSB1"),
            5);  // matches only by device_name2, number 4 listed
  EXPECT_EQ(port_device_pickup(nullptr), 5);
  EXPECT_EQ(port_device_pickup("no such text"), 5);

  load_rows(mixed_rows);
  EXPECT_EQ(port_device_pickup(""), 5);  // the first row of each number
  EXPECT_EQ(picked_rows(), (std::vector<int>{0, 1, 3, 4, 6}));

  load_rows(mixed_rows);
  port_device_pickup_all();
  EXPECT_EQ(port_device_pickup(""), 7);  // every number is listed already
}

TEST(queries, read_the_picked_row_or_refuse) {
  load_rows(mixed_rows);
  port_device_pickup_by_type(2);
  char name[PORT_NAME_SIZE];
  char device_name[PORT_DEVICE_NAME_SIZE];
  EXPECT_EQ(get_port_number(1), 9);
  ASSERT_EQ(get_port_name(1, name), 0);
  EXPECT_STREQ(name, "USB Serial Port");
  ASSERT_EQ(get_port_device_name(0, device_name), 0);
  EXPECT_STREQ(device_name, "FTDIBUS\\COMPORT&VID_0403&PID_6001");
  ASSERT_EQ(get_port_device_name2(0, device_name), 0);
  EXPECT_STREQ(device_name, "/dev/ttyUSB0");

  std::strcpy(name, "untouched");
  std::strcpy(device_name, "untouched");
  for (int n : {-1, 2, 100, -2147483647 - 1}) {
    EXPECT_EQ(get_port_number(n), -1) << n;
    EXPECT_EQ(get_port_name(n, name), -1) << n;
    EXPECT_EQ(get_port_device_name(n, device_name), -1) << n;
    EXPECT_EQ(get_port_device_name2(n, device_name), -1) << n;
  }
  EXPECT_STREQ(name, "untouched");
  EXPECT_STREQ(device_name, "untouched");
  EXPECT_EQ(get_port_name(0, nullptr), -1);
  EXPECT_EQ(get_port_device_name(0, nullptr), -1);
  EXPECT_EQ(get_port_device_name2(0, nullptr), -1);

  port_device_pickup("Telecom");
  EXPECT_EQ(get_port_number(2), 0);  // a real row numbered 0, not a failure
}

TEST(queries, copy_a_full_slot_whole) {
  load_rows({{3, "", "", ""}});
  std::memset(port_table.port_name[0], 'n', PORT_NAME_SIZE - 1);
  std::memset(port_table.port_device_name2[0], 'd', PORT_DEVICE_NAME_SIZE - 1);
  port_device_pickup_all();
  char name[PORT_NAME_SIZE];
  char device_name[PORT_DEVICE_NAME_SIZE];
  ASSERT_EQ(get_port_name(0, name), 0);
  EXPECT_EQ(std::string(name), std::string(PORT_NAME_SIZE - 1, 'n'));
  ASSERT_EQ(get_port_device_name2(0, device_name), 0);
  EXPECT_EQ(std::string(device_name), std::string(PORT_DEVICE_NAME_SIZE - 1, 'd'));
}
