// SPDX-License-Identifier: MIT
// The sensor link: finds the first FTDI-bus port, opens and initialises the
// module, and turns each request into one decoded sample.
//
// Every command is an exchange: the command line, the reply line, and one
// further character (the LF after the reply's CR). Time and step rules:
// - A request (an exchange of the opening, or a sample's two exchanges) has
//   one deadline for all its reads, so a module that drips bytes slowly
//   costs no more than a silent one: about a second.
// - The further character follows its line at once: it is awaited briefly
//   after a line ended by CR, not at all after one ended by LF, and not once
//   the module has shown that it sends none. One that comes late is
//   recognised as the end of its line by the next read.
// - A reply line that did not come before its request's deadline is still
//   owed: before the next command the link drops what arrives until every
//   owed line has ended and the line has then been quiet briefly, so a late
//   reply is never read as the answer to a later command. Lines still owed
//   five seconds after the first was given up on are taken to be lost. A
//   reply that is no sample is followed by the same brief quiet. Each call
//   waits about a second at most, so a key is seen between calls.
// - Once a serial call reports the port gone, the link stops using it.
#include "sensor_link.h"

#include <algorithm>
#include <cstring>

#include "port_device.h"
#include "rs232.h"

int32_t sensor_port = 0;

namespace {

constexpr int ftdi_bus_type = 2;
constexpr int32_t sensor_baud = 9600;
constexpr int request_ms = 1000;         // deadline of one request
constexpr int further_wait_ms = 50;      // a USB adapter holds bytes up to 16 ms
constexpr int quiet_ms = 50;             // quiet before a command after a fault
constexpr int drain_then_send_ms = 250;  // longer drains leave the command to the next call
constexpr int forget_owed_ms = 5000;     // after this, owed lines are taken to be lost

const char *const opening_commands[] = {"0F\r\n", "050027950000\r\n", "0DF3\r\n", "27\r\n",
                                        "21\r\n"};
constexpr int pause_after_first_ms = 250;
constexpr int pause_after_last_ms = 100;
const char sample_command[] = "29\r\n";
const char follow_up_command[] = "21\r\n";

bool link_open = false;  // sensor_open opened link_port; sensor_close not yet called
int16_t link_port = 0;
bool port_gone = false;        // a serial call reported the port gone
int owed_lines = 0;            // reply lines given up on that may still come
long long owed_since_ms = 0;   // when the first of them was given up on
bool settle = false;           // wait for a quiet line before the next command
bool further_expected = true;  // the module sends a character after each line

enum class exchange_result {
  complete,  // reply line read (and the further character, if any came)
  no_line,   // the command could not be sent or no reply line came in time
  gone       // the port is gone
};

// Milliseconds left until deadline, never below 0.
int ms_until(long long deadline) {
  const long long left = deadline - rs_clock_ms();
  return left > 0 ? static_cast<int>(left) : 0;
}

void owe_line(void) {
  if (owed_lines == 0) owed_since_ms = rs_clock_ms();
  ++owed_lines;
}

// One exchange within the request's deadline; *length is the reply line's
// length as read (it may hold a NUL), or -1 without a line.
exchange_result exchange(const char *command, char *reply, int reply_size, long long deadline,
                         int *length) {
  *length = -1;
  const int sent = rs_puts(link_port, command);
  if (sent == rs_gone) return exchange_result::gone;
  if (sent != 0) {
    // Part of the command may have gone out: let the module's answer pass.
    settle = true;
    return exchange_result::no_line;
  }
  const int line = rs_gets_within(link_port, reply, reply_size, ms_until(deadline));
  if (line == rs_gone) return exchange_result::gone;
  if (line < 0) {
    owe_line();
    return exchange_result::no_line;
  }
  *length = line;
  const bool wait = rs_line_end(link_port) == '\r' && further_expected;
  const int further_ms = wait ? std::min(further_wait_ms, ms_until(deadline)) : 0;
  const int further = rs_getch_within(link_port, further_ms);
  if (further == rs_gone) return exchange_result::gone;
  // A line without a further character is no fault; the next lines are not
  // waited on for theirs until one shows up again.
  if (further < 0 && further_ms == further_wait_ms) further_expected = false;
  if (further >= 0 && rs_line_end(link_port) == '\r') further_expected = true;
  return exchange_result::complete;
}

// Before a command: drops a late reply and what else arrives until the line
// is in step. True when the command may go out now.
bool get_in_step(void) {
  if (owed_lines == 0 && !settle) return true;
  const long long start = rs_clock_ms();
  const int drained = rs_drain(link_port, &owed_lines, quiet_ms, request_ms);
  if (drained == rs_gone) {
    port_gone = true;
    return false;
  }
  if (drained != 0) {
    if (owed_lines > 0 && rs_clock_ms() - owed_since_ms >= forget_owed_ms) {
      owed_lines = 0;  // they are not coming; one more quiet stretch and go on
      settle = true;
    }
    return false;
  }
  settle = false;
  return rs_clock_ms() - start <= drain_then_send_ms;
}

// A 16-bit field as a signed value: above 0x8000 it wraps; 0x8000 itself
// stays +32768.
int32_t signed_field(unsigned int field) {
  int32_t value = static_cast<int32_t>(field);
  if (value > 0x8000) value -= 0x10000;
  return value;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

constexpr int sample_digits = 24;

// Decodes a sample reply of exactly 24 hexadecimal digits (length as read,
// NULs counted) into geomagnetic and acceleration values in delivery order.
// False for anything else.
bool decode_sample(const char *reply, int length, int32_t (&values)[6]) {
  if (length != sample_digits) return false;
  int32_t s[6];
  for (int field = 0; field < 6; ++field) {
    unsigned int raw = 0;
    for (int k = 0; k < 4; ++k) {
      const int digit = hex_digit(reply[field * 4 + k]);
      if (digit < 0) return false;
      raw = raw * 16 + static_cast<unsigned int>(digit);
    }
    s[field] = signed_field(raw);
  }
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
int run_opening(void);

serial_tap link_tap{nullptr, nullptr};
constexpr int16_t transport_port = 0x7FFF;  // a number no COM port is given

}  // namespace

void sensor_set_tap(serial_tap tap) { link_tap = tap; }

int sensor_open_transport(const char *, serial_transport transport) {
  sensor_port = transport_port;
  if (rs_open_transport(transport_port, transport) != 0) {
    transport.close(transport.context);
    return 2;
  }
  return run_opening();
}

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
  return run_opening();
}

int run_opening(void) {
  rs_set_tap(static_cast<int16_t>(sensor_port), link_tap);
  link_open = true;
  link_port = static_cast<int16_t>(sensor_port);
  port_gone = false;
  owed_lines = 0;
  settle = false;
  further_expected = true;

  // The replies of the opening are read and not examined. A module that does
  // not answer may be absent: a key waiting then ends the opening.
  char reply[80];
  const int command_count = static_cast<int>(sizeof opening_commands / sizeof opening_commands[0]);
  for (int i = 0; i < command_count; ++i) {
    int length = 0;
    const exchange_result result =
        exchange(opening_commands[i], reply, sizeof reply, rs_clock_ms() + request_ms, &length);
    if (result == exchange_result::gone) {
      port_gone = true;
      return 0;  // reported by the first sensor_read
    }
    if (result == exchange_result::no_line && key_check != nullptr && key_check()) return 0;
    if (i == 0) rs_pause(pause_after_first_ms);
  }
  rs_pause(pause_after_last_ms);
  return 0;
}

}  // namespace

sensor_outcome sensor_read(int32_t *geo1, int32_t *geo2, int32_t *geo3, int32_t *acc1,
                           int32_t *acc2, int32_t *acc3) {
  if (!link_open || port_gone) return sensor_port_gone;
  if (!get_in_step()) return port_gone ? sensor_port_gone : sensor_no_reply;

  // One buffer serves both replies of a sample, one deadline both exchanges.
  const long long deadline = rs_clock_ms() + request_ms;
  char reply[84];
  int length = 0;
  const exchange_result sample = exchange(sample_command, reply, sizeof reply, deadline, &length);
  if (sample == exchange_result::gone) {
    port_gone = true;
    return sensor_port_gone;
  }
  if (sample == exchange_result::no_line) return sensor_no_reply;

  int32_t values[6];
  const bool decoded = decode_sample(reply, length, values);
  if (!decoded) settle = true;
  int follow_up_length = 0;
  if (exchange(follow_up_command, reply, sizeof reply, deadline, &follow_up_length) ==
      exchange_result::gone) {
    port_gone = true;
  }
  // A sample read before the port went away is still delivered; the next
  // request reports the port gone.
  if (!decoded) return port_gone ? sensor_port_gone : sensor_bad_reply;

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
