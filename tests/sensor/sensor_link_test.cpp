// SPDX-License-Identifier: MIT
// The sensor link over a scripted serial layer and directory scan: the calls
// it makes, in order, and what it delivers.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_serial.h"
#include "module_protocol.h"
#include "rs232.h"
#include "sensor_link.h"

namespace {

const char ftdi_id[] = "FTDIBUS\\COMPORT&VID_0403&PID_6001";
const fake_port_row onboard_row{1, "Communications Port", "ACPI\\PNP0501", "/dev/ttyS0"};
const fake_port_row cp210x_row{2, "CP210x USB to UART Bridge", "USB\\VID_10C4&PID_EA60",
                               "/dev/ttyUSB2"};

fake_port_row ftdi_row(int number) { return {number, "USB Serial Port", ftdi_id, "/dev/ttyUSB0"}; }

std::vector<fake_call> opening_calls(int port) {
  std::vector<fake_call> calls{call_scan(), call_open(port, 9600)};
  for (const std::string &command : opening_commands()) {
    calls.insert(calls.end(),
                 {call_puts(port, command + "\r\n"), call_gets(port, 80), call_getch(port)});
    if (calls.size() == 5) calls.push_back(call_pause(250));
  }
  calls.push_back(call_pause(100));
  return calls;
}

std::vector<fake_call> sample_calls(int port) {
  return {call_puts(port, "29\r\n"), call_gets(port, 84), call_getch(port),
          call_puts(port, "21\r\n"), call_gets(port, 84), call_getch(port)};
}

std::vector<fake_call> settle_calls(int port) { return {call_drain(port)}; }

std::vector<fake_call> joined(std::vector<fake_call> first, const std::vector<fake_call> &second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

constexpr int32_t untouched = -12345;

struct sample {
  int32_t values[6] = {untouched, untouched, untouched, untouched, untouched, untouched};

  sensor_outcome read() {
    return sensor_read(&values[0], &values[1], &values[2], &values[3], &values[4], &values[5]);
  }
  std::vector<int32_t> as_vector() const { return {values, values + 6}; }
};

const std::vector<int32_t> all_untouched(6, untouched);

class sensor_link_test : public testing::Test {
protected:
  void SetUp() override {
    sensor_close();
    reset_fake();
    sensor_port = 0;
  }
  void TearDown() override { sensor_close(); }

  // Opens the module on an FTDI port numbered port and forgets the calls.
  void open_module(int port) {
    fake.rows = {ftdi_row(port)};
    ASSERT_EQ(sensor_open(), 0);
    fake.calls.clear();
  }
};

TEST_F(sensor_link_test, opening_sends_the_five_commands_with_their_pauses) {
  fake.rows = {ftdi_row(5)};
  EXPECT_EQ(sensor_open(), 0);
  EXPECT_EQ(sensor_port, 5);
  EXPECT_EQ(fake.calls, opening_calls(5));
}

TEST_F(sensor_link_test, picks_the_first_ftdi_port_or_reports_why_not) {
  struct pick_case {
    const char *name;
    std::vector<fake_port_row> rows;
    int open_result;
    int code;
    int32_t port_after;  // sensor_port afterwards; it starts at 42
    std::vector<fake_call> calls;
  };
  const pick_case cases[] = {
      {"first of several in table order",
       {onboard_row, ftdi_row(7), ftdi_row(3)},
       0,
       0,
       7,
       opening_calls(7)},
      {"an FTDI port numbered 0 is used like any other", {ftdi_row(0)}, 0, 0, 0, opening_calls(0)},
      {"no FTDI port: no serial call", {onboard_row, cp210x_row}, 0, 1, 42, {call_scan()}},
      {"no port at all", {}, 0, 1, 42, {call_scan()}},
      {"the port fails to open: nothing sent",
       {cp210x_row, ftdi_row(4)},
       -1,
       2,
       4,
       {call_scan(), call_open(4, 9600)}},
  };
  for (const pick_case &c : cases) {
    SCOPED_TRACE(c.name);
    sensor_close();
    reset_fake();
    sensor_port = 42;
    fake.rows = c.rows;
    fake.open_result = c.open_result;
    EXPECT_EQ(sensor_open(), c.code);
    EXPECT_EQ(sensor_port, c.port_after);
    EXPECT_EQ(fake.calls, c.calls);
  }
}

TEST_F(sensor_link_test, decodes_six_fields_or_delivers_nothing) {
  struct decode_case {
    std::string reply;
    sensor_outcome outcome;
    std::vector<int32_t> values;  // geomagnetic 1-3, acceleration 1-3
  };
  const decode_case cases[] = {
      {"000100020003FFFF80008001", sensor_sample_read, {2, 1, 3, 327680, -10, -327670}},
      {"7FFF7FFF7FFF000000000000", sensor_sample_read, {32767, 32767, 32767, 0, 0, 0}},
      {"000100020003ffff80008001", sensor_sample_read, {2, 1, 3, 327680, -10, -327670}},
      // 0x8000 stays +32768, 0x8001 wraps to -32767, 0xFFFF to -1.
      {"80018000FFFF800080017FFF",
       sensor_sample_read,
       {32768, -32767, -1, -327670, 327680, 327670}},
      // Longer than the 84-byte buffer: its end was dropped, so it is no sample
      // even though its first fields look right.
      {"000100020003FFFF80008001FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
       "FFFFFFFFF",
       sensor_bad_reply, all_untouched},
      // Trailing white space is no part of a sample.
      {"000100020003FFFF80008001                                                          ",
       sensor_bad_reply, all_untouched},
      {"000100020003", sensor_bad_reply, all_untouched},
      {"0001000200030004000", sensor_bad_reply, all_untouched},
      {"", sensor_bad_reply, all_untouched},
      {"OK", sensor_bad_reply, all_untouched},
      {"ZZZZ000100020003FFFF8000", sensor_bad_reply, all_untouched},
      // Exactly 24 hexadecimal digits, nothing else, whatever the formatted
      // input of the C library would accept.
      {"000100020003fFfF80008001", sensor_sample_read, {2, 1, 3, 327680, -10, -327670}},
      {std::string("000100020003\0FFF80008001", 24), sensor_bad_reply, all_untouched},
      {std::string("000100020003FFFF80008001\0junk", 29), sensor_bad_reply, all_untouched},
      {" 000100020003FFFF8000800", sensor_bad_reply, all_untouched},
      {"0001 0002 0003 FFFF 8000 8001", sensor_bad_reply, all_untouched},
      {"00010002000-FFFF80008001", sensor_bad_reply, all_untouched},
      {"+001000200030FFF80008001", sensor_bad_reply, all_untouched},
      {"0x010x020x03FFFF80008001", sensor_bad_reply, all_untouched},
      {"1230002000300040005000600", sensor_bad_reply, all_untouched},
      {"29000100020003FFFF80008001", sensor_bad_reply, all_untouched},
      {"000100020003FFFF80008001X", sensor_bad_reply, all_untouched},
      {"000100020003FFFF8000800", sensor_bad_reply, all_untouched},
      {"000100020003FFFF8000800G", sensor_bad_reply, all_untouched},
  };
  for (const decode_case &c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.reply));
    sensor_close();
    reset_fake();
    open_module(6);
    fake.gets_results = {{0, c.reply, '\r'}};
    sample s;
    EXPECT_EQ(s.read(), c.outcome);
    EXPECT_EQ(s.as_vector(), c.values);
    EXPECT_EQ(fake.calls, sample_calls(6));
    // A reply without six fields may be a stale one: the next request first
    // lets the line settle and drops what arrived.
    fake.calls.clear();
    sample next;
    EXPECT_EQ(next.read(), sensor_sample_read);
    const auto expected = c.outcome == sensor_sample_read
                              ? sample_calls(6)
                              : joined(settle_calls(6), sample_calls(6));
    EXPECT_EQ(fake.calls, expected);
  }
}

