// SPDX-License-Identifier: MIT
#include "fake_serial_devices.h"

namespace {

const std::string usb_host = "/devices/pci0000:00/0000:00:14.0/";

std::string block(const std::string &path, const std::string &lines) {
  return "P: " + path + "\n" + lines + "\n";
}

// A tty class device under the device at path.
std::string tty_block(const std::string &path, const std::string &tty,
                      const std::string &extra = "") {
  return block(path + "/tty/" + tty,
               "N: " + tty + "\nE: DEVNAME=" + tty + "\nE: SUBSYSTEM=tty\n" + extra);
}

// The kernel's link from a tty to the device at path.
std::string device_link(const std::string &path) {
  return "L: device=../../../" + path.substr(path.rfind('/') + 1) + "\n";
}

std::string two_hex(int value) {
  const char digits[] = "0123456789abcdef";
  return std::string(1, digits[(value >> 4) & 15]) + digits[value & 15];
}

std::string driver_link(const std::string &path, const std::string &bus,
                        const std::string &driver) {
  std::string up;
  for (char c : path) {
    if (c == '/') up += "../";
  }
  return "L: driver=" + up + "bus/" + bus + "/drivers/" + driver + "\n";
}

// The serial core's port devices between a bus device and its tty.
std::string serial_base_blocks(const std::string &bus_path, std::string &tty_parent) {
  const std::string ctrl = bus_path + "/" + bus_path.substr(bus_path.rfind('/') + 1) + ":0";
  tty_parent = ctrl + "/" + ctrl.substr(ctrl.rfind('/') + 1) + ".0";
  return block(tty_parent, "E: SUBSYSTEM=serial-base\nE: DEVTYPE=port\n" +
                               driver_link(tty_parent, "serial-base", "port")) +
         block(ctrl, "E: SUBSYSTEM=serial-base\nE: DEVTYPE=ctrl\n" +
                         driver_link(ctrl, "serial-base", "ctrl"));
}

}  // namespace

std::string usb_adapter_syspath(const fake_usb_adapter &adapter) {
  return "/sys" + usb_host + adapter.usb_port;
}

std::string kernel_port_driver(const fake_usb_adapter &a) {
  if (!a.port_driver.empty()) return a.port_driver;
  if (a.driver == "ch341") return "ch341-uart";
  if (a.driver == "cypress_m8") {
    if (a.vendor == "1163") return "earthmate";
    if (a.vendor == "078b") return "nokiaca42v2";
    return "cyphidcom";
  }
  return a.driver;
}

