// SPDX-License-Identifier: MIT
// The sensor link: finds the first FTDI-bus port, opens and initialises the
// module, and turns each request into one decoded sample.
//
// Every command is an exchange: the command line, the reply line, and one
// further character (the LF after the reply's CR). Time and step rules:
// - A read that times out ends the exchange: after a missing reply line no
//   further character is awaited. In a sample, any timeout also skips the
//   follow-up "21", so a silent module costs about one second per request
//   and no request takes more than about two.
// - After an exchange that went wrong (a timeout, or a sample reply without
//   six fields) the next request first lets the line settle for 50 ms and
//   drops whatever arrived, so a late reply is never read as the answer to a
//   later command. A module that answers promptly never triggers this.
// - Once a serial call reports the port gone, the link stops using it.
#include "sensor_link.h"

#include <cstdio>
#include <cstring>

#include "port_device.h"
#include "rs232.h"

int32_t sensor_port = 0;

namespace {

constexpr int ftdi_bus_type = 2;
constexpr int32_t sensor_baud = 9600;
constexpr int settle_ms = 50;

const char *const opening_commands[] = {"0F\r\n", "050027950000\r\n", "0DF3\r\n", "27\r\n",
                                        "21\r\n"};
constexpr int pause_after_first_ms = 250;
constexpr int pause_after_last_ms = 100;
const char sample_command[] = "29\r\n";
const char follow_up_command[] = "21\r\n";

bool link_open = false;  // sensor_open opened link_port; sensor_close not yet called
int16_t link_port = 0;
bool port_gone = false;    // a serial call reported the port gone
bool out_of_step = false;  // stale bytes may be waiting: settle and drop them first

enum class exchange_result {
  complete,   // reply line and further character read
  line_only,  // reply line read, the further character timed out
  no_line,    // the command could not be sent or no reply line came in time
  gone        // the port is gone
};

exchange_result exchange(const char *command, char *reply, int reply_size) {
  const int sent = rs_puts(link_port, command);
  if (sent == rs_gone) return exchange_result::gone;
  if (sent != 0) return exchange_result::no_line;
  const int line = rs_gets(link_port, reply, reply_size);
  if (line == rs_gone) return exchange_result::gone;
  if (line < 0) return exchange_result::no_line;
  const int further = rs_getch(link_port);
  if (further == rs_gone) return exchange_result::gone;
  return further < 0 ? exchange_result::line_only : exchange_result::complete;
}

// Notes what an exchange says about the port and the step of the protocol.
void note_exchange(exchange_result result) {
  if (result == exchange_result::gone) port_gone = true;
  if (result == exchange_result::line_only || result == exchange_result::no_line) {
    out_of_step = true;
  }
}

// A 16-bit field as a signed value: above 0x8000 it wraps; 0x8000 itself
// stays +32768.
int32_t signed_field(unsigned int field) {
  int32_t value = static_cast<int32_t>(field);
  if (value > 0x8000) value -= 0x10000;
  return value;
}

// Reads the six fields of a sample reply into geomagnetic and acceleration
// values in delivery order. False unless all six fields were read.
bool decode_sample(const char *reply, int32_t (&values)[6]) {
  unsigned int r[6];
  // The count of fields read is what tells a sample from a broken reply.
  // NOLINTNEXTLINE(cert-err34-c)
  if (std::sscanf(reply, "%04x%04x%04x%04x%04x%04x", &r[0], &r[1], &r[2], &r[3], &r[4], &r[5]) !=
      6) {
    return false;
  }
  int32_t s[6];
  for (int i = 0; i < 6; ++i) s[i] = signed_field(r[i]);
  for (int i = 3; i < 6; ++i) s[i] *= 10;
  // In each group of three the first two fields change places.
  values[0] = s[1];
  values[1] = s[0];
  values[2] = s[2];
  values[3] = s[4];
  values[4] = s[3];
  values[5] = s[5];
  return true;
}

bool (*key_check)(void) = nullptr;

// The COM number a port name stands for: "COMn", or a row's device node
// (name2); -1 when the directory has no such port.
int32_t find_named_port(const char *name) {
  port_device_pickup_all();
  const int count = get_how_many_port_devices();
  for (int i = 0; i < count; ++i) {
    char node[PORT_DEVICE_NAME_SIZE];
    if (get_port_device_name2(i, node) == 0 && std::strcmp(node, name) == 0) {
      return get_port_number(i);
    }
  }
  if (std::strncmp(name, "COM", 3) != 0) return -1;
  int32_t number = 0;
  const char *digit = name + 3;
  if (*digit == '\0' || *digit == '0') return -1;
  for (; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9' || number > 99999) return -1;
    number = number * 10 + (*digit - '0');
  }
  for (int i = 0; i < count; ++i) {
    if (get_port_number(i) == number) return number;
  }
  return -1;
}

int open_chosen_port(void);

}  // namespace