TEST_F(sensor_link_test, a_timeout_ends_the_sample_and_the_next_request_settles_first) {
  struct timeout_case {
    const char *name;
    std::deque<int> puts;
    std::deque<fake_line> gets;
    std::deque<int> getch;
    sensor_outcome outcome;
    std::vector<fake_call> calls;
    int owed;  // reply lines the next request drains first; -1: no drain
  };
  const int p = 3;
  const fake_line good{24, "000100020003FFFF80008001"};
  const fake_line silent{rs_timeout, ""};
  const timeout_case cases[] = {
      {"no reply line: no further character, no follow-up",
       {},
       {silent},
       {},
       sensor_no_reply,
       {call_puts(p, "29\r\n"), call_gets(p, 84)},
       1},
      {"the command cannot be written",
       {rs_timeout},
       {},
       {},
       sensor_no_reply,
       {call_puts(p, "29\r\n")},
       0},
      // A missing further character puts nothing out of step.
      {"a reply line without its further character is still decoded",
       {},
       {good},
       {rs_timeout},
       sensor_sample_read,
       sample_calls(p),
       -1},
      {"no reply to the follow-up",
       {},
       {good, silent},
       {},
       sensor_sample_read,
       {call_puts(p, "29\r\n"), call_gets(p, 84), call_getch(p), call_puts(p, "21\r\n"),
        call_gets(p, 84)},
       1},
  };
  for (const timeout_case &c : cases) {
    SCOPED_TRACE(c.name);
    sensor_close();
    reset_fake();
    open_module(p);
    fake.puts_results = c.puts;
    fake.gets_results = c.gets;
    fake.getch_results = c.getch;
    sample s;
    EXPECT_EQ(s.read(), c.outcome);
    if (c.outcome == sensor_sample_read) {
      EXPECT_EQ(s.as_vector(), (std::vector<int32_t>{2, 1, 3, 327680, -10, -327670}));
    } else {
      EXPECT_EQ(s.as_vector(), all_untouched);
    }
    EXPECT_EQ(fake.calls, c.calls);

    fake.calls.clear();
    fake.drain_owed.clear();
    sample next;
    EXPECT_EQ(next.read(), sensor_sample_read);
    if (c.owed < 0) {
      EXPECT_EQ(fake.calls, sample_calls(p));
    } else {
      EXPECT_EQ(fake.calls, joined(settle_calls(p), sample_calls(p)));
      EXPECT_EQ(fake.drain_owed, std::vector<int>{c.owed});
    }
  }
}

