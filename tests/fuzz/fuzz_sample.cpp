// SPDX-License-Identifier: MIT
// SPDX-License-Identifier: MIT
// Fuzz target: the sensor link's opening and sample exchanges over the shared
// line reader, fed by a byte source whose bytes are the fuzzer's: any length,
// any bytes, CR and LF anywhere, silence and an unplugged port at any point,
// on a fake clock. The oracle: a request delivers a sample if and only if
// the reply line it read to its "29" is exactly 24 hexadecimal digits, and
// then the six values are that reply's decoding (the sign rule, x10 for
// acceleration, the first two fields of each group swapped); otherwise the
// out-parameters are untouched and the outcome says why (no reply line, a
// bad one, the port gone). No call waits more than about a second and a
// quarter, and a waiting key cuts the opening short only after an exchange
// that got no reply.
//
// Input: one byte whose bits make the first seven rs_puts calls of the
// sampling time out and (bit 7) say a key is waiting, then the wire. On the
// wire, 0xFF starts an event: the next byte modulo 3 is 0 for silence (the
// pending read waits out its time), 1 for the port going away (for good), 2
// for a literal 0xFF. Past the end of the input the module is silent.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "line_reader.h"
#include "module_protocol.h"
#include "port_device.h"
#include "rs232.h"
#include "sensor_link.h"

