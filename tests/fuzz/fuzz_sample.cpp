// SPDX-License-Identifier: MIT
// Fuzz target: the sensor link's opening and requests over raw reads
// (rs_read) of a wire whose bytes are the fuzzer's: any length, any bytes,
// CR, LF and trailers anywhere, silence, a key and an unplugged port at any
// point, on a fake clock. The oracle:
// - a request delivers six values only as the exact decoding (the sign rule,
//   x10 for acceleration, the first two fields of each group swapped) of a
//   line of exactly 24 hexadecimal digits on the wire: preceded by the
//   start, a line end or one byte after a line end, and followed by CR or
//   LF, all of it handed out by the time the request returns;
// - no such line is delivered twice, and they are delivered in wire order;
// - otherwise the out-parameters are untouched and the outcome says why:
//   interrupted only when a read was woken, the port gone only when it went;
// - no call waits longer than its deadlines allow; once gone, the link asks
//   nothing of the port; the opening's commands go out in their order.
//
// Input: one byte whose bits make the first seven rs_puts calls of the
// sampling time out, then the wire. On the wire, 0xFF starts an event: the
// next byte modulo 4 is 0 for silence (the pending read waits out its
// time), 1 for the port going away (for good), 2 for a literal 0xFF, 3 for a
// key waking the pending read. Past the end of the input the module is
// silent.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_input.h"
#include "module_protocol.h"
#include "port_device.h"
#include "rs232.h"
#include "sensor_link.h"