TEST_F(sensor_link_test, samples_follow_one_another_without_settling) {
  open_module(2);
  fake.gets_results = {
      {0, "000100020003FFFF80008001"}, {0, "21"}, {0, "7FFF7FFF7FFF000000000000"}, {0, "21"}};
  sample first, second;
  EXPECT_EQ(first.read(), sensor_sample_read);
  EXPECT_EQ(second.read(), sensor_sample_read);
  EXPECT_EQ(first.as_vector(), (std::vector<int32_t>{2, 1, 3, 327680, -10, -327670}));
  EXPECT_EQ(second.as_vector(), (std::vector<int32_t>{32767, 32767, 32767, 0, 0, 0}));
  EXPECT_EQ(fake.calls, joined(sample_calls(2), sample_calls(2)));
}

TEST_F(sensor_link_test, a_gone_port_is_reported_and_no_longer_used) {
  struct gone_case {
    const char *name;
    std::deque<int> puts;
    std::deque<fake_line> gets;
    std::deque<int> getch;
    sensor_outcome outcome;
    std::size_t calls;  // serial calls of the first request
  };
  const fake_line good{24, "000100020003FFFF80008001"};
  const gone_case cases[] = {
      {"sending the request", {rs_gone}, {}, {}, sensor_port_gone, 1},
      {"reading the reply", {}, {{rs_gone, ""}}, {}, sensor_port_gone, 2},
      {"reading the further character", {}, {good}, {rs_gone}, sensor_port_gone, 3},
      // The sample was read whole before the port went: it is delivered.
      {"sending the follow-up", {0, rs_gone}, {good}, {}, sensor_sample_read, 4},
      {"reading the follow-up's reply", {}, {good, {rs_gone, ""}}, {}, sensor_sample_read, 5},
  };
  for (const gone_case &c : cases) {
    SCOPED_TRACE(c.name);
    sensor_close();
    reset_fake();
    open_module(8);
    fake.puts_results = c.puts;
    fake.gets_results = c.gets;
    fake.getch_results = c.getch;
    sample s;
    EXPECT_EQ(s.read(), c.outcome);
    const std::vector<int32_t> delivered{2, 1, 3, 327680, -10, -327670};
    EXPECT_EQ(s.as_vector(), c.outcome == sensor_sample_read ? delivered : all_untouched);
    EXPECT_EQ(fake.calls.size(), c.calls);

    fake.calls.clear();
    sample next;
    EXPECT_EQ(next.read(), sensor_port_gone);
    EXPECT_EQ(next.as_vector(), all_untouched);
    EXPECT_TRUE(fake.calls.empty());
    sensor_close();
    EXPECT_EQ(fake.calls, std::vector<fake_call>{call_close(8)});
  }
}

