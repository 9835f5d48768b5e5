// SPDX-License-Identifier: MIT
// Both scan passes over scripted sources, and the text rules they use.
#include <gtest/gtest.h>

#include <string>

#include "port_scan.h"
#include "port_table.h"
#include "scripted_sources.h"

namespace {

scripted_device ftdi(const std::string &friendly_name) {
  return {"USB Serial Port", friendly_name,
          std::string("FTDIBUS\\COMPORT&VID_0403&PID_6001\0\0", 35)};
}

int scan(scripted_class_source &classes, scripted_map_source &map) {
  return scan_ports(classes, map, utf8_char_length);
}

// Every text slot holds a NUL within its size and the count stays in range.
void expect_table_sound() {
  ASSERT_GE(port_table.device_count, 0);
  ASSERT_LE(port_table.device_count, port_table_rows);
  for (int row = 0; row < port_table_rows; ++row) {
    EXPECT_LT(strnlen(port_table.port_name[row], port_name_size),
              static_cast<std::size_t>(port_name_size));
    EXPECT_LT(strnlen(port_table.port_device_name[row], port_device_name_size),
              static_cast<std::size_t>(port_device_name_size));
    EXPECT_LT(strnlen(port_table.port_device_name2[row], port_device_name_size),
              static_cast<std::size_t>(port_device_name_size));
  }
}

}  // namespace

TEST(com_numbers, friendly_names_give_the_number_after_com) {
  struct {
    const char *friendly_name;
    int number;  // -1: no row
  } cases[] = {
      {"USB Serial Port (COM12)", 12},
      {"USB Serial Port (COM3)", 3},
      {"Port (COM123)", 123},  // every digit, not the first two
      {"Port (COM05)", 5},     // a leading 0 is a digit here
      {"Port (COM0)", 0},
      {"Port (COM)", 0},
      {"Port (COMx)", 0},
      {"Port (Com3)", -1},
      {"USB COM Port (COM9)", 9},  // the first COM with a digit after it
      {"Telecom Port 2", 0},       // "com" inside a word still gives a row
      {"modem com7 (COM)", 7},
      {"Port (COM1234567890)", 0},  // too many digits for a number
      {"Port (COM999999999)", 999999999},
      {"Serial", -1},
      {"", -1},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(friendly_name_com_number(c.friendly_name), c.number) << c.friendly_name;
  }
}

TEST(com_numbers, serial_map_texts_start_no_number_with_zero) {
  struct {
    const char *text;
    int number;
  } cases[] = {
      {"COM1", 1}, {"COM12", 12}, {"COM123", 123}, {"COM0", 0},          {"COM05", 0},
      {"COM", 0},  {"COMx", 0},   {"COM7a", 7},    {"COM1234567890", 0},
  };
  for (const auto &c : cases) EXPECT_EQ(serial_map_com_number(c.text), c.number) << c.text;
}

TEST(cuts, keep_whole_utf8_characters) {
  const std::string katakana = "\xe3\x82\xbb";  // three bytes
  struct {
    std::string text;
    std::size_t kept;
  } cases[] = {
      {std::string(40, 'a'), 31},
      {std::string(31, 'a'), 31},
      {std::string(30, 'a') + katakana, 30},  // the character would end past 31
      {std::string(28, 'a') + katakana + "b", 31},
      {std::string(29, 'a') + "\xc3\xa9" + "x", 31},  // a two-byte character fits exactly
      {std::string(30, 'a') + "\xff\xfe", 31},        // invalid bytes count alone
      {std::string(30, 'a') + "\xe3\x82" + "b", 31},  // a broken sequence counts byte by byte
  };
  for (const auto &c : cases) {
    char slot[port_name_size];
    copy_cut(slot, sizeof slot, c.text.c_str(), utf8_char_length);
    EXPECT_EQ(std::string(slot), c.text.substr(0, c.kept)) << c.text.size() << " bytes";
  }
}

TEST(device_class_pass, fills_rows_from_devices_with_com_in_their_name) {
  scripted_class_source classes;
  classes.devices = {
      {"Communications Port", "Communications Port (COM1)",
       std::string("ACPI\\PNP0501\0*PNP0501\0", 23)},
      {"Printer", "LPT1", "ACPI\\PNP0400"},  // no COM: no row, but the index advances
      ftdi("USB Serial Port (COM12)"),
      {"Unreadable", "(COM4)", "X", false},  // no friendly name readable: no row
      {std::string(40, 'd'), "(COM5)", std::string(300, 'h')},
  };
  scripted_map_source map;
  port_table = {};
  std::strcpy(port_table.port_device_name2[1], "/dev/stale");
  port_table.pickup_count = 4;

  EXPECT_EQ(scan(classes, map), 3);
  EXPECT_EQ(port_table.pickup_count, 0);
  EXPECT_EQ(classes.selects, 6);
  EXPECT_EQ(classes.closes, 1);
  EXPECT_EQ(port_table.port_number[0], 1);
  EXPECT_STREQ(port_table.port_name[0], "Communications Port");
  EXPECT_STREQ(port_table.port_device_name[0], "ACPI\\PNP0501");  // first string only
  EXPECT_EQ(port_table.port_number[1], 12);
  EXPECT_STREQ(port_table.port_device_name[1], "FTDIBUS\\COMPORT&VID_0403&PID_6001");
  EXPECT_STREQ(port_table.port_device_name2[1], "");  // a rescan leaves no stale name
  EXPECT_EQ(port_table.port_number[2], 5);
  EXPECT_EQ(std::string(port_table.port_name[2]), std::string(31, 'd'));
  EXPECT_EQ(std::string(port_table.port_device_name[2]), std::string(255, 'h'));
  expect_table_sound();
}

