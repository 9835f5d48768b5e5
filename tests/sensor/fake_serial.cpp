// SPDX-License-Identifier: MIT
#include "fake_serial.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "port_device.h"
#include "port_table.h"
#include "rs232.h"

fake_serial fake;

namespace {
long long last_answer_ms = 0;
}  // namespace

void reset_fake(void) {
  fake = fake_serial{};
  last_answer_ms = 0;
}

fake_call call_scan() { return {"scan", 0, "", 0}; }
fake_call call_open(int port, int baud) { return {"open", port, "", baud}; }
fake_call call_close(int port) { return {"close", port, "", 0}; }
fake_call call_puts(int port, const std::string &text) { return {"puts", port, text, 0}; }

namespace {

void copy_column(char *slot, std::size_t size, const std::string &text) {
  std::snprintf(slot, size, "%s", text.c_str());
}

// Queues bytes (or an outcome) to arrive at at_ms, in time order.
void queue(long long at_ms, const std::string &bytes, int result) {
  const fake_serial::arrival item{at_ms, bytes, result};
  fake.arriving.insert(
      std::upper_bound(fake.arriving.begin(), fake.arriving.end(), item,
                       [](const fake_serial::arrival &a, const fake_serial::arrival &b) {
                         return a.at_ms < b.at_ms;
                       }),
      item);
}

void answer(const std::string &command) {
  fake_answer script;
  if (!fake.answers.empty()) {
    script = fake.answers.front();
    fake.answers.pop_front();
  } else if (!fake.silent) {
    const std::string text = command.substr(0, command.size() - 2);
    script = {{1, (text == "29" ? fake.sample : text) + fake.line_end, 0}};
    if (!fake.late_end.empty()) script.push_back({16, fake.late_end, 0});
  }
  long long at = fake.now_ms;
  for (const fake_piece &piece : script) {
    // After every answer queued before: the module answers one command at a time.
    at += piece.after_ms;
    last_answer_ms = std::max(at, last_answer_ms);
    queue(last_answer_ms, piece.bytes, piece.result);
  }
}

}  // namespace

// Unasked bytes keep their time: they go in among the answers.
void fake_send_at(int at_ms, const std::string &bytes) { queue(fake.now_ms + at_ms, bytes, 0); }

std::vector<std::string> fake_commands(void) {
  std::vector<std::string> commands;
  for (const fake_call &call : fake.calls) {
    if (call.name == "puts") commands.push_back(call.text);
  }
  return commands;
}

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

int16_t rs_open_transport(int16_t port, serial_transport) {
  fake.calls.push_back({"transport", port, "", 0});
  return static_cast<int16_t>(fake.transport_result);
}

// A tap for a recording passes through the real serial layer only.
void rs_set_tap(int16_t, serial_tap) {}

int rs_close(int16_t port) {
  fake.calls.push_back(call_close(port));
  return 0;
}

int rs_puts(int16_t port, const char *text) {
  fake.calls.push_back(call_puts(port, text));
  if (fake.gone) return rs_gone;
  fake.now_ms += static_cast<long long>(std::strlen(text));  // about a millisecond a byte
  int result = 0;
  if (!fake.puts_results.empty()) {
    result = fake.puts_results.front();
    fake.puts_results.pop_front();
  }
  if (result == 0) answer(text);
  if (result == rs_gone) fake.gone = true;
  return result;
}

int rs_read(int16_t port, unsigned char *bytes, int size, int wait_ms) {
  fake.calls.push_back({"read", port, "", wait_ms});
  if (fake.gone) return rs_gone;
  if (size <= 0) return -1;
  if (fake.arriving.empty() || fake.arriving.front().at_ms > fake.now_ms + wait_ms) {
    fake.now_ms += wait_ms;
    return rs_timeout;
  }
  fake_serial::arrival &next = fake.arriving.front();
  fake.now_ms = std::max(fake.now_ms, next.at_ms);
  if (next.result != 0) {
    const int result = next.result;
    fake.arriving.pop_front();
    if (result == rs_gone) fake.gone = true;
    return result;
  }
  const int count = std::min(size, static_cast<int>(next.bytes.size()));
  std::memcpy(bytes, next.bytes.data(), static_cast<std::size_t>(count));
  next.bytes.erase(0, static_cast<std::size_t>(count));
  if (next.bytes.empty()) fake.arriving.pop_front();
  return count;
}

long long rs_clock_ms(void) { return fake.now_ms; }

const char *rs_open_failure(void) { return ""; }

// The fake's woken reads are pieces of the script, taken once: holding the
// wake changes nothing here.
void rs_hold_wake(bool) {}
