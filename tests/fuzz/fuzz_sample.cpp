// SPDX-License-Identifier: MIT
// Fuzz target: the sensor link's opening and sample exchanges over a fake
// serial layer whose replies are the fuzzer's bytes: any length, any bytes,
// CR and LF anywhere, silence and an unplugged port at any point. Each
// sensor_read either delivers six values in range or reports no sample / a
// gone port with its out-parameters untouched; a well-formed reply of 24 hex
// digits is decoded exactly; no request waits out more than two deadlines.
//
// Input: one byte whose bits make the first eight rs_puts calls of the
// sampling time out, then the wire. On the wire, 0xFF starts an event: the
// next byte modulo 3 is 0 for silence (the pending read times out), 1 for
// the port going away (for good), 2 for a literal 0xFF. Past the end of the
// input the module is silent.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "port_device.h"
#include "rs232.h"
#include "sensor_link.h"

namespace {

constexpr int16_t fake_com = 7;
constexpr int max_reads = 64;
constexpr int32_t untouched = 0x7EADBEEF;  // in no value range

// The module side of the fake port.
struct fake_wire {
  const uint8_t *data = nullptr;
  std::size_t size = 0;
  std::size_t at = 0;
  bool gone = false;           // the port went away; every call says so
  unsigned puts_failures = 0;  // bit k: the k-th rs_puts while sampling times out
  bool sampling = false;       // past sensor_open
  int puts_calls = 0;
  int timeouts = 0;  // deadlines waited out in the current request
  std::string last_command;
  std::string sample_line;  // the "29" reply line, when one came whole
  bool sample_line_whole = false;
};

fake_wire wire;

enum : int { event_byte = 0, event_silence = -1, event_gone = -2 };

// Next thing on the wire: a byte (0..255 in *byte), silence or gone.
int next_event(int *byte) {
  if (wire.gone) return event_gone;
  if (wire.at >= wire.size) return event_silence;
  const uint8_t b = wire.data[wire.at++];
  if (b != 0xFF) {
    *byte = b;
    return event_byte;
  }
  const int kind = wire.at < wire.size ? wire.data[wire.at++] % 3 : 0;
  if (kind == 0) return event_silence;
  if (kind == 1) {
    wire.gone = true;
    return event_gone;
  }
  *byte = 0xFF;
  return event_byte;
}

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

// ---- the serial layer -------------------------------------------------------------

int16_t rs_open(int16_t port, int32_t baud) {
  FUZZ_CHECK(port == fake_com && baud == 9600);
  return 0;
}

int rs_close(int16_t port) {
  FUZZ_CHECK(port == fake_com);
  return 0;
}

int rs_puts(int16_t port, const char *text) {
  FUZZ_CHECK(port == fake_com && text != nullptr);
  wire.last_command = text;
  const std::string &command = wire.last_command;
  FUZZ_CHECK(command == "0F\r\n" || command == "050027950000\r\n" || command == "0DF3\r\n" ||
             command == "27\r\n" || command == "21\r\n" || command == "29\r\n");
  if (wire.gone) return rs_gone;
  if (!wire.sampling) return 0;
  if (command == "29\r\n") wire.sample_line_whole = false;
  const int call = wire.puts_calls++;
  if (call < 8 && (wire.puts_failures >> call & 1) != 0) {
    ++wire.timeouts;
    return rs_timeout;
  }
  return 0;
}

int rs_gets(int16_t port, char *buf, int size) {
  FUZZ_CHECK(port == fake_com && buf != nullptr && size > 0);
  // Touch the whole buffer as the caller sized it: a size larger than the
  // buffer is an ASan finding even for a short line.
  std::memset(buf, 'x', static_cast<std::size_t>(size));
  int length = 0;
  for (;;) {
    int byte = 0;
    const int event = next_event(&byte);
    if (event != event_byte) {
      buf[length] = '\0';
      if (event == event_silence) ++wire.timeouts;
      return event == event_silence ? rs_timeout : rs_gone;
    }
    if (byte == '\r' || byte == '\n') break;
    if (length < size - 1) buf[length++] = static_cast<char>(byte);
  }
  buf[length] = '\0';
  if (wire.sampling && wire.last_command == "29\r\n") {
    wire.sample_line.assign(buf, static_cast<std::size_t>(length));
    wire.sample_line_whole = length < size - 1;
  }
  return length;
}

int rs_getch(int16_t port) {
  FUZZ_CHECK(port == fake_com);
  int byte = 0;
  const int event = next_event(&byte);
  if (event == event_silence) ++wire.timeouts;
  if (event == event_byte) return byte;
  return event == event_silence ? rs_timeout : rs_gone;
}

int rs_discard_input(int16_t port) {
  FUZZ_CHECK(port == fake_com);
  // What has arrived is everything up to the next event.
  while (!wire.gone && wire.at < wire.size && wire.data[wire.at] != 0xFF) ++wire.at;
  return wire.gone ? rs_gone : 0;
}

const char *rs_open_failure(void) { return ""; }

void rs_pause(int ms) { FUZZ_CHECK(ms >= 0 && ms <= 250); }

// ---- the target ----------------------------------------------------------------------

namespace {

void check_in_range(const int32_t (&values)[6]) {
  for (int k = 0; k < 3; ++k) FUZZ_CHECK(values[k] >= -32767 && values[k] <= 32768);
  for (int k = 3; k < 6; ++k) {
    FUZZ_CHECK(values[k] >= -327670 && values[k] <= 327680);
    FUZZ_CHECK(values[k] % 10 == 0);
  }
}

// One request; returns false once the link reports the port gone.
bool read_one() {
  int32_t values[6];
  for (int32_t &value : values) value = untouched;
  wire.timeouts = 0;
  wire.sample_line.clear();
  wire.sample_line_whole = false;
  const bool gone_before = wire.gone;

  const sensor_outcome outcome =
      sensor_read(&values[0], &values[1], &values[2], &values[3], &values[4], &values[5]);

  // A silent module costs at most two deadlines (about two seconds).
  FUZZ_CHECK(wire.timeouts <= 2);
  int32_t expected[6];
  const bool well_formed = wire.sample_line_whole && reference_decode(wire.sample_line, expected);
  switch (outcome) {
    case sensor_sample_read:
      check_in_range(values);
      if (well_formed) FUZZ_CHECK(std::memcmp(values, expected, sizeof values) == 0);
      return true;
    case sensor_no_reply:
    case sensor_bad_reply:
    case sensor_port_gone:
      for (int32_t value : values) FUZZ_CHECK(value == untouched);
      if (outcome != sensor_port_gone) {
        // A whole reply of 24 hex digits is always a sample while the port
        // is there.
        FUZZ_CHECK(!well_formed);
        FUZZ_CHECK(!gone_before && !wire.gone);
        return true;
      }
      FUZZ_CHECK(wire.gone);
      return false;
  }
  FUZZ_CHECK(!"sensor_read returned no outcome");
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  sensor_close();
  wire = fake_wire{};
  fuzz_input header(data, size);
  wire.puts_failures = static_cast<unsigned>(header.byte());
  wire.data = size > 0 ? data + 1 : data;
  wire.size = size > 0 ? size - 1 : 0;

  FUZZ_CHECK(sensor_open() == 0);
  FUZZ_CHECK(sensor_port == fake_com);
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
