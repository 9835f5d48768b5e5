// SPDX-License-Identifier: MIT
// A scripted stand-in for the serial layer (rs232.h) and for the directory's
// scan, for the sensor link's unit tests. It plays a module on a fake clock:
// each command written gets its scripted answer, whose pieces arrive after
// their delays; rs_read hands out what has arrived, advancing the clock to
// the next arrival within its wait. Every call is recorded in order.
#pragma once

#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "serial_transport.h"

// One recorded call: which function, the port, the text sent, or the value
// (baud rate, the wait of a read).
struct fake_call {
  std::string name;  // scan, open, transport, close, puts, read
  int port = 0;
  std::string text;
  int number = 0;

  bool operator==(const fake_call &other) const {
    return name == other.name && port == other.port && text == other.text && number == other.number;
  }
};

inline std::ostream &operator<<(std::ostream &out, const fake_call &call) {
  out << call.name << "(" << call.port;
  if (!call.text.empty()) {
    out << ", \"";
    for (char c : call.text) out << (c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c));
    out << "\"";
  }
  if (call.number != 0) out << ", " << call.number;
  return out << ")";
}

// Part of what the module sends: bytes after_ms after the piece before (the
// first: after the command arrived), or in their place an outcome of the
// read (rs_gone for good, rs_woken once).
struct fake_piece {
  int after_ms = 1;
  std::string bytes;
  int result = 0;
};
using fake_answer = std::vector<fake_piece>;

// A row the fake scan puts into the port table.
struct fake_port_row {
  int number;
  std::string name;
  std::string device_name;
  std::string device_name2;
};

struct fake_serial {
  std::vector<fake_port_row> rows;  // what port_device_scan finds
  int open_result = 0;
  int transport_result = 0;
  std::deque<int> puts_results;  // in call order; then 0
  // Answers to the commands in turn. Once used up: the default answer, a
  // sample line for "29", the command's own text for any other, each ended
  // by line_end, 1 ms after the command; nothing when silent.
  std::deque<fake_answer> answers;
  std::string sample = "000100020003FFFF80008001";
  std::string line_end = "\r\n";
  std::string late_end;  // the end's last bytes, 16 ms after the rest
  bool silent = false;
  std::vector<fake_call> calls;
  long long now_ms = 1000000;

  // What is on its way: bytes with the time they arrive.
  struct arrival {
    long long at_ms;
    std::string bytes;
    int result;
  };
  std::deque<arrival> arriving;
  bool gone = false;
};

extern fake_serial fake;

// Starts a test afresh: no rows, no scripts, no calls.
void reset_fake(void);

// Sends bytes unasked at the time at_ms from now.
void fake_send_at(int at_ms, const std::string &bytes);

// The commands written, in order.
std::vector<std::string> fake_commands(void);

// Helpers to write expected call lists.
fake_call call_scan();
fake_call call_open(int port, int baud);
fake_call call_close(int port);
fake_call call_puts(int port, const std::string &text);