namespace {

constexpr int16_t fake_com = 7;
constexpr int max_reads = 64;
constexpr int32_t untouched = 0x7EADBEEF;  // in no value range
// A request: a second for the sample's answer, a quarter more for the
// follow-up's, a quarter for owed answers first; writes take a few ms.
constexpr long long longest_request_ms = 1550;
// The opening sent again: five answers of a second each and the pauses.
constexpr long long longest_opening_ms = 5 * 1000 + 250 + 100 + 50;

struct fake_wire {
  const uint8_t *data = nullptr;
  std::size_t size = 0;
  std::size_t at = 0;
  bool gone = false;           // the port went away; every call says so
  unsigned puts_failures = 0;  // bit k: the k-th rs_puts while sampling times out
  bool sampling = false;       // past sensor_open
  bool woken = false;          // a read of this call was woken
  int puts_calls = 0;
  int opening_commands = 0;  // of the first opening
  bool opening_sent_again = false;
  long long now_ms = 0;
  std::string handed_out;         // every byte read so far
  std::size_t delivered_end = 0;  // where the last delivered line ends in it
};

fake_wire wire;

bool is_hex(int c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool is_end(int c) { return c == '\r' || c == '\n'; }

int hex_value(char c) {
  if (c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

// Exact decoding of 24 hex digits: the sign rule (above 0x8000 wraps),
// acceleration x10, the first two fields of each group swapped.
void reference_decode(const char *digits, int32_t (&values)[6]) {
  int32_t field[6];
  for (int f = 0; f < 6; ++f) {
    int32_t value = 0;
    for (int k = 0; k < 4; ++k) value = value * 16 + hex_value(digits[4 * f + k]);
    field[f] = value > 0x8000 ? value - 0x10000 : value;
  }
  const int32_t expected[6] = {field[1],      field[0],      field[2],
                               field[4] * 10, field[3] * 10, field[5] * 10};
  std::memcpy(values, expected, sizeof expected);
}

// Whether a line may begin at position p of what was handed out: at the
// start, after a line end, or after one byte that follows a line end.
bool line_may_start_at(const std::string &s, std::size_t p) {
  if (p == 0 || is_end(static_cast<unsigned char>(s[p - 1]))) return true;
  return p == 1 || is_end(static_cast<unsigned char>(s[p - 2]));
}

// The first line on the wire after the last delivered one that is exactly
// 24 hex digits and decodes to values; its end, or 0 when there is none.
std::size_t wire_line_with(const int32_t (&values)[6]) {
  const std::string &s = wire.handed_out;
  for (std::size_t p = wire.delivered_end; p + 25 <= s.size(); ++p) {
    if (!line_may_start_at(s, p) || !is_end(static_cast<unsigned char>(s[p + 24]))) continue;
    bool hex = true;
    for (std::size_t k = 0; k < 24 && hex; ++k) hex = is_hex(static_cast<unsigned char>(s[p + k]));
    if (!hex) continue;
    int32_t decoded[6];
    reference_decode(s.data() + p, decoded);
    if (std::memcmp(decoded, values, sizeof decoded) == 0) return p + 25;
  }
  return 0;
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

// ---- the serial layer: the wire ----------------------------------------------------

int16_t rs_open(int16_t port, int32_t baud) {
  FUZZ_CHECK(port == fake_com && baud == 9600);
  return 0;
}

int16_t rs_open_transport(int16_t, serial_transport) { return -1; }
void rs_set_tap(int16_t, serial_tap) {}

int rs_close(int16_t port) {
  FUZZ_CHECK(port == fake_com);
  return 0;
}

int rs_puts(int16_t port, const char *text) {
  FUZZ_CHECK(port == fake_com && text != nullptr);
  FUZZ_CHECK(!wire.gone || !wire.sampling);
  const std::string command = text;
  bool known = command == std::string(sample_command) + "\r\n" ||
               command == std::string(follow_up_command) + "\r\n";
  for (const std::string &opening : opening_commands())
    known = known || command == opening + "\r\n";
  FUZZ_CHECK(known);
  if (!wire.sampling) {
    // The first opening's commands in their order.
    FUZZ_CHECK(wire.opening_commands < 5 &&
               command ==
                   opening_commands()[static_cast<std::size_t>(wire.opening_commands)] + "\r\n");
    ++wire.opening_commands;
  } else if (command == opening_commands()[0] + "\r\n") {
    wire.opening_sent_again = true;
  }
  if (wire.gone) return rs_gone;
  wire.now_ms += static_cast<long long>(command.size());
  if (!wire.sampling) return 0;
  const int call = wire.puts_calls++;
  if (call < 7 && (wire.puts_failures >> call & 1) != 0) return rs_timeout;
  return 0;
}

// Bytes up to the next event (a few at a time, so lines cross reads), a
// silence that waits out the read's time, a key, or gone.
int rs_read(int16_t port, unsigned char *bytes, int size, int wait_ms) {
  FUZZ_CHECK(port == fake_com && bytes != nullptr && size > 0 && wait_ms >= 0);
  FUZZ_CHECK(wait_ms <= 1000);
  if (wire.gone) return rs_gone;
  int count = 0;
  while (count < size && count < 5 && wire.at < wire.size) {
    const uint8_t b = wire.data[wire.at];
    if (b == 0xFF) {
      if (count > 0) break;
      const int kind = wire.at + 1 < wire.size ? wire.data[wire.at + 1] % 4 : 0;
      wire.at += 2;
      if (kind == 0) break;
      if (kind == 1) {
        wire.gone = true;
        return rs_gone;
      }
      if (kind == 3) {
        wire.woken = true;
        return rs_woken;
      }
      bytes[count++] = 0xFF;
      continue;
    }
    bytes[count++] = b;
    ++wire.at;
  }
  if (count > 0) {
    wire.handed_out.append(reinterpret_cast<const char *>(bytes), static_cast<std::size_t>(count));
    wire.now_ms += 1;
    return count;
  }
  wire.now_ms += wait_ms;
  return rs_timeout;
}

long long rs_clock_ms(void) { return wire.now_ms; }

// A key is a byte of the script, taken once: holding the wake changes nothing.
void rs_hold_wake(bool) {}

const char *rs_open_failure(void) { return ""; }

// ---- the target ----------------------------------------------------------------------

namespace {

// One request; returns false once the link reports the port gone.
bool read_one() {
  int32_t values[6];
  for (int32_t &value : values) value = untouched;
  wire.woken = false;
  wire.opening_sent_again = false;
  const long long start = wire.now_ms;

  const sensor_outcome outcome =
      sensor_read(&values[0], &values[1], &values[2], &values[3], &values[4], &values[5]);

  const long long took = wire.now_ms - start;
  FUZZ_CHECK(took <= longest_request_ms + (wire.opening_sent_again ? longest_opening_ms : 0));
  while (sensor_take_notice() != sensor_notice_none) {
  }
  if (outcome == sensor_sample_read) {
    const std::size_t end = wire_line_with(values);
    FUZZ_CHECK(end > 0);  // a line the module sent, not delivered before
    wire.delivered_end = end;
    return true;
  }
  for (int32_t value : values) FUZZ_CHECK(value == untouched);
  switch (outcome) {
    case sensor_no_reply:
    case sensor_bad_reply: FUZZ_CHECK(!wire.gone); return true;
    case sensor_interrupted: FUZZ_CHECK(wire.woken && !wire.gone); return true;
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
  wire.puts_failures = static_cast<unsigned>(header.byte() & 0x7F);
  wire.data = size > 0 ? data + 1 : data;
  wire.size = size > 0 ? size - 1 : 0;

  FUZZ_CHECK(sensor_open() == 0);
  FUZZ_CHECK(sensor_port == fake_com);
  // All five commands go out unless the port went away or a key woke a wait.
  if (!wire.gone && !wire.woken) FUZZ_CHECK(wire.opening_commands == 5);
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