namespace {

// A text attribute as sysfs shows it (with its newline); bytes beyond
// printable ASCII go in umockdev's hex form, which its line parser leaves
// alone.
std::string text_attribute(const std::string &name, const std::string &value) {
  bool plain = true;
  for (char c : value) plain = plain && c >= 0x20 && c < 0x7F;
  if (plain) return "A: " + name + "=" + value + "\n";
  std::string hex;
  for (char c : value) hex += two_hex(static_cast<unsigned char>(c));
  return "H: " + name + "=" + hex + "0a\n";
}

std::string usb_device_path(const fake_usb_adapter &a) { return usb_host + a.usb_port; }

// The port's interface (<device>:1.<n>), the usb-serial port device when
// the driver is a usb-serial one, and the tty.
std::string usb_port_blocks(const fake_usb_adapter &a) {
  const std::string device = usb_device_path(a);
  const std::string interface =
      device + device.substr(device.rfind('/')) + ":1." + std::to_string(a.interface_number);
  const bool acm = a.tty.rfind("ttyACM", 0) == 0;
  std::string ids;
  if (!a.sysfs_ids) {
    ids = "E: ID_BUS=usb\nE: ID_VENDOR_ID=" + a.vendor + "\nE: ID_MODEL_ID=" + a.product_id +
          "\nE: ID_USB_DRIVER=" + a.driver + "\n";
    std::string encoded;
    for (char c : a.product) encoded += c == ' ' ? std::string("\\x20") : std::string(1, c);
    if (!a.product.empty()) ids += "E: ID_MODEL_ENC=" + encoded + "\n";
  }
  std::string records;
  if (acm) {
    records = tty_block(interface, a.tty, ids + (a.device_link ? device_link(interface) : ""));
  } else {
    const std::string port = interface + "/" + a.tty;
    const std::string port_driver = kernel_port_driver(a);
    records = tty_block(port, a.tty, ids + (a.device_link ? device_link(port) : "")) +
              block(port, "E: SUBSYSTEM=usb-serial\nE: DRIVER=" + port_driver + "\n" +
                              driver_link(port, "usb-serial", port_driver));
  }
  return records +
         block(interface, "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=" + a.driver +
                              "\nA: bInterfaceNumber=" + two_hex(a.interface_number) + "\n" +
                              driver_link(interface, "usb", a.driver));
}

std::string usb_device_block(const fake_usb_adapter &a) {
  const std::string device = usb_device_path(a);
  std::string attributes;
  if (a.sysfs_ids) {
    attributes = "A: idVendor=" + a.vendor + "\nA: idProduct=" + a.product_id + "\n";
    if (!a.product.empty()) attributes += text_attribute("product", a.product);
  }
  // As sysfs formats them: "%2d" and "%02x".
  const std::string interfaces = (a.interfaces < 10 ? " " : "") + std::to_string(a.interfaces);
  const bool iad = a.device_class == "ef";
  attributes += "A: bNumInterfaces=" + interfaces +
                "\nA: bNumConfigurations=1\nA: bDeviceClass=" + a.device_class +
                "\nA: bDeviceSubClass=" + (iad ? "02" : "00") +
                "\nA: bDeviceProtocol=" + (iad ? "01" : "00") + "\n";
  return block(device, "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n" + attributes +
                           driver_link(device, "usb", "usb"));
}

}  // namespace

std::string usb_adapter_record(const fake_usb_adapter &a) {
  return usb_port_blocks(a) + usb_device_block(a);
}

std::string usb_multi_port_record(const std::vector<fake_usb_adapter> &ports) {
  std::string records;
  for (fake_usb_adapter port : ports) {
    port.usb_port = ports.front().usb_port;
    records += usb_port_blocks(port);
  }
  return records + usb_device_block(ports.front());
}

std::string ftdi_adapters_records(int count) {
  std::string records;
  for (int k = 0; k < count; ++k) {
    const std::string bus = std::to_string(1 + k / 16);
    fake_usb_adapter adapter{"usb" + bus + "/" + bus + "-" + std::to_string(1 + k % 16),
                             "ttyUSB" + std::to_string(k),
                             "ftdi_sio",
                             "0403",
                             "6001",
                             "FT232R USB UART"};
    adapter.device_link = true;
    records += usb_adapter_record(adapter);
  }
  return records;
}

std::string pnp_port_record(const std::string &tty, const std::string &pnp_device,
                            const std::string &id, bool serial_base) {
  const std::string device = "/devices/pnp0/" + pnp_device;
  std::string tty_parent = device;
  const std::string chain = serial_base ? serial_base_blocks(device, tty_parent) : "";
  return tty_block(tty_parent, tty, "A: type=4\n") + chain +
         block(device,
               "E: SUBSYSTEM=pnp\nA: id=" + id + "\n" + driver_link(device, "pnp", "serial"));
}

std::string pci_port_record(const std::string &tty, const std::string &slot,
                            const std::string &vendor, const std::string &device_id) {
  const std::string device = "/devices/pci0000:00/" + slot;
  std::string tty_parent;
  const std::string chain = serial_base_blocks(device, tty_parent);
  return tty_block(tty_parent, tty, "A: type=4\n") + chain +
         block(device, "E: SUBSYSTEM=pci\nA: vendor=" + vendor + "\nA: device=" + device_id + "\n" +
                           driver_link(device, "pci", "serial"));
}

std::string bus_port_record(const std::string &tty, const std::string &bus,
                            const std::string &device_name, const std::string &driver) {
  const std::string device = "/devices/platform/" + device_name;
  return tty_block(device, tty) +
         block(device, "E: SUBSYSTEM=" + bus + "\n" + driver_link(device, bus, driver));
}