TEST_F(sensor_link_test, a_silent_module_still_opens) {
  fake.rows = {ftdi_row(5)};
  fake.gets_results.assign(5, fake_line{rs_timeout, ""});
  EXPECT_EQ(sensor_open(), 0);
  std::vector<fake_call> expected{call_scan(), call_open(5, 9600)};
  for (const std::string &command : opening_commands()) {
    expected.insert(expected.end(), {call_puts(5, command + "\r\n"), call_gets(5, 80)});
    if (expected.size() == 4) expected.push_back(call_pause(250));
  }
  expected.push_back(call_pause(100));
  EXPECT_EQ(fake.calls, expected);

  // Late replies of the opening must not be taken for the first sample: all
  // five are drained first.
  fake.calls.clear();
  sample s;
  EXPECT_EQ(s.read(), sensor_sample_read);
  EXPECT_EQ(fake.calls, joined(settle_calls(5), sample_calls(5)));
  EXPECT_EQ(fake.drain_owed, std::vector<int>{5});
}

TEST_F(sensor_link_test, a_port_gone_during_the_opening_is_reported_by_the_first_read) {
  fake.rows = {ftdi_row(5)};
  fake.gets_results = {{2, "0F"}, {rs_gone, ""}};
  EXPECT_EQ(sensor_open(), 0);
  const std::vector<fake_call> expected{
      call_scan(),   call_open(5, 9600), call_puts(5, "0F\r\n"),           call_gets(5, 80),
      call_getch(5), call_pause(250),    call_puts(5, "050027950000\r\n"), call_gets(5, 80)};
  EXPECT_EQ(fake.calls, expected);
  fake.calls.clear();
  sample s;
  EXPECT_EQ(s.read(), sensor_port_gone);
  EXPECT_TRUE(fake.calls.empty());
}

TEST_F(sensor_link_test, a_settle_on_a_gone_port_reports_it) {
  open_module(5);
  fake.gets_results = {{rs_timeout, ""}};
  sample s;
  EXPECT_EQ(s.read(), sensor_no_reply);
  fake.calls.clear();
  fake.drain_results = {{rs_gone, 0, 0}};
  EXPECT_EQ(s.read(), sensor_port_gone);
  EXPECT_EQ(fake.calls, settle_calls(5));
}

TEST_F(sensor_link_test, close_closes_the_opened_port_exactly_once) {
  for (int port : {5, 0}) {
    SCOPED_TRACE(port);
    reset_fake();
    open_module(port);
    sensor_close();
    sensor_close();
    EXPECT_EQ(fake.calls, std::vector<fake_call>{call_close(port)});
    fake.calls.clear();
    sample s;
    EXPECT_EQ(s.read(), sensor_port_gone);
    EXPECT_TRUE(fake.calls.empty());
  }
}

TEST_F(sensor_link_test, close_after_a_failed_open_does_nothing) {
  fake.rows = {ftdi_row(4)};
  fake.open_result = -1;
  EXPECT_EQ(sensor_open(), 2);
  fake.calls.clear();
  sensor_close();
  sample s;
  EXPECT_EQ(s.read(), sensor_port_gone);
  EXPECT_TRUE(fake.calls.empty());
}

bool key_is_waiting(void) { return true; }

TEST_F(sensor_link_test, a_waiting_key_cuts_the_opening_short_only_when_the_module_is_silent) {
  struct key_case {
    const char *name;
    bool silent;
    bool (*key_check)(void);
    std::size_t calls;  // serial calls, scan and open included
  };
  const key_case cases[] = {
      {"silent module, key waiting: ends after the first exchange", true, key_is_waiting, 4},
      {"answering module, key waiting: the whole opening", false, key_is_waiting, 19},
      {"silent module, no key check: the whole opening", true, nullptr, 14},
  };
  for (const key_case &c : cases) {
    SCOPED_TRACE(c.name);
    sensor_close();
    reset_fake();
    fake.rows = {ftdi_row(5)};
    if (c.silent) fake.gets_results.assign(5, fake_line{rs_timeout, ""});
    sensor_set_key_check(c.key_check);
    EXPECT_EQ(sensor_open(), 0);
    sensor_set_key_check(nullptr);
    EXPECT_EQ(fake.calls.size(), c.calls);
  }
}

