// SPDX-License-Identifier: MIT
// The directory under Wine over fake Ports-class devices and serial-map
// values: SetupAPI, the registry and both passes together, through the nine
// exported functions.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "port_device.h"
#include "registry_fixture.h"

namespace {

// The text as the ANSI functions hand it over in code page 932.
std::string cp932(const char *utf8) {
  wchar_t wide[256];
  char bytes[512];
  const int wide_length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 256);
  const int length =
      WideCharToMultiByte(932, 0, wide, wide_length, bytes, sizeof bytes, nullptr, nullptr);
  return length > 0 ? std::string(bytes) : std::string();
}

struct picked_port {
  int number;
  std::string name;
  std::string device_name;
  std::string device_name2;
};

picked_port picked(int n) {
  char name[PORT_NAME_SIZE] = {};
  char device_name[PORT_DEVICE_NAME_SIZE] = {};
  char device_name2[PORT_DEVICE_NAME_SIZE] = {};
  EXPECT_EQ(get_port_name(n, name), 0);
  EXPECT_EQ(get_port_device_name(n, device_name), 0);
  EXPECT_EQ(get_port_device_name2(n, device_name2), 0);
  return {get_port_number(n), name, device_name, device_name2};
}

std::vector<int> picked_numbers(void) {
  std::vector<int> numbers;
  for (int n = 0; n < get_how_many_port_devices(); ++n) numbers.push_back(get_port_number(n));
  return numbers;
}

class directory_over_registry : public ::testing::Test {
protected:
  void install(const std::vector<fake_device> &devices, const std::vector<fake_map_value> &values) {
    installed_.insert(installed_.end(), devices.begin(), devices.end());
    ASSERT_TRUE(install_fake_ports(devices, values));
  }
  void TearDown() override { remove_fake_ports(installed_); }

private:
  std::vector<fake_device> installed_;
};

TEST_F(directory_over_registry, lists_class_devices_then_map_only_ports) {
  ASSERT_EQ(GetACP(), 932u) << "run with LC_ALL=ja_JP.UTF-8 for the Japanese code page";
  install(standard_devices(), standard_map_values());
  ASSERT_EQ(port_device_scan(), 6);
  ASSERT_EQ(port_device_pickup_all(), 6);

  // "USB-" and 13 whole double-byte characters: 30 of the 31 bytes.
  const std::string japanese = cp932("USB-シリアル変換ケーブル通信ポ");
  ASSERT_EQ(japanese.size(), 30u);
  const picked_port expected[] = {
      {5, "USB Serial Port", "FTDIBUS\\COMPORT&VID_0403&PID_6001", "\\Device\\VCP0"},
      {7, "Silicon Labs CP210x USB to UART", "USB\\VID_10C4&PID_EA60&REV_0100",
       "\\Device\\Silabser0"},
      {1, "Communications Port", "ACPI\\PNP0501", "\\Device\\Serial0"},
      {9, "Prolific USB-to-Serial Comm Por", "USB\\VID_067B&PID_2303&REV_0300",
       "\\Device\\ProlificSerial0"},
      {3, japanese, "USB\\VID_0584&PID_B020", "\\Device\\RealSerial0"},
  };
  // Class rows come in the platform's device order; find each by number.
  for (const picked_port &want : expected) {
    bool found = false;
    for (int n = 0; n < 5; ++n) {
      if (get_port_number(n) != want.number) continue;
      const picked_port got = picked(n);
      EXPECT_EQ(got.name, want.name) << "COM" << want.number;
      EXPECT_EQ(got.device_name, want.device_name) << "COM" << want.number;
      EXPECT_EQ(got.device_name2, want.device_name2) << "COM" << want.number;
      found = true;
    }
    EXPECT_TRUE(found) << "COM" << want.number << " is not among the class rows";
  }
  const picked_port map_only = picked(5);
  EXPECT_EQ(map_only.number, 4);
  EXPECT_EQ(map_only.name, "COM4");
  EXPECT_EQ(map_only.device_name, "");
  EXPECT_EQ(map_only.device_name2, "\\Device\\Serial2");
}

TEST_F(directory_over_registry, picks_each_adapter_type) {
  install(standard_devices(), standard_map_values());
  ASSERT_EQ(port_device_scan(), 6);
  const struct {
    int type;
    std::vector<int> numbers;
  } cases[] = {
      {1, {1}}, {2, {5}}, {3, {7}}, {4, {9}}, {5, {}}, {6, {}}, {7, {}},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(port_device_pickup_by_type(c.type), static_cast<int>(c.numbers.size()))
        << "type " << c.type;
    EXPECT_EQ(picked_numbers(), c.numbers) << "type " << c.type;
  }
  port_device_pickup_by_type(7);
  EXPECT_EQ(port_device_pickup("\\Device\\Serial"), 2);
  EXPECT_EQ(picked_numbers(), (std::vector<int>{1, 4}));
}

TEST_F(directory_over_registry, skips_values_that_are_not_text_or_do_not_fit) {
  // Wine lists values sorted by name: the two odd ones come first, and the
  // enumeration must go on past them.
  install({}, {{"\\Device\\A_Long", "COM8" + std::string(300, 'x')},
               {"\\Device\\B_Binary", "COM6", false},
               {"\\Device\\B_Binary_Large", "COM4" + std::string(1000, 'y'), false},
               {"\\Device\\C_Serial", "COM2"}});
  ASSERT_EQ(port_device_scan(), 1);
  ASSERT_EQ(port_device_pickup_all(), 1);
  const picked_port only = picked(0);
  EXPECT_EQ(only.number, 2);
  EXPECT_EQ(only.name, "COM2");
  EXPECT_EQ(only.device_name2, "\\Device\\C_Serial");
}

TEST_F(directory_over_registry, empty_system_and_an_unplugged_adapter) {
  install({}, {});
  EXPECT_EQ(port_device_scan(), 0);
  EXPECT_EQ(port_device_pickup_all(), 0);
  EXPECT_EQ(get_port_number(0), -1);

  install(standard_devices(), standard_map_values());
  ASSERT_EQ(port_device_scan(), 6);
  ASSERT_EQ(port_device_pickup_by_type(2), 1);

  // Unplugged: the device and its map value are gone.
  std::vector<fake_device> rest(standard_devices().begin() + 1, standard_devices().end());
  std::vector<fake_map_value> values;
  for (const fake_map_value &value : standard_map_values()) {
    if (value.text != "COM5") values.push_back(value);
  }
  install(rest, values);
  EXPECT_EQ(port_device_scan(), 5);
  EXPECT_EQ(port_device_pickup_by_type(2), 0);
  EXPECT_EQ(port_device_pickup("VCP0"), 0);
}

}  // namespace
