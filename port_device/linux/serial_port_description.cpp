// SPDX-License-Identifier: MIT
// Descriptions and hardware IDs by the port's driver and bus.
#include "serial_port_description.h"

#include <libudev.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "port_scan.h"

namespace {

// USB adapters whose driver names their family. FTDI is apart: its hardware
// ID names its own bus driver.
struct usb_family {
  const char *driver;
  const char *description;
};
const usb_family usb_families[] = {
    {"cp210x", "CP210x USB to UART Bridge"},
    {"pl2303", "Prolific USB-to-Serial Port"},
    {"cypress_m8", "Cypress USB-to-Serial Port"},
    {"ark3116", "ArkMicro USB-to-Serial Port"},
};

bool equal(const char *a, const char *b) { return a != nullptr && std::strcmp(a, b) == 0; }

// Copies text, cut at a whole character, with control characters shown as
// '?' so that a device's own strings cannot disturb a terminal.
void set_text(char (&slot)[serial_port_text_size], const char *text) {
  copy_cut(slot, sizeof slot, text, utf8_char_length);
  for (char *c = slot; *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) *c = '?';
  }
}

// The device that stands for the port on its bus: the first parent that is
// not part of the serial core's own chain (kernels from 6.5 on put
// serial-base devices in between; their depth varies).
udev_device *port_bus_device(udev_device *tty) {
  udev_device *device = udev_device_get_parent(tty);
  while (device != nullptr && equal(udev_device_get_subsystem(device), "serial-base")) {
    device = udev_device_get_parent(device);
  }
  return device;
}

// Driver bound to the port: the first driver from its bus device upwards.
const char *port_driver(udev_device *bus_device) {
  for (udev_device *device = bus_device; device != nullptr;
       device = udev_device_get_parent(device)) {
    if (const char *driver = udev_device_get_driver(device)) return driver;
  }
  return nullptr;
}

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 4 upper-case hex digits of an ID of 1 to 4 hex digits such as "0403" or
// "0x8086"; false for anything else.
bool format_hex_id(const char *value, char (&id)[5]) {
  if (value == nullptr) return false;
  if (value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) value += 2;
  unsigned number = 0;
  int digits = 0;
  for (; value[digits] != '\0'; ++digits) {
    const int digit = hex_digit_value(value[digits]);
    if (digit < 0 || digits == 4) return false;
    number = number * 16 + static_cast<unsigned>(digit);
  }
  if (digits == 0) return false;
  std::snprintf(id, sizeof id, "%04X", number);
  return true;
}

// Decodes udev's \xNN escapes (ID_MODEL_ENC) into text.
void decode_udev_escapes(const char *encoded, char (&text)[serial_port_text_size]) {
  std::size_t length = 0;
  for (const char *c = encoded; *c != '\0' && length + 1 < sizeof text; ++c) {
    const bool escape =
        c[0] == '\\' && c[1] == 'x' && hex_digit_value(c[2]) >= 0 && hex_digit_value(c[3]) >= 0;
    if (escape) {
      text[length++] = static_cast<char>(hex_digit_value(c[2]) * 16 + hex_digit_value(c[3]));
      c += 3;
    } else {
      text[length++] = *c;
    }
  }
  text[length] = '\0';
}

// What a USB adapter says about itself.
struct usb_identity {
  char vendor[5] = "0000";
  char product_id[5] = "0000";
  char product[serial_port_text_size] = "";
  const char *driver = nullptr;
};

// From the USB device's sysfs attributes when it has them, else from the
// ID_* properties that the udev daemon keeps on the tty.
usb_identity read_usb_identity(udev_device *tty, udev_device *usb, const char *driver) {
  usb_identity identity;
  identity.driver = driver;
  if (usb != nullptr &&
      format_hex_id(udev_device_get_sysattr_value(usb, "idVendor"), identity.vendor)) {
    format_hex_id(udev_device_get_sysattr_value(usb, "idProduct"), identity.product_id);
    if (const char *product = udev_device_get_sysattr_value(usb, "product"))
      set_text(identity.product, product);
    return identity;
  }
  format_hex_id(udev_device_get_property_value(tty, "ID_VENDOR_ID"), identity.vendor);
  format_hex_id(udev_device_get_property_value(tty, "ID_MODEL_ID"), identity.product_id);
  if (const char *model = udev_device_get_property_value(tty, "ID_MODEL_ENC"))
    decode_udev_escapes(model, identity.product);
  if (identity.driver == nullptr)
    identity.driver = udev_device_get_property_value(tty, "ID_USB_DRIVER");
  return identity;
}

