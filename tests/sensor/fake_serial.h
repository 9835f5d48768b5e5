// SPDX-License-Identifier: MIT
// A scripted stand-in for the serial layer (rs232.h) and for the directory's
// scan, recording every call in order, for the sensor link's unit tests.
#pragma once

#include <deque>
#include <ostream>
#include <string>
#include <vector>

// One recorded call: which function, the port, the text sent, the buffer
// size given to rs_gets, or the value (baud rate, pause).
struct fake_call {
  std::string name;  // scan, open, close, puts, gets, getch, discard, drain, pause
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

// What one rs_gets gives: a line (result >= 0, the length is taken from
// line, NULs included) ended by end, rs_timeout or rs_gone.
struct fake_line {
  int result;
  std::string line;
  char end = '\r';
  int ms = 1;  // how long the read takes when it does not time out
};

// What one rs_drain does: its result, the line ends it leaves owed, and the
// time it takes.
struct fake_drain {
  int result = 0;
  int owed_after = 0;
  int ms = 50;
};

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
  // Results in call order; when a script runs out the module answers
  // promptly: puts 0, gets a well-formed sample line (whatever the command),
  // getch LF.
  std::deque<int> puts_results;
  std::deque<fake_line> gets_results;
  std::deque<int> getch_results;
  std::deque<int> discard_results;
  std::deque<fake_drain> drain_results;
  std::vector<fake_call> calls;
  // The waits given to rs_gets/rs_getch, in call order; the owed line ends
  // and quiet given to rs_drain.
  std::vector<int> read_waits;
  std::vector<int> drain_owed;
  // The fake clock: reads that time out, drains and pauses advance it by
  // their time; every read, write or drain that does not time out, by 1 ms.
  long long now_ms = 1000000;
  int line_end = 0;
};

extern fake_serial fake;

// Starts a test afresh: no rows, no scripts, no calls.
void reset_fake(void);

// Helpers to write expected call lists.
fake_call call_scan();
fake_call call_open(int port, int baud);
fake_call call_close(int port);
fake_call call_puts(int port, const std::string &text);
fake_call call_gets(int port, int size);
fake_call call_getch(int port);
fake_call call_discard(int port);
fake_call call_drain(int port, int quiet_ms = 50);
fake_call call_pause(int ms);
