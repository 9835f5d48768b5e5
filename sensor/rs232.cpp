// SPDX-License-Identifier: MIT
// The portable front of the serial layer: the table of open ports, each with
// its byte stream (serial_transport.h), its line reader (line_reader.h) and
// its tap. The platform files open local ports and hand them in through
// rs_open_transport like any other stream.
#include <cstdio>
#include <cstring>

#include "line_reader.h"
#include "rs232.h"
#include "rs232_front.h"

namespace {

constexpr int max_open_ports = 8;
constexpr int line_deadline_ms = 1000;
constexpr int byte_deadline_ms = 1000;
// Writing a command: one second, plus the bytes' time on the wire (1.04 ms
// each at 9600 baud 8N1; 2 ms covers slower rates too).
constexpr int write_deadline_ms = 1000;
constexpr int write_ms_per_byte = 2;
// Dropping input stops after this many reads even if bytes keep coming, so
// that a module that never stops sending cannot hold the caller.
constexpr int discard_reads = 64;

struct port_slot {
  bool used;
  int16_t port;
  serial_transport transport;
  serial_tap tap;
  int (*flush)(void *context);  // drops received input; nullptr: read and drop it
  long long opened_ms;          // rs_clock_ms() at open, for the tap's times
  line_reader reader;
};

// Zero-filled at load time; no constructor runs.
port_slot slots[max_open_ports];
char open_failure[serial_open_failure_size];
int wake_fd = -1;
bool (*wake_ready)(void) = nullptr;
bool wake_held = false;  // rs_hold_wake: the waits do not watch the wake source

port_slot *find_slot(int16_t port) {
  for (port_slot &slot : slots) {
    if (slot.used && slot.port == port) return &slot;
  }
  return nullptr;
}

port_slot *free_slot() {
  for (port_slot &slot : slots) {
    if (!slot.used) return &slot;
  }
  return nullptr;
}

void tap_bytes(const port_slot &slot, char direction, const unsigned char *bytes, int size) {
  if (slot.tap.bytes == nullptr || size <= 0) return;
  slot.tap.bytes(slot.tap.context, direction, rs_clock_ms() - slot.opened_ms, bytes, size);
}

// The line reader's byte source: the port's transport, with every byte it
// hands out passing the tap.
int read_transport(void *context, unsigned char *bytes, int size, int wait_ms) {
  const port_slot &slot = *static_cast<const port_slot *>(context);
  const int count = slot.transport.read(slot.transport.context, bytes, size, wait_ms);
  tap_bytes(slot, 'r', bytes, count);
  return count;
}

serial_byte_source source_of(port_slot &slot) { return {read_transport, &slot}; }

}  // namespace

char *serial_open_failure_text(void) { return open_failure; }

void serial_clear_open_failure(void) { open_failure[0] = '\0'; }

bool serial_port_is_open(int16_t port) { return find_slot(port) != nullptr; }

void serial_set_input_flush(int16_t port, int (*flush)(void *context)) {
  port_slot *slot = find_slot(port);
  if (slot != nullptr) slot->flush = flush;
}

bool serial_ports_full(void) { return free_slot() == nullptr; }

int serial_wake_fd(void) { return wake_held ? -1 : wake_fd; }

bool serial_wake_ready(void) { return !wake_held && wake_ready != nullptr && wake_ready(); }

int16_t rs_open_transport(int16_t port, serial_transport transport) {
  if (find_slot(port) != nullptr) {
    serial_note_open_failure("COM%d is already open", port);
    return -1;
  }
  port_slot *slot = free_slot();
  if (slot == nullptr) {
    serial_note_open_failure("COM%d: too many serial ports open at once", port);
    return -1;
  }
  *slot = port_slot{};
  slot->used = true;
  slot->port = port;
  slot->transport = transport;
  slot->opened_ms = rs_clock_ms();
  serial_clear_open_failure();
  return 0;
}

void rs_set_tap(int16_t port, serial_tap tap) {
  port_slot *slot = find_slot(port);
  if (slot != nullptr) slot->tap = tap;
}

int rs_close(int16_t port) {
  port_slot *slot = find_slot(port);
  if (slot == nullptr) return -1;
  const serial_transport transport = slot->transport;
  *slot = port_slot{};
  if (transport.close != nullptr) transport.close(transport.context);
  return 0;
}

int rs_puts(int16_t port, const char *text) {
  port_slot *slot = find_slot(port);
  if (slot == nullptr || text == nullptr) return rs_gone;
  const std::size_t length = std::strlen(text);
  if (length > 0x3fffffff) return rs_gone;
  const int size = static_cast<int>(length);
  const auto *bytes = reinterpret_cast<const unsigned char *>(text);
  const int result = slot->transport.write(slot->transport.context, bytes, size,
                                           write_deadline_ms + write_ms_per_byte * size);
  if (result == 0) tap_bytes(*slot, 'w', bytes, size);
  return result;
}

int rs_gets(int16_t port, char *buf, int size) {
  return rs_gets_within(port, buf, size, line_deadline_ms);
}

int rs_gets_within(int16_t port, char *buf, int size, int wait_ms) {
  if (buf == nullptr || size <= 0) return -1;
  buf[0] = '\0';
  port_slot *slot = find_slot(port);
  if (slot == nullptr) return rs_gone;
  const serial_byte_source source = source_of(*slot);
  return line_reader_gets(&slot->reader, &source, buf, size, wait_ms);
}

int rs_read(int16_t port, unsigned char *bytes, int size, int wait_ms) {
  port_slot *slot = find_slot(port);
  if (slot == nullptr) return rs_gone;
  const serial_byte_source source = source_of(*slot);
  return line_reader_read(&slot->reader, &source, bytes, size, wait_ms);
}

int rs_getch(int16_t port) { return rs_getch_within(port, byte_deadline_ms); }

int rs_getch_within(int16_t port, int wait_ms) {
  port_slot *slot = find_slot(port);
  if (slot == nullptr) return rs_gone;
  const serial_byte_source source = source_of(*slot);
  return line_reader_getch(&slot->reader, &source, wait_ms);
}

int rs_discard_input(int16_t port) {
  port_slot *slot = find_slot(port);
  if (slot == nullptr) return rs_gone;
  line_reader_clear(&slot->reader);
  if (slot->flush != nullptr) return slot->flush(slot->transport.context);
  unsigned char dropped[line_reader_buffer_size];
  for (int reads = 0; reads < discard_reads; ++reads) {
    const int count = read_transport(slot, dropped, sizeof dropped, 0);
    if (count == rs_gone) return rs_gone;
    if (count <= 0) break;
  }
  return 0;
}

void rs_set_wake(int fd, bool (*ready)(void)) {
  wake_fd = fd;
  wake_ready = ready;
}

void rs_hold_wake(bool held) { wake_held = held; }

const char *rs_open_failure(void) { return open_failure; }