void describe_usb_port(const usb_identity &usb, serial_port_text &text) {
  char hardware_id[serial_port_text_size];
  if (equal(usb.driver, "ftdi_sio")) {
    set_text(text.description, usb.product[0] != '\0' ? usb.product : "USB Serial Port");
    std::snprintf(hardware_id, sizeof hardware_id, "FTDIBUS\\COMPORT&VID_%s&PID_%s", usb.vendor,
                  usb.product_id);
    set_text(text.hardware_id, hardware_id);
    return;
  }
  const char *description = usb.product[0] != '\0' ? usb.product : "USB Serial Device";
  for (const usb_family &family : usb_families) {
    if (equal(usb.driver, family.driver)) description = family.description;
  }
  set_text(text.description, description);
  std::snprintf(hardware_id, sizeof hardware_id, "USB\\VID_%s&PID_%s", usb.vendor, usb.product_id);
  set_text(text.hardware_id, hardware_id);
}

// The 8250 driver names its ports ttyS<i>.
bool is_8250_port(udev_device *tty) {
  const char *name = udev_device_get_sysname(tty);
  return std::strncmp(name, "ttyS", 4) == 0 && std::isdigit(static_cast<unsigned char>(name[4]));
}

// ACPI\ and the pnp device's first ID (sysfs lists one ID per line).
void describe_pnp_port(udev_device *pnp, serial_port_text &text) {
  const char *ids = udev_device_get_sysattr_value(pnp, "id");
  char hardware_id[serial_port_text_size];
  std::snprintf(hardware_id, sizeof hardware_id, "ACPI\\%.*s",
                ids ? static_cast<int>(std::strcspn(ids, "\n")) : 0, ids ? ids : "");
  set_text(text.description, "Communications Port");
  set_text(text.hardware_id, hardware_id);
}

void describe_pci_port(udev_device *pci, serial_port_text &text) {
  char vendor[5] = "0000";
  char device[5] = "0000";
  format_hex_id(udev_device_get_sysattr_value(pci, "vendor"), vendor);
  format_hex_id(udev_device_get_sysattr_value(pci, "device"), device);
  char hardware_id[serial_port_text_size];
  std::snprintf(hardware_id, sizeof hardware_id, "PCI\\VEN_%s&DEV_%s", vendor, device);
  set_text(text.description, "PCI Serial Port");
  set_text(text.hardware_id, hardware_id);
}

// "Serial Port", and the bus name in upper case, a backslash, the driver.
void describe_other_port(udev_device *bus_device, const char *driver, serial_port_text &text) {
  const char *bus = bus_device != nullptr ? udev_device_get_subsystem(bus_device) : nullptr;
  char hardware_id[serial_port_text_size];
  std::snprintf(hardware_id, sizeof hardware_id, "%s\\%s", bus ? bus : "", driver ? driver : "");
  for (char *c = hardware_id; *c != '\\' && *c != '\0'; ++c)
    *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
  set_text(text.description, "Serial Port");
  set_text(text.hardware_id, hardware_id);
}

}  // namespace

void describe_serial_port(udev_device *tty, serial_port_text &text) {
  udev_device *bus_device = port_bus_device(tty);
  const char *driver = port_driver(bus_device);
  udev_device *usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
  if (usb != nullptr || equal(udev_device_get_property_value(tty, "ID_BUS"), "usb")) {
    describe_usb_port(read_usb_identity(tty, usb, driver), text);
  } else if (is_8250_port(tty) && equal(udev_device_get_subsystem(bus_device), "pnp")) {
    describe_pnp_port(bus_device, text);
  } else if (is_8250_port(tty) && equal(udev_device_get_subsystem(bus_device), "pci")) {
    describe_pci_port(bus_device, text);
  } else {
    describe_other_port(bus_device, driver, text);
  }
}
