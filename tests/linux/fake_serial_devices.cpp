#include "fake_serial_devices.h"

namespace {

const std::string usb_host = "/devices/pci0000:00/0000:00:14.0/";

std::string block(const std::string &path, const std::string &lines) {
  return "P: " + path + "\n" + lines + "\n";
}

std::string tty_block(const std::string &path, const std::string &tty,
                      const std::string &extra = "") {
  return block(path + "/tty/" + tty,
               "N: " + tty + "\nE: DEVNAME=" + tty + "\nE: SUBSYSTEM=tty\n" + extra);
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

std::string usb_adapter_record(const fake_usb_adapter &a) {
  const std::string device = usb_host + a.usb_port;
  const std::string interface = device + device.substr(device.rfind('/')) + ":1.0";
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
    records = tty_block(interface, a.tty, ids);
  } else {
    const std::string port = interface + "/" + a.tty;
    records = tty_block(port, a.tty, ids) +
              block(port, "E: SUBSYSTEM=usb-serial\nE: DRIVER=" + a.driver + "\n" +
                              driver_link(port, "usb-serial", a.driver));
  }
  records += block(interface, "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=" + a.driver +
                                  "\n" + driver_link(interface, "usb", a.driver));
  std::string attributes;
  if (a.sysfs_ids) {
    attributes = "A: idVendor=" + a.vendor + "\nA: idProduct=" + a.product_id + "\n";
    if (!a.product.empty()) attributes += "A: product=" + a.product + "\n";
  }
  records += block(device, "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n" + attributes +
                               driver_link(device, "usb", "usb"));
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

std::string placeholder_record(const std::string &tty) {
  const std::string device = "/devices/platform/serial8250";
  std::string tty_parent;
  const std::string chain = serial_base_blocks(device, tty_parent);
  return tty_block(tty_parent, tty, "A: type=0\n") + chain +
         block(device, "E: SUBSYSTEM=platform\n" + driver_link(device, "platform", "serial8250"));
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