void sensor_set_key_check(bool (*key_waiting)(void)) { key_check = key_waiting; }

int sensor_open(void) {
  port_device_scan();
  port_device_pickup_by_type(ftdi_bus_type);
  if (get_how_many_port_devices() == 0) return 1;
  sensor_port = get_port_number(0);
  return open_chosen_port();
}

int sensor_open_port(const char *name) {
  port_device_scan();
  const int32_t number = name != nullptr ? find_named_port(name) : -1;
  if (number < 0) return 1;
  sensor_port = number;
  return open_chosen_port();
}

namespace {

int open_chosen_port(void) {
  if (rs_open(static_cast<int16_t>(sensor_port), sensor_baud) == -1) return 2;

  link_open = true;
  link_port = static_cast<int16_t>(sensor_port);
  port_gone = false;
  out_of_step = false;

  // The replies of the opening are read and not examined.
  char reply[80];
  const int command_count = static_cast<int>(sizeof opening_commands / sizeof opening_commands[0]);
  for (int i = 0; i < command_count; ++i) {
    note_exchange(exchange(opening_commands[i], reply, sizeof reply));
    if (port_gone) return 0;  // reported by the first sensor_read
    if (i == 0) rs_pause(pause_after_first_ms);
  }
  rs_pause(pause_after_last_ms);
  return 0;
}

}  // namespace

sensor_outcome sensor_read(int32_t *geo1, int32_t *geo2, int32_t *geo3, int32_t *acc1,
                           int32_t *acc2, int32_t *acc3) {
  if (!link_open || port_gone) return sensor_port_gone;
  if (out_of_step) {
    rs_pause(settle_ms);
    if (rs_discard_input(link_port) == rs_gone) {
      port_gone = true;
      return sensor_port_gone;
    }
    out_of_step = false;
  }

  // One buffer serves both replies of a sample.
  char reply[84];
  const exchange_result sample = exchange(sample_command, reply, sizeof reply);
  note_exchange(sample);
  if (sample == exchange_result::gone) return sensor_port_gone;

  // A reply that filled the buffer lost its end: it is no sample, whatever
  // its first fields say.
  int32_t values[6];
  const bool whole = std::strlen(reply) < sizeof reply - 1;
  const bool decoded = sample != exchange_result::no_line && whole && decode_sample(reply, values);
  if (!decoded) out_of_step = true;
  if (sample == exchange_result::complete) {
    note_exchange(exchange(follow_up_command, reply, sizeof reply));
  }
  // A sample read before the port went away is still delivered; the next
  // request reports the port gone.
  if (port_gone && !decoded) return sensor_port_gone;
  if (sample == exchange_result::no_line) return sensor_no_reply;
  if (!decoded) return sensor_bad_reply;

  *geo1 = values[0];
  *geo2 = values[1];
  *geo3 = values[2];
  *acc1 = values[3];
  *acc2 = values[4];
  *acc3 = values[5];
  return sensor_sample_read;
}

void sensor_close(void) {
  if (!link_open) return;
  rs_close(link_port);
  link_open = false;
}
