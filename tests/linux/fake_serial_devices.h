// SPDX-License-Identifier: MIT
// Fake serial hardware for umockdev test beds: records in umockdev's text
// format for USB adapters, on-board and PCI ports, placeholders and virtual
// ttys. The test bed that holds them is in the test fixture (test_bed.h).
#pragma once

#include <string>
#include <vector>

struct fake_usb_adapter {
  std::string usb_port;    // USB device under the host controller, e.g. "usb1/1-2"
  std::string tty;         // ttyUSB<i> (usb-serial) or ttyACM<i> (on the interface)
  std::string driver;      // ftdi_sio, cp210x, cdc_acm, ...
  std::string vendor;      // idVendor, e.g. "0403"
  std::string product_id;  // idProduct
  std::string product;     // product string; empty: the device has none
  bool sysfs_ids = true;   // false: the IDs only as udev ID_* properties
  // The usb-serial driver of the port. Empty: the name the kernel module
  // registers (ch341-uart for ch341; earthmate, cyphidcom or nokiaca42v2 by
  // product for cypress_m8; the module's own name for the others).
  std::string port_driver = "";
  int interface_number = 0;         // bInterfaceNumber of the port's interface
  int interfaces = 1;               // bNumInterfaces of the device
  std::string device_class = "00";  // bDeviceClass; "ef" adds subclass 02, protocol 01 (IAD)
  bool device_link = false;         // the tty's "device" link, as the kernel makes it
};

std::string usb_adapter_record(const fake_usb_adapter &adapter);
// Several ports of one USB device (all on ports[0].usb_port): each port's
// interface and tty, and the device once, described by ports[0].
std::string usb_multi_port_record(const std::vector<fake_usb_adapter> &ports);
// count FTDI adapters (FT232R) on ttyUSB0 up to ttyUSB<count - 1>, sixteen
// to a USB bus, with their ttys' device links.
std::string ftdi_adapters_records(int count);
// The usb-serial driver that the kernel gives the port of adapter.
std::string kernel_port_driver(const fake_usb_adapter &adapter);
// sysfs path of the adapter's USB device (its removal unplugs the adapter).
std::string usb_adapter_syspath(const fake_usb_adapter &adapter);

// 16550 on a pnp device; serial_base adds the chain of kernels >= 6.5.
std::string pnp_port_record(const std::string &tty, const std::string &pnp_device,
                            const std::string &id, bool serial_base);
// 8250 on a PCI device, vendor and device as sysfs shows them ("0x8086").
std::string pci_port_record(const std::string &tty, const std::string &slot,
                            const std::string &vendor, const std::string &device);
// A port on a bus device of subsystem bus bound to driver.
std::string bus_port_record(const std::string &tty, const std::string &bus,
                            const std::string &device_name, const std::string &driver);
// A port on a device of the platform's SoC (/devices/platform/soc/...), of
// subsystem bus, with the serial core's port devices between.
std::string soc_port_record(const std::string &tty, const std::string &bus,
                            const std::string &device_name, const std::string &driver);
// 8250 slot with no UART behind it (type 0).
std::string placeholder_record(const std::string &tty);
// The slots ttyS<first> to ttyS<first + count - 1> of the platform's 8250
// driver, none with a UART behind it.
std::string placeholder_slots_record(int first, int count);
// rfcomm<N> connected: under the Bluetooth link of the dongle on usb_port.
std::string rfcomm_connected_record(const std::string &tty, const std::string &usb_port,
                                    const std::string &address, int channel);
// rfcomm<N> bound to an address but not connected: under /devices/virtual.
std::string rfcomm_bound_record(const std::string &tty, const std::string &address, int channel);
std::string virtual_tty_record(const std::string &tty);

// Two FTDI adapters, a CP210x, a PL2303, an on-board 16550 (ttyS0), a
// placeholder (ttyS1) and a virtual tty. COM1 ttyS0, COM2 the placeholder,
// COM3 ttyUSB0, COM4 ttyUSB1, COM5 ttyUSB2, COM6 ttyUSB10.
std::string standard_bed_records();
extern const fake_usb_adapter standard_ftdi_adapter;  // ttyUSB0, COM3