namespace {

constexpr int16_t fake_com = 7;
constexpr int max_reads = 64;
constexpr int32_t untouched = 0x7EADBEEF;  // in no value range
constexpr long long longest_call_ms = 1250;

// The module side of the fake port.
struct fake_wire {
  const uint8_t *data = nullptr;
  std::size_t size = 0;
  std::size_t at = 0;
  bool gone = false;           // the port went away; every call says so
  unsigned puts_failures = 0;  // bit k: the k-th rs_puts while sampling times out
  bool key_waiting = false;
  bool sampling = false;  // past sensor_open
  int puts_calls = 0;
  long long now_ms = 0;
  std::string last_command;
  int opening_commands = 0;
  bool last_exchange_had_line = true;
  bool sample_line_read = false;        // a reply line to "29" came in this request
  bool gone_after_sample_line = false;  // and the port went away right after it
  std::string sample_line;              // that line as read, NULs included
  line_reader reader;
};

fake_wire wire;

// The byte source: bytes up to the next event (a few at a time, so lines
// cross reads), a silence that waits out the read's time, or gone.
int read_wire(void *, unsigned char *bytes, int size, int wait_ms) {
  FUZZ_CHECK(size > 0 && wait_ms >= 0);
  if (wire.gone) return rs_gone;
  int count = 0;
  while (count < size && count < 5 && wire.at < wire.size) {
    const uint8_t b = wire.data[wire.at];
    if (b == 0xFF) {
      if (count > 0) break;
      const int kind = wire.at + 1 < wire.size ? wire.data[wire.at + 1] % 3 : 0;
      wire.at += 2;
      if (kind == 0) break;
      if (kind == 1) {
        wire.gone = true;
        return rs_gone;
      }
      bytes[count++] = 0xFF;
      continue;
    }
    bytes[count++] = b;
    ++wire.at;
  }
  if (count > 0) return count;
  wire.now_ms += wait_ms;
  return rs_timeout;
}

const serial_byte_source wire_source{read_wire, nullptr};

bool is_hex(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hex_value(char c) {
  if (c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

// Exact decoding of a reply of 24 hex digits: the sign rule (above 0x8000
// wraps), acceleration x10, the first two fields of each group swapped.
bool reference_decode(const std::string &line, int32_t (&values)[6]) {
  if (line.size() != 24) return false;
  for (char c : line) {
    if (!is_hex(c)) return false;
  }
  int32_t field[6];
  for (int f = 0; f < 6; ++f) {
    int32_t value = 0;
    for (int k = 0; k < 4; ++k)
      value = value * 16 + hex_value(line[static_cast<std::size_t>(4 * f + k)]);
    field[f] = value > 0x8000 ? value - 0x10000 : value;
  }
  const int32_t expected[6] = {field[1],      field[0],      field[2],
                               field[4] * 10, field[3] * 10, field[5] * 10};
  std::memcpy(values, expected, sizeof expected);
  return true;
}

}  // namespace

// ---- the directory, as the link sees it: one FTDI-bus port ----------------------

extern "C" {
int PORT_DEVICE_CALL port_device_scan(void) { return 1; }
int PORT_DEVICE_CALL port_device_pickup_by_type(int type) { return type == 2 ? 1 : 0; }
int PORT_DEVICE_CALL get_how_many_port_devices(void) { return 1; }
int PORT_DEVICE_CALL port_device_pickup_all(void) { return 1; }
int PORT_DEVICE_CALL get_port_number(int n) { return n == 0 ? fake_com : -1; }
int PORT_DEVICE_CALL get_port_device_name2(int n, char *name) {
  if (n != 0 || name == nullptr) return -1;
  name[0] = '\0';
  return 0;
}
}

// ---- the serial layer: the shared line reader over the wire ----------------------

int16_t rs_open(int16_t port, int32_t baud) {
  FUZZ_CHECK(port == fake_com && baud == 9600);
  return 0;
}

int16_t rs_open_transport(int16_t, serial_transport) {
  FUZZ_CHECK(!"the link opens no byte stream of its own here");
  return -1;
}

void rs_set_tap(int16_t port, serial_tap) { FUZZ_CHECK(port == fake_com); }

int rs_close(int16_t port) {
  FUZZ_CHECK(port == fake_com);
  return 0;
}

int rs_puts(int16_t port, const char *text) {
  FUZZ_CHECK(port == fake_com && text != nullptr);
  wire.last_command = text;
  const std::string &command = wire.last_command;
  bool known = command == std::string(sample_command) + "\r\n";
  for (const std::string &opening : opening_commands())
    known = known || command == opening + "\r\n";
  FUZZ_CHECK(known);
  if (!wire.sampling) {
    // The opening's commands in their order.
    FUZZ_CHECK(wire.opening_commands < 5 &&
               command ==
                   opening_commands()[static_cast<std::size_t>(wire.opening_commands)] + "\r\n");
    ++wire.opening_commands;
  }
  if (wire.gone) return rs_gone;
  if (!wire.sampling) return 0;
  const int call = wire.puts_calls++;
  if (call < 7 && (wire.puts_failures >> call & 1) != 0) return rs_timeout;
  return 0;
}

int rs_gets(int16_t port, char *buf, int size) { return rs_gets_within(port, buf, size, 1000); }

int rs_gets_within(int16_t port, char *buf, int size, int wait_ms) {
  FUZZ_CHECK(port == fake_com && buf != nullptr && size > 0 && wait_ms >= 0 && wait_ms <= 1000);
  // Touch the whole buffer as the caller sized it: a size larger than the
  // buffer is an ASan finding even for a short line.
  std::memset(buf, 'x', static_cast<std::size_t>(size));
  const int length = line_reader_gets(&wire.reader, &wire_source, buf, size, wait_ms);
  wire.last_exchange_had_line = length >= 0;
  if (wire.sampling && wire.last_command == "29\r\n" && length >= 0) {
    wire.sample_line_read = true;
    wire.sample_line.assign(buf, static_cast<std::size_t>(length));
  }
  return length;
}

int rs_line_end(int16_t port) {
  FUZZ_CHECK(port == fake_com);
  return wire.reader.line_end;
}

int rs_getch(int16_t port) { return rs_getch_within(port, 1000); }

int rs_getch_within(int16_t port, int wait_ms) {
  FUZZ_CHECK(port == fake_com && wait_ms >= 0 && wait_ms <= 1000);
  const int byte = line_reader_getch(&wire.reader, &wire_source, wait_ms);
  if (wire.last_command == "29\r\n" && byte == rs_gone) wire.gone_after_sample_line = true;
  return byte;
}

int rs_drain(int16_t port, int *line_ends, int quiet_ms, int wait_ms) {
  FUZZ_CHECK(port == fake_com && line_ends != nullptr && *line_ends >= 0);
  return line_reader_drain(&wire.reader, &wire_source, line_ends, quiet_ms, wait_ms);
}

int rs_discard_input(int16_t port) {
  FUZZ_CHECK(port == fake_com);
  line_reader_clear(&wire.reader);
  return wire.gone ? rs_gone : 0;
}

const char *rs_open_failure(void) { return ""; }

void rs_pause(int ms) {
  FUZZ_CHECK(ms >= 0 && ms <= 250);
  wire.now_ms += ms;
}

long long rs_clock_ms(void) { return wire.now_ms; }

bool key_waiting(void) { return wire.key_waiting; }

// ---- the target ----------------------------------------------------------------------

namespace {

// One request; returns false once the link reports the port gone.
bool read_one() {
  int32_t values[6];
  for (int32_t &value : values) value = untouched;
  wire.sample_line_read = false;
  wire.gone_after_sample_line = false;
  wire.sample_line.clear();
  const long long start = wire.now_ms;

  const sensor_outcome outcome =
      sensor_read(&values[0], &values[1], &values[2], &values[3], &values[4], &values[5]);

  FUZZ_CHECK(wire.now_ms - start <= longest_call_ms);
  int32_t expected[6];
  const bool well_formed = wire.sample_line_read && reference_decode(wire.sample_line, expected);
  // A sample exactly when the reply was 24 hexadecimal digits, unless the
  // port went away before the exchange was over.
  if (wire.gone_after_sample_line) {
    FUZZ_CHECK(outcome == sensor_port_gone);
  } else {
    FUZZ_CHECK((outcome == sensor_sample_read) == well_formed);
  }
  if (outcome == sensor_sample_read) {
    FUZZ_CHECK(std::memcmp(values, expected, sizeof values) == 0);
    return true;
  }
  for (int32_t value : values) FUZZ_CHECK(value == untouched);
  switch (outcome) {
    case sensor_no_reply: FUZZ_CHECK(!wire.sample_line_read && !wire.gone); return true;
    case sensor_bad_reply:
      FUZZ_CHECK(wire.sample_line_read && !well_formed && !wire.gone);
      return true;
    case sensor_port_gone: FUZZ_CHECK(wire.gone); return false;
    case sensor_sample_read: break;
  }
  FUZZ_CHECK(!"sensor_read returned no outcome");
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  sensor_close();
  wire = fake_wire{};
  fuzz_input header(data, size);
  const int flags = header.byte();
  wire.puts_failures = static_cast<unsigned>(flags & 0x7F);
  wire.key_waiting = (flags & 0x80) != 0;
  wire.data = size > 0 ? data + 1 : data;
  wire.size = size > 0 ? size - 1 : 0;

  sensor_set_key_check(key_waiting);
  FUZZ_CHECK(sensor_open() == 0);
  FUZZ_CHECK(sensor_port == fake_com);
  // All five commands go out unless the port went away or a key cut the
  // opening short after an exchange without a reply.
  if (!wire.gone) {
    FUZZ_CHECK(wire.opening_commands == 5 || (wire.key_waiting && !wire.last_exchange_had_line));
  }
  wire.sampling = true;

  // Read while the wire has bytes, then once more into the silence after it.
  for (int k = 0; k < max_reads; ++k) {
    const bool exhausted = wire.at >= wire.size;
    if (!read_one()) {
      // Once gone, the link stays gone and asks nothing of the port.
      const std::size_t at = wire.at;
      FUZZ_CHECK(!read_one());
      FUZZ_CHECK(wire.at == at);
      break;
    }
    if (exhausted) break;
  }
  sensor_close();
  return 0;
}