std::string soc_port_record(const std::string &tty, const std::string &bus,
                            const std::string &device_name, const std::string &driver) {
  const std::string device = "/devices/platform/soc/" + device_name;
  std::string tty_parent;
  const std::string chain = serial_base_blocks(device, tty_parent);
  return tty_block(tty_parent, tty, "A: type=4\n" + device_link(tty_parent)) + chain +
         block(device, "E: SUBSYSTEM=" + bus + "\n" + driver_link(device, bus, driver));
}

std::string placeholder_record(const std::string &tty) {
  const std::string device = "/devices/platform/serial8250";
  std::string tty_parent;
  const std::string chain = serial_base_blocks(device, tty_parent);
  return tty_block(tty_parent, tty, "A: type=0\n") + chain +
         block(device, "E: SUBSYSTEM=platform\n" + driver_link(device, "platform", "serial8250"));
}

std::string placeholder_slots_record(int first, int count) {
  const std::string device = "/devices/platform/serial8250";
  const std::string ctrl = device + "/serial8250:0";
  std::string records;
  for (int k = first; k < first + count; ++k) {
    const std::string port = ctrl + "/serial8250:0." + std::to_string(k);
    records += tty_block(port, "ttyS" + std::to_string(k), "A: type=0\n" + device_link(port)) +
               block(port, "E: SUBSYSTEM=serial-base\nE: DEVTYPE=port\n" +
                               driver_link(port, "serial-base", "port"));
  }
  return records +
         block(ctrl, "E: SUBSYSTEM=serial-base\nE: DEVTYPE=ctrl\n" +
                         driver_link(ctrl, "serial-base", "ctrl")) +
         block(device, "E: SUBSYSTEM=platform\n" + driver_link(device, "platform", "serial8250"));
}

std::string rfcomm_connected_record(const std::string &tty, const std::string &usb_port,
                                    const std::string &address, int channel) {
  const fake_usb_adapter dongle{usb_port, "", "btusb", "0a12", "0001", "CSR8510 A10"};
  const std::string device = usb_host + usb_port;
  const std::string interface = device + device.substr(device.rfind('/')) + ":1.0";
  const std::string host = interface + "/bluetooth/hci0";
  const std::string link = host + "/hci0:256";
  return tty_block(link, tty,
                   "A: address=" + address + "\nA: channel=" + std::to_string(channel) + "\n" +
                       device_link(link)) +
         block(link, "E: SUBSYSTEM=bluetooth\nE: DEVTYPE=link\n") +
         block(host, "E: SUBSYSTEM=bluetooth\nE: DEVTYPE=host\n") +
         block(interface, "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=btusb\n" +
                              driver_link(interface, "usb", "btusb")) +
         usb_device_block(dongle);
}

std::string rfcomm_bound_record(const std::string &tty, const std::string &address, int channel) {
  return block("/devices/virtual/tty/" + tty, "N: " + tty + "\nE: DEVNAME=" + tty +
                                                  "\nE: SUBSYSTEM=tty\nA: address=" + address +
                                                  "\nA: channel=" + std::to_string(channel) + "\n");
}

std::string virtual_tty_record(const std::string &tty) {
  return block("/devices/virtual/tty/" + tty,
               "N: " + tty + "\nE: DEVNAME=" + tty + "\nE: SUBSYSTEM=tty\n");
}

const fake_usb_adapter standard_ftdi_adapter{"usb1/1-2", "ttyUSB0", "ftdi_sio",
                                             "0403",     "6001",    "FT232R USB UART"};

std::string standard_bed_records() {
  return pnp_port_record("ttyS0", "00:00", "PNP0501", true) + placeholder_record("ttyS1") +
         usb_adapter_record(standard_ftdi_adapter) +
         usb_adapter_record({"usb1/1-1", "ttyUSB1", "ftdi_sio", "0403", "6015", ""}) +
         usb_adapter_record({"usb2/2-1", "ttyUSB2", "cp210x", "10c4", "ea60",
                             "CP2102 USB to UART Bridge Controller"}) +
         usb_adapter_record(
             {"usb1/1-3", "ttyUSB10", "pl2303", "067b", "2303", "USB-Serial Controller"}) +
         virtual_tty_record("ttyprintk");
}