TEST_F(sensor_link_test, one_deadline_covers_both_exchanges_of_a_sample) {
  open_module(4);
  fake.read_waits.clear();
  fake.gets_results = {{24, "000100020003FFFF80008001", '\r', 700}};
  sample s;
  EXPECT_EQ(s.read(), sensor_sample_read);
  // 1 ms for the write; 700 for the reply; the further character; 1 for the
  // follow-up's write: what is left of the second is the follow-up's.
  EXPECT_EQ(fake.read_waits, (std::vector<int>{999, 50, 297, 50}));
}

TEST_F(sensor_link_test, the_further_character_is_awaited_only_where_one_follows) {
  struct further_case {
    const char *name;
    std::deque<fake_line> gets;
    std::deque<int> getch;
    std::vector<int> waits;  // for the further character in two samples
  };
  const fake_line cr{24, "000100020003FFFF80008001", '\r'};
  const fake_line lf{24, "000100020003FFFF80008001", '\n'};
  const fake_line cr_21{2, "21", '\r'};
  const fake_line lf_21{2, "21", '\n'};
  const further_case cases[] = {
      {"CR LF: briefly after each line", {cr, cr_21, cr, cr_21}, {}, {50, 50, 50, 50}},
      {"LF only: never",
       {lf, lf_21, lf, lf_21},
       {rs_timeout, rs_timeout, rs_timeout, rs_timeout},
       {0, 0, 0, 0}},
      {"CR only: once, then no longer",
       {cr, cr_21, cr, cr_21},
       {rs_timeout, rs_timeout, rs_timeout, rs_timeout},
       {50, 0, 0, 0}},
      {"a further character that shows up again is awaited again",
       {cr, cr_21, cr, cr_21},
       {rs_timeout, '\n', '\n', '\n'},
       {50, 0, 50, 50}},
  };
  for (const further_case &c : cases) {
    SCOPED_TRACE(c.name);
    sensor_close();
    reset_fake();
    open_module(4);
    fake.read_waits.clear();
    fake.gets_results = c.gets;
    fake.getch_results = c.getch;
    sample first, second;
    EXPECT_EQ(first.read(), sensor_sample_read);
    EXPECT_EQ(second.read(), sensor_sample_read);
    std::vector<int> further_waits;
    for (std::size_t k = 1; k < fake.read_waits.size(); k += 2) {
      further_waits.push_back(fake.read_waits[k]);
    }
    EXPECT_EQ(further_waits, c.waits);
    EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), call_drain(4)), 0)
        << "a missing further character is no fault";
  }
}

TEST_F(sensor_link_test, a_late_reply_is_drained_before_the_next_command) {
  struct drain_case {
    const char *name;
    std::deque<fake_drain> drains;
    std::vector<sensor_outcome> outcomes;  // of the requests after the timeout
    std::vector<int> owed;                 // line ends each drain was asked for
  };
  const fake_drain still_owed{rs_timeout, 1, 1000};
  const drain_case cases[] = {
      {"the late line comes: the next command goes out at once",
       {{0, 0, 80}},
       {sensor_sample_read},
       {1}},
      {"a drain that took long leaves the command to the next call",
       {{0, 0, 400}},
       {sensor_no_reply, sensor_sample_read},
       {1}},
      {"owed lines that never come are given up after five seconds",
       {still_owed, still_owed, still_owed, still_owed, still_owed},
       {sensor_no_reply, sensor_no_reply, sensor_no_reply, sensor_no_reply, sensor_no_reply,
        sensor_sample_read},
       {1, 1, 1, 1, 1, 0}},
  };
  for (const drain_case &c : cases) {
    SCOPED_TRACE(c.name);
    sensor_close();
    reset_fake();
    open_module(4);
    fake.gets_results = {{rs_timeout, ""}};
    sample s;
    ASSERT_EQ(s.read(), sensor_no_reply);
    fake.calls.clear();
    fake.drain_results = c.drains;
    std::vector<sensor_outcome> outcomes;
    for (std::size_t k = 0; k < c.outcomes.size(); ++k) outcomes.push_back(s.read());
    EXPECT_EQ(outcomes, c.outcomes);
    EXPECT_EQ(fake.drain_owed, c.owed);
    // Nothing but drains until the line is in step: no command is sent.
    const auto first_puts = std::find(fake.calls.begin(), fake.calls.end(), call_puts(4, "29\r\n"));
    EXPECT_EQ(static_cast<std::size_t>(first_puts - fake.calls.begin()), c.owed.size());
  }
}

}  // namespace
