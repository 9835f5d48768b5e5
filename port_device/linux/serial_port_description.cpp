// SPDX-License-Identifier: MIT
// Descriptions and hardware IDs by the port's driver and bus, read from
// sysfs with one lookup per fact.
#include "serial_port_description.h"

#include <fcntl.h>
#include <libudev.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "port_scan.h"
#include "port_table.h"
#include "serial_ttys.h"

namespace {

// USB adapters whose driver names their family. The kernel module (the USB
// interface's driver) is matched, and so are the usb-serial port drivers
// that the module registers under other names. FTDI is apart: its hardware
// ID names its own bus driver.
struct usb_family {
  const char *driver;
  const char *description;
};
const usb_family usb_families[] = {
    {"cp210x", "CP210x USB to UART Bridge"},      {"pl2303", "Prolific USB-to-Serial Port"},
    {"cypress_m8", "Cypress USB-to-Serial Port"}, {"earthmate", "Cypress USB-to-Serial Port"},
    {"cyphidcom", "Cypress USB-to-Serial Port"},  {"nokiaca42v2", "Cypress USB-to-Serial Port"},
    {"ark3116", "ArkMicro USB-to-Serial Port"},
};

const char bluetooth_description[] = "Standard Serial over Bluetooth link";
// The Serial Port Profile's service class, as Windows names its ports.
const char bluetooth_hardware_id[] = "BTHENUM\\{00001101-0000-1000-8000-00805f9b34fb}";

constexpr int name_size = 64;

bool equal(const char *a, const char *b) { return a != nullptr && std::strcmp(a, b) == 0; }

// Reads the sysfs attribute at path (relative to the directory dir, or
// absolute with AT_FDCWD) into value (size bytes) without its final
// newline; false when it cannot be read.
bool read_attribute_at(int dir, const char *path, char *value, std::size_t size) {
  const int fd = openat(dir, path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t length = read(fd, value, size - 1);
  close(fd);
  if (length < 0) return false;
  value[length] = '\0';
  if (length > 0 && value[length - 1] == '\n') value[length - 1] = '\0';
  return true;
}

bool read_attribute(const char *dir, const char *name, char *value, std::size_t size) {
  char path[tty_path_size + name_size];
  std::snprintf(path, sizeof path, "%s/%s", dir, name);
  return read_attribute_at(AT_FDCWD, path, value, size);
}

// Last component of the symlink at path (relative to dir, as above): a
// subsystem or a driver.
bool read_link_name_at(int dir, const char *path, char (&base)[name_size]) {
  char target[tty_path_size];
  const ssize_t length = readlinkat(dir, path, target, sizeof target - 1);
  if (length <= 0) return false;
  target[length] = '\0';
  const char *slash = std::strrchr(target, '/');
  const char *name_start = slash != nullptr ? slash + 1 : target;
  const std::size_t name_length = std::strlen(name_start);
  if (name_length >= sizeof base) return false;
  std::memcpy(base, name_start, name_length + 1);
  return true;
}

bool read_link_name(const char *dir, const char *name, char (&base)[name_size]) {
  char path[tty_path_size + name_size];
  std::snprintf(path, sizeof path, "%s/%s", dir, name);
  return read_link_name_at(AT_FDCWD, path, base);
}

void to_parent(char *path) {
  if (char *slash = std::strrchr(path, '/')) *slash = '\0';
}

const char *last_component(const char *path) {
  const char *slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Value of 1 to 4 hex digits such as "0403" or "0x8086", or -1.
int hex_value(const char *value) {
  if (value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) value += 2;
  int number = 0;
  int digits = 0;
  for (; value[digits] != '\0'; ++digits) {
    const int digit = hex_digit_value(value[digits]);
    if (digit < 0 || digits == 4) return -1;
    number = number * 16 + digit;
  }
  return digits == 0 ? -1 : number;
}

// 4 upper-case hex digits of an ID; false for anything else.
bool format_hex_id(const char *value, char (&id)[5]) {
  int number = value != nullptr ? hex_value(value) : -1;
  if (number < 0) return false;
  const char digits[] = "0123456789ABCDEF";
  for (int k = 3; k >= 0; --k, number >>= 4) id[k] = digits[number & 15];
  id[4] = '\0';
  return true;
}

bool read_hex_attribute(int dir, const char *path, int *value) {
  char text[name_size];
  if (!read_attribute_at(dir, path, text, sizeof text)) return false;
  *value = hex_value(text);
  return *value >= 0;
}

// A decimal attribute such as bNumInterfaces (" 4"), or -1.
int read_decimal_attribute(int dir, const char *path) {
  char text[name_size];
  if (!read_attribute_at(dir, path, text, sizeof text)) return -1;
  const char *digit = text;
  while (*digit == ' ') ++digit;
  int value = 0;
  if (*digit < '0' || *digit > '9') return -1;
  for (; *digit >= '0' && *digit <= '9' && value < 1000; ++digit)
    value = value * 10 + (*digit - '0');
  return value;
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

// What a USB port says about itself, and where it sits on its device.
struct usb_identity {
  char vendor[5] = "0000";
  char product_id[5] = "0000";
  char product[serial_port_text_size] = "";
  char driver[name_size] = "";
  int interfaces = -1;        // bNumInterfaces of the device
  int interface_number = -1;  // bInterfaceNumber of the port's interface
  bool composite = false;     // Windows gives each interface its own device
};

// The udev daemon's ID_* properties on the tty, for a USB device that
// shows no IDs in sysfs.
void read_udev_identity(const char *tty_syspath, usb_identity &identity) {
  udev *context = udev_new();
  if (context == nullptr) return;
  if (udev_device *tty = udev_device_new_from_syspath(context, tty_syspath)) {
    format_hex_id(udev_device_get_property_value(tty, "ID_VENDOR_ID"), identity.vendor);
    format_hex_id(udev_device_get_property_value(tty, "ID_MODEL_ID"), identity.product_id);
    char model[serial_port_text_size] = "";
    if (const char *encoded = udev_device_get_property_value(tty, "ID_MODEL_ENC"))
      decode_udev_escapes(encoded, model);
    copy_device_text(identity.product, sizeof identity.product, model);
    const char *driver = udev_device_get_property_value(tty, "ID_USB_DRIVER");
    if (identity.driver[0] == '\0' && driver != nullptr)
      std::snprintf(identity.driver, sizeof identity.driver, "%s", driver);
    udev_device_unref(tty);
  }
  udev_unref(context);
}

// Windows loads its generic parent driver, and so numbers the interfaces
// (MI_xx), for a device of several interfaces whose class is 0 or that
// groups them by interface association (EF/02/01).
bool is_composite_device(int usb_device) {
  int device_class = 0;
  if (!read_hex_attribute(usb_device, "bDeviceClass", &device_class)) return true;
  if (device_class == 0) return true;
  int subclass = -1;
  int protocol = -1;
  return device_class == 0xEF && read_hex_attribute(usb_device, "bDeviceSubClass", &subclass) &&
         subclass == 2 && read_hex_attribute(usb_device, "bDeviceProtocol", &protocol) &&
         protocol == 1;
}

// The USB device's attributes and its interface's, read relative to the
// device's directory: one path lookup for the device, short ones after.
// False when sysfs shows no vendor ID.
bool read_usb_attributes(int usb_device, const char *interface_name, usb_identity &identity) {
  char value[serial_port_text_size];
  if (!read_attribute_at(usb_device, "idVendor", value, sizeof value) ||
      !format_hex_id(value, identity.vendor))
    return false;
  if (read_attribute_at(usb_device, "idProduct", value, sizeof value))
    format_hex_id(value, identity.product_id);
  if (read_attribute_at(usb_device, "product", value, sizeof value))
    copy_device_text(identity.product, sizeof identity.product, value);
  identity.interfaces = read_decimal_attribute(usb_device, "bNumInterfaces");
  if (identity.interfaces <= 1) return true;
  char path[tty_path_size + name_size];
  std::snprintf(path, sizeof path, "%s/bInterfaceNumber", interface_name);
  if (!read_hex_attribute(usb_device, path, &identity.interface_number))
    identity.interface_number = -1;
  identity.composite = identity.interface_number >= 0 && is_composite_device(usb_device);
  return true;
}

// interface: the USB interface that the port belongs to; port_device: the
// usb-serial port device (the interface itself for cdc_acm and the like).
usb_identity read_usb_identity(const serial_tty &tty, const char *port_device,
                               const char *interface) {
  usb_identity identity;
  char driver[name_size];
  if (read_link_name(interface, "driver", driver) || read_link_name(port_device, "driver", driver))
    std::snprintf(identity.driver, sizeof identity.driver, "%s", driver);
  char usb_device[tty_path_size];
  std::snprintf(usb_device, sizeof usb_device, "%s", interface);
  to_parent(usb_device);
  const int usb_fd = open(usb_device, O_PATH | O_DIRECTORY | O_CLOEXEC);
  const bool in_sysfs =
      usb_fd >= 0 && read_usb_attributes(usb_fd, last_component(interface), identity);
  if (usb_fd >= 0) close(usb_fd);
  if (!in_sysfs) read_udev_identity(tty.syspath, identity);
  return identity;
}

void set_text(char (&slot)[serial_port_text_size], const char *text) {
  std::snprintf(slot, sizeof slot, "%s", text);
}

// An FTDI chip of several channels gives all of them one hardware ID; the
// description names the channel (A, B, ...), kept whole in the table's
// description slot.
void describe_ftdi_port(const usb_identity &usb, serial_port_text &text) {
  const char *base = usb.product[0] != '\0' ? usb.product : "USB Serial Port";
  if (usb.interfaces > 1 && usb.interface_number >= 0 && usb.interface_number < 26) {
    const int kept =
        static_cast<int>(whole_char_prefix(base, port_name_size - 3, utf8_char_length));
    std::snprintf(text.description, sizeof text.description, "%.*s %c", kept, base,
                  'A' + usb.interface_number);
  } else {
    set_text(text.description, base);
  }
  std::snprintf(text.hardware_id, sizeof text.hardware_id, "FTDIBUS\\COMPORT&VID_%s&PID_%s",
                usb.vendor, usb.product_id);
}

void describe_usb_port(const usb_identity &usb, serial_port_text &text) {
  if (equal(usb.driver, "ftdi_sio")) {
    describe_ftdi_port(usb, text);
    return;
  }
  const char *description = usb.product[0] != '\0' ? usb.product : "USB Serial Device";
  for (const usb_family &family : usb_families) {
    if (equal(usb.driver, family.driver)) description = family.description;
  }
  set_text(text.description, description);
  const int length = std::snprintf(text.hardware_id, sizeof text.hardware_id, "USB\\VID_%s&PID_%s",
                                   usb.vendor, usb.product_id);
  if (usb.composite && length > 0) {
    std::snprintf(text.hardware_id + length, sizeof text.hardware_id - length, "&MI_%02X",
                  static_cast<unsigned>(usb.interface_number));
  }
}

// The 8250 driver names its ports ttyS<i>.
bool is_8250_port(const serial_tty &tty) {
  return std::strncmp(tty.name, "ttyS", 4) == 0 &&
         std::isdigit(static_cast<unsigned char>(tty.name[4]));
}

// ACPI\ and the pnp device's first ID (sysfs lists one ID per line).
void describe_pnp_port(const char *pnp, serial_port_text &text) {
  char ids[serial_port_text_size] = "";
  read_attribute(pnp, "id", ids, sizeof ids);
  char hardware_id[serial_port_text_size + 8];
  std::snprintf(hardware_id, sizeof hardware_id, "ACPI\\%.*s",
                static_cast<int>(std::strcspn(ids, "\n")), ids);
  set_text(text.description, "Communications Port");
  copy_device_text(text.hardware_id, sizeof text.hardware_id, hardware_id);
}

void describe_pci_port(const char *pci, serial_port_text &text) {
  char vendor[5] = "0000";
  char device[5] = "0000";
  char value[name_size];
  if (read_attribute(pci, "vendor", value, sizeof value)) format_hex_id(value, vendor);
  if (read_attribute(pci, "device", value, sizeof value)) format_hex_id(value, device);
  std::snprintf(text.hardware_id, sizeof text.hardware_id, "PCI\\VEN_%s&DEV_%s", vendor, device);
  set_text(text.description, "PCI Serial Port");
}

// Driver bound to the port: the first driver from its bus device upwards.
bool find_port_driver(const char *bus_device, char (&driver)[name_size]) {
  char device[tty_path_size];
  std::snprintf(device, sizeof device, "%s", bus_device);
  for (int level = 0; level < 4 && std::strcmp(device, "/sys/devices") > 0; ++level) {
    if (read_link_name(device, "driver", driver)) return true;
    to_parent(device);
  }
  return false;
}

// "Serial Port", and the bus name in upper case, a backslash, the driver.
void describe_other_port(const char *bus_device, const char *bus, serial_port_text &text) {
  char driver[name_size] = "";
  if (bus_device != nullptr) find_port_driver(bus_device, driver);
  char hardware_id[2 * name_size + 2];
  std::snprintf(hardware_id, sizeof hardware_id, "%s\\%s", bus, driver);
  for (char *c = hardware_id; *c != '\\' && *c != '\0'; ++c)
    *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
  set_text(text.description, "Serial Port");
  copy_device_text(text.hardware_id, sizeof text.hardware_id, hardware_id);
}

void describe_bluetooth_port(serial_port_text &text) {
  set_text(text.description, bluetooth_description);
  set_text(text.hardware_id, bluetooth_hardware_id);
}

// Length of the control character at text (C0, DEL, C1 as a character or
// as a stray byte), or 0 when text begins with something else.
int control_length(const char *text, int char_length) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (char_length == 1) return lead < 0x20 || lead == 0x7F || (lead >= 0x80 && lead <= 0x9F);
  const auto next = static_cast<unsigned char>(text[1]);
  return char_length == 2 && lead == 0xC2 && next <= 0x9F ? 2 : 0;
}

}  // namespace

void copy_device_text(char *slot, std::size_t size, const char *text) {
  std::size_t length = 0;
  while (*text != '\0') {
    const int char_length = utf8_char_length(text);
    const bool control = control_length(text, char_length) > 0;
    const std::size_t out_length = control ? 1 : static_cast<std::size_t>(char_length);
    if (length + out_length > size - 1) break;
    if (control) {
      slot[length] = '?';
    } else {
      std::memcpy(slot + length, text, out_length);
    }
    length += out_length;
    text += char_length;
  }
  slot[length] = '\0';
}

void describe_serial_port(const serial_tty &tty, serial_port_text &text) {
  if (is_rfcomm_name(tty.name)) {
    describe_bluetooth_port(text);
    return;
  }
  // <bus device>/tty/<name>, with the serial core's port devices between
  // on kernels from 6.5 on (their depth varies).
  char device[tty_path_size];
  std::snprintf(device, sizeof device, "%s", tty.syspath);
  to_parent(device);
  to_parent(device);
  char bus[name_size] = "";
  while (read_link_name(device, "subsystem", bus) && equal(bus, "serial-base")) to_parent(device);
  if (equal(bus, "usb-serial") || equal(bus, "usb")) {
    char interface[tty_path_size];
    std::snprintf(interface, sizeof interface, "%s", device);
    if (equal(bus, "usb-serial")) to_parent(interface);
    if (std::strchr(last_component(interface), ':') != nullptr) {
      describe_usb_port(read_usb_identity(tty, device, interface), text);
      return;
    }
  }
  if (is_8250_port(tty) && equal(bus, "pnp")) {
    describe_pnp_port(device, text);
  } else if (is_8250_port(tty) && equal(bus, "pci")) {
    describe_pci_port(device, text);
  } else {
    describe_other_port(device, bus, text);
  }
}
