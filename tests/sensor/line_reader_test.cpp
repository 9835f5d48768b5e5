// SPDX-License-Identifier: MIT
// The line reader both serial layers share, over a scripted byte source on a
// fake clock: line ends, the CR LF pair, over-long lines, deadlines that a
// drip cannot stretch.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "line_reader.h"
#include "rs232.h"

namespace {

long long fake_now = 0;

// What the source does at one read: hand out bytes (taking ms), stay silent
// for the read's wait, or report the port gone.
struct source_step {
  enum kind_t { bytes, silence, gone, woken } kind;
  std::string data;
  int ms = 0;
};

std::deque<source_step> script;

int read_script(void *, unsigned char *out, int size, int wait_ms) {
  if (script.empty() || script.front().kind == source_step::silence) {
    if (!script.empty()) script.pop_front();
    fake_now += wait_ms;
    return rs_timeout;
  }
  source_step &next = script.front();
  if (next.kind == source_step::gone) return rs_gone;
  if (next.kind == source_step::woken) {
    script.pop_front();
    return rs_woken;
  }
  fake_now += next.ms;
  const int count = std::min(size, static_cast<int>(next.data.size()));
  std::copy(next.data.begin(), next.data.begin() + count, out);
  next.data.erase(0, static_cast<std::size_t>(count));
  if (next.data.empty()) script.pop_front();
  return count;
}

const serial_byte_source source{read_script, nullptr};

source_step bytes(const std::string &data, int ms = 0) { return {source_step::bytes, data, ms}; }
source_step silence() { return {source_step::silence, "", 0}; }
source_step gone() { return {source_step::gone, "", 0}; }
source_step woken() { return {source_step::woken, "", 0}; }

// One call and what it must give.
struct op {
  enum kind_t { gets, getch, getch_now } kind;
  int result;
  std::string text = "";  // gets: the stored line
  int size = 84;          // gets: buffer size
};

struct reader_case {
  const char *name;
  std::vector<source_step> steps;
  std::vector<op> ops;
};

}  // namespace

long long rs_clock_ms(void) { return fake_now; }

namespace {

TEST(line_reader_test, splits_lines_as_both_serial_layers_must) {
  const std::string long_line(300, '7');
  const reader_case cases[] = {
      {"CR LF leaves the LF for the further character",
       {bytes("ABC\r\n")},
       {{op::gets, 3, "ABC"}, {op::getch, '\n'}}},
      {"the LF of a CR LF is no line of its own",
       {bytes("ABC\r\nDEF\r\n")},
       {{op::gets, 3, "ABC"}, {op::gets, 3, "DEF"}, {op::getch, '\n'}}},
      {"CR alone ends lines", {bytes("A\rB\r")}, {{op::gets, 1, "A"}, {op::gets, 1, "B"}}},
      {"LF alone ends lines",
       {bytes("A\n"), silence(), bytes("B\n")},
       {{op::gets, 1, "A"}, {op::getch_now, rs_timeout}, {op::gets, 1, "B"}}},
      {"a byte that has arrived is taken without a wait",
       {bytes("A\nB")},
       {{op::gets, 1, "A"}, {op::getch_now, 'B'}}},
      {"an LF that comes late is still the end of its line",
       {bytes("A\r"), silence(), bytes("\nB\r")},
       {{op::gets, 1, "A"}, {op::getch_now, rs_timeout}, {op::gets, 1, "B"}}},
      {"an empty line between two is kept",
       {bytes("A\r\n\r\nB\r")},
       {{op::gets, 1, "A"}, {op::gets, 0, ""}, {op::gets, 1, "B"}}},
      {"an over-long line across reads is dropped to its end",
       {bytes(long_line.substr(0, 100)), bytes(long_line.substr(100) + "\r\nOK\r\n")},
       {{op::gets, 83, long_line.substr(0, 83)}, {op::gets, 2, "OK"}}},
      {"a one-byte buffer holds only the NUL", {bytes("ABC\r\n")}, {{op::gets, 0, "", 1}}},
      {"a line cut by silence keeps what came; its rest is a line of its own",
       {bytes("0001"), silence(), bytes("0002\r\n")},
       {{op::gets, rs_timeout, "0001"}, {op::gets, 4, "0002"}}},
      {"a wake ends the wait and keeps what came",
       {bytes("00"), woken(), bytes("01\r\n")},
       {{op::gets, rs_woken, "00"}, {op::gets, 2, "01"}}},
      {"a gone port is told apart from silence",
       {bytes("AB"), gone()},
       {{op::gets, rs_gone, "AB"}, {op::getch, rs_gone}}},
      {"all 8 bits pass",
       {bytes(std::string("\x01\xff\0\x7f\r", 5))},
       {{op::gets, 4, std::string("\x01\xff\0\x7f", 4)}}},
  };
  for (const reader_case &c : cases) {
    SCOPED_TRACE(c.name);
    script.assign(c.steps.begin(), c.steps.end());
    line_reader reader{};
    for (const op &o : c.ops) {
      if (o.kind == op::gets) {
        std::vector<char> buf(static_cast<std::size_t>(o.size) + 8, '#');
        const int result = line_reader_gets(&reader, &source, buf.data(), o.size, 1000);
        EXPECT_EQ(result, o.result);
        const std::size_t length = result >= 0 ? static_cast<std::size_t>(result) : o.text.size();
        EXPECT_EQ(std::string(buf.data(), length), o.text);
        EXPECT_EQ(buf[length], '\0');
        EXPECT_EQ(buf[static_cast<std::size_t>(o.size)], '#') << "written past the buffer";
      } else {
        const int wait = o.kind == op::getch_now ? 0 : 1000;
        EXPECT_EQ(line_reader_getch(&reader, &source, wait), o.result);
      }
    }
  }
}

TEST(line_reader_test, one_deadline_covers_the_whole_line_however_the_bytes_drip) {
  // A byte every 100 ms: the line would take 2.5 s.
  script.clear();
  for (int i = 0; i < 24; ++i) script.push_back(bytes("7", 100));
  script.push_back(bytes("\r\n", 100));
  line_reader reader{};
  char buf[84];
  const long long start = fake_now;
  EXPECT_EQ(line_reader_gets(&reader, &source, buf, sizeof buf, 1000), rs_timeout);
  EXPECT_LE(fake_now - start, 1100);
  EXPECT_EQ(std::string(buf).size(), 10u);
}

}  // namespace