TEST(device_class_pass, terminates_text_handed_over_without_nul) {
  scripted_class_source classes;
  classes.omit_nul = true;
  classes.devices = {
      {std::string(1023, 'd'), std::string(1018, 'f') + "(COM8", std::string(1023, 'h')}};
  scripted_map_source map;
  port_table = {};
  EXPECT_EQ(scan(classes, map), 1);
  EXPECT_EQ(port_table.port_number[0], 8);
  EXPECT_EQ(std::string(port_table.port_name[0]), std::string(31, 'd'));
  EXPECT_EQ(std::string(port_table.port_device_name[0]), std::string(255, 'h'));
  expect_table_sound();
}

TEST(device_class_pass, stops_at_one_hundred_rows) {
  scripted_class_source classes;
  for (int i = 1; i <= 120; ++i) classes.devices.push_back(ftdi("(COM" + std::to_string(i) + ")"));
  scripted_map_source map;
  map.values = {{"\\Device\\Serial200", "COM200"}, {"\\Device\\VCP0", "COM100"}};
  port_table = {};
  EXPECT_EQ(scan_device_class(classes, utf8_char_length), 100);
  EXPECT_EQ(classes.selects, 100);  // no device is asked for past the last row
  EXPECT_EQ(port_table.port_number[99], 100);
  // A full table still counts map values and names matching rows, but grows no further.
  EXPECT_EQ(scan_serial_map(map, utf8_char_length), 2);
  EXPECT_EQ(port_table.device_count, 100);
  EXPECT_STREQ(port_table.port_device_name2[99], "\\Device\\VCP0");
  expect_table_sound();
}

TEST(device_class_pass, refused_list_leaves_the_table_and_the_map_still_merges) {
  scripted_class_source classes;
  classes.devices = {ftdi("(COM3)")};
  scripted_map_source map;
  port_table = {};
  ASSERT_EQ(scan(classes, map), 1);

  classes.grant_list = false;
  map.values = {{"\\Device\\VCP0", "COM3"}};
  EXPECT_EQ(scan_device_class(classes, utf8_char_length), -1);
  EXPECT_EQ(classes.closes, 1);  // only the granted list was released
  EXPECT_EQ(scan(classes, map), 1);
  EXPECT_EQ(port_table.port_number[0], 3);
  EXPECT_STREQ(port_table.port_device_name2[0], "\\Device\\VCP0");
}

TEST(serial_map_pass, names_matching_rows_and_appends_the_rest) {
  scripted_class_source classes;
  classes.devices = {ftdi("(COM3)"), ftdi("(COM3)"), ftdi("(COM4)")};
  scripted_map_source map;
  map.values = {
      {"\\Device\\VCP0", "COM3"},               // both rows numbered 3
      {"\\Device\\Serial9", "COM9"},            // no row: appended
      {"\\Device\\Odd", "COM4", false},         // not text: changes nothing
      {"\\Device\\Modem", "MODEM1"},            // not a COM text: not counted
      {"\\Device\\Huge", "COM4", true, false},  // text that does not fit: skipped
      {"\\Device\\Serial9b", "COM9"},           // replaces the appended row's name
      {"\\Device\\Zero", "COM0x"},              // no number: carries 0
      {"\\Device\\Long", "COM77" + std::string(40, 'L')},
  };
  port_table = {};
  EXPECT_EQ(scan_device_class(classes, utf8_char_length), 3);
  EXPECT_EQ(scan_serial_map(map, utf8_char_length), 5);
  EXPECT_EQ(map.closes, 1);
  ASSERT_EQ(port_table.device_count, 6);
  EXPECT_STREQ(port_table.port_device_name2[0], "\\Device\\VCP0");
  EXPECT_STREQ(port_table.port_device_name2[1], "\\Device\\VCP0");
  EXPECT_STREQ(port_table.port_device_name2[2], "");
  EXPECT_EQ(port_table.port_number[3], 9);
  EXPECT_STREQ(port_table.port_name[3], "COM9");
  EXPECT_STREQ(port_table.port_device_name[3], "");
  EXPECT_STREQ(port_table.port_device_name2[3], "\\Device\\Serial9b");
  EXPECT_EQ(port_table.port_number[4], 0);
  EXPECT_STREQ(port_table.port_name[4], "COM0x");
  EXPECT_EQ(port_table.port_number[5], 77);
  EXPECT_EQ(std::string(port_table.port_name[5]), ("COM77" + std::string(40, 'L')).substr(0, 31));
  expect_table_sound();
}

TEST(serial_map_pass, handles_closed_map_text_without_nul_and_empty_system) {
  scripted_class_source classes;
  scripted_map_source map;
  port_table = {};
  EXPECT_EQ(scan(classes, map), 0);
  EXPECT_EQ(port_device_pickup_all(), 0);
  EXPECT_EQ(port_device_pickup_by_type(2), 0);

  map.grant_map = false;
  map.values = {{"\\Device\\Serial0", "COM1"}};
  EXPECT_EQ(scan_serial_map(map, utf8_char_length), 0);
  EXPECT_EQ(map.closes, 1);  // only the map opened by the first scan was closed
  EXPECT_EQ(port_table.device_count, 0);

  map.grant_map = true;
  map.omit_nul = true;
  map.values = {{"\\Device\\Serial0", "COM2" + std::string(251, '2')}};  // 255 bytes, no NUL
  EXPECT_EQ(scan_serial_map(map, utf8_char_length), 1);
  EXPECT_EQ(port_table.port_number[0], 0);  // far too many digits for a number
  EXPECT_EQ(std::string(port_table.port_name[0]), ("COM2" + std::string(27, '2')));
  expect_table_sound();
}
