// SPDX-License-Identifier: MIT
#include "fake_serial.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "port_device.h"
#include "port_table.h"
#include "rs232.h"

fake_serial fake;

void reset_fake(void) { fake = fake_serial{}; }

fake_call call_scan() { return {"scan", 0, "", 0}; }
fake_call call_open(int port, int baud) { return {"open", port, "", baud}; }
fake_call call_close(int port) { return {"close", port, "", 0}; }
fake_call call_puts(int port, const std::string &text) { return {"puts", port, text, 0}; }
fake_call call_gets(int port, int size) { return {"gets", port, "", size}; }
fake_call call_getch(int port) { return {"getch", port, "", 0}; }
fake_call call_discard(int port) { return {"discard", port, "", 0}; }
fake_call call_drain(int port, int quiet_ms) { return {"drain", port, "", quiet_ms}; }
fake_call call_pause(int ms) { return {"pause", 0, "", ms}; }

namespace {

template <typename T>
T take(std::deque<T> &script, T otherwise) {
  if (script.empty()) return otherwise;
  T next = script.front();
  script.pop_front();
  return next;
}

void copy_column(char *slot, std::size_t size, const std::string &text) {
  std::snprintf(slot, size, "%s", text.c_str());
}

}  // namespace

// The directory's scan, filling the table from the test's rows.
int port_device_scan(void) {
  fake.calls.push_back(call_scan());
  port_table = port_table_data{};
  for (const fake_port_row &row : fake.rows) {
    const int i = port_table.device_count++;
    port_table.port_number[i] = row.number;
    copy_column(port_table.port_name[i], port_name_size, row.name);
    copy_column(port_table.port_device_name[i], port_device_name_size, row.device_name);
    copy_column(port_table.port_device_name2[i], port_device_name_size, row.device_name2);
  }
  port_table.pickup_count = 0;
  return port_table.device_count;
}

int16_t rs_open(int16_t port, int32_t baud) {
  fake.calls.push_back(call_open(port, baud));
  return static_cast<int16_t>(fake.open_result);
}

// The link takes no byte stream in these tests; a tap is not recorded.
int16_t rs_open_transport(int16_t, serial_transport) { return -1; }
void rs_set_tap(int16_t, serial_tap) {}

int rs_close(int16_t port) {
  fake.calls.push_back(call_close(port));
  return 0;
}

int rs_puts(int16_t port, const char *text) {
  fake.calls.push_back(call_puts(port, text));
  fake.now_ms += 1;
  return take(fake.puts_results, 0);
}

int rs_gets(int16_t port, char *buf, int size) { return rs_gets_within(port, buf, size, 1000); }

// Stores at most size - 1 bytes, like the real layer, so a wrong size shows
// as a wrong size in the record rather than as an overrun here.
int rs_gets_within(int16_t port, char *buf, int size, int wait_ms) {
  fake.calls.push_back(call_gets(port, size));
  fake.read_waits.push_back(wait_ms);
  const fake_line next = take(fake.gets_results, fake_line{0, "000100020003FFFF80008001"});
  const std::string &line = next.result >= 0 ? next.line : std::string();
  const std::size_t stored = std::min(line.size(), static_cast<std::size_t>(size - 1));
  std::memcpy(buf, line.data(), stored);
  buf[stored] = '\0';
  if (next.result == rs_timeout) {
    fake.now_ms += wait_ms;
  } else {
    fake.now_ms += next.ms;
  }
  if (next.result >= 0) fake.line_end = next.end;
  return next.result >= 0 ? static_cast<int>(stored) : next.result;
}

int rs_line_end(int16_t) { return fake.line_end; }

int rs_getch(int16_t port) { return rs_getch_within(port, 1000); }

int rs_getch_within(int16_t port, int wait_ms) {
  fake.calls.push_back(call_getch(port));
  fake.read_waits.push_back(wait_ms);
  const int result = take(fake.getch_results, static_cast<int>('\n'));
  fake.now_ms += result == rs_timeout ? wait_ms : 1;
  return result;
}

int rs_drain(int16_t port, int *line_ends, int quiet_ms, int) {
  fake.calls.push_back(call_drain(port, quiet_ms));
  fake.drain_owed.push_back(*line_ends);
  const fake_drain next = take(fake.drain_results, fake_drain{});
  fake.now_ms += next.ms;
  *line_ends = next.owed_after;
  return next.result;
}

long long rs_clock_ms(void) { return fake.now_ms; }

int rs_discard_input(int16_t port) {
  fake.calls.push_back(call_discard(port));
  return take(fake.discard_results, 0);
}

const char *rs_open_failure(void) { return ""; }

void rs_pause(int ms) {
  fake.calls.push_back(call_pause(ms));
  fake.now_ms += ms;
}
