// SPDX-License-Identifier: MIT
// The sensor link over a scripted serial layer and directory scan: the
// commands it sends, in order, what it delivers, and what it tells, with
// modules that frame their lines in every way, chatter, stream, answer late,
// reset, fall silent or go away.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
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

std::vector<std::string> opening(void) {
  std::vector<std::string> commands;
  for (const std::string &command : opening_commands()) commands.push_back(command + "\r\n");
  return commands;
}

std::vector<std::string> samples(int count) {
  std::vector<std::string> commands;
  for (int k = 0; k < count; ++k) commands.insert(commands.end(), {"29\r\n", "21\r\n"});
  return commands;
}

std::vector<std::string> joined(std::vector<std::string> first,
                                const std::vector<std::string> &second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

// The calls other than writes and reads: scan, open, close.
std::vector<fake_call> port_calls(void) {
  std::vector<fake_call> calls;
  for (const fake_call &call : fake.calls) {
    if (call.name != "puts" && call.name != "read") calls.push_back(call);
  }
  return calls;
}

std::vector<sensor_notice> notices(void) {
  std::vector<sensor_notice> all;
  for (sensor_notice n = sensor_take_notice(); n != sensor_notice_none; n = sensor_take_notice()) {
    all.push_back(n);
  }
  return all;
}

constexpr int32_t untouched = -12345;
const std::vector<int32_t> all_untouched(6, untouched);
const std::vector<int32_t> values_a{2, 1, 3, 327680, -10, -327670};

struct sample {
  int32_t values[6] = {untouched, untouched, untouched, untouched, untouched, untouched};

  sensor_outcome read() {
    return sensor_read(&values[0], &values[1], &values[2], &values[3], &values[4], &values[5]);
  }
  std::vector<int32_t> as_vector() const { return {values, values + 6}; }
};

// A sample line whose first field carries n, and the values it decodes to.
std::string numbered(int n) {
  char text[32];
  std::snprintf(text, sizeof text, "%04X00000000000000000000", n);
  return text;
}

class sensor_link_test : public testing::Test {
protected:
  void SetUp() override { start(); }
  void TearDown() override { sensor_close(); }

  void start() {
    sensor_close();
    reset_fake();
    sensor_port = 0;
    sensor_set_key_check(nullptr);
    notices();
  }

  // Opens the module on an FTDI port numbered port and forgets the calls.
  void open_module(int port) {
    fake.rows = {ftdi_row(port)};
    ASSERT_EQ(sensor_open(), 0);
    fake.calls.clear();
  }
};

TEST_F(sensor_link_test, opening_sends_the_five_commands_with_their_pauses) {
  fake.rows = {ftdi_row(5)};
  const long long start = fake.now_ms;
  EXPECT_EQ(sensor_open(), 0);
  EXPECT_EQ(fake_commands(), opening());
  // Listening for 250 ms after the first exchange, 100 ms after the last.
  std::vector<int> pauses;
  for (const fake_call &call : fake.calls) {
    if (call.name == "read" && (call.number == 250 || call.number == 100)) {
      pauses.push_back(call.number);
    }
  }
  EXPECT_EQ(pauses, (std::vector<int>{250, 100}));
  EXPECT_GE(fake.now_ms - start, 350);
  EXPECT_LT(fake.now_ms - start, 450);
  EXPECT_TRUE(notices().empty());
}

TEST_F(sensor_link_test, picks_the_first_ftdi_port_or_reports_why_not) {
  struct pick_case {
    const char *name;
    std::vector<fake_port_row> rows;
    int open_result;
    int code;
    int32_t port_after;            // sensor_port afterwards; it starts at 42
    std::vector<fake_call> calls;  // the opening is sent when the code is 0
  };
  const pick_case cases[] = {
      {"first of several in table order",
       {onboard_row, ftdi_row(7), ftdi_row(3)},
       0,
       0,
       7,
       {call_scan(), call_open(7, 9600)}},
      {"an FTDI port numbered 0 is used like any other",
       {ftdi_row(0)},
       0,
       0,
       0,
       {call_scan(), call_open(0, 9600)}},
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
    start();
    sensor_port = 42;
    fake.rows = c.rows;
    fake.open_result = c.open_result;
    EXPECT_EQ(sensor_open(), c.code);
    EXPECT_EQ(sensor_port, c.port_after);
    EXPECT_EQ(port_calls(), c.calls);
    EXPECT_EQ(fake_commands(), c.code == 0 ? opening() : std::vector<std::string>{});
  }
}

TEST_F(sensor_link_test, decodes_exactly_24_hex_digits_and_delivers_nothing_else) {
  struct decode_case {
    std::string reply;
    sensor_outcome outcome;
    std::vector<int32_t> values;  // geomagnetic 1-3, acceleration 1-3
  };
  const decode_case cases[] = {
      {"000100020003FFFF80008001", sensor_sample_read, values_a},
      {"7FFF7FFF7FFF000000000000", sensor_sample_read, {32767, 32767, 32767, 0, 0, 0}},
      {"000100020003ffff80008001", sensor_sample_read, values_a},
      // 0x8000 stays +32768, 0x8001 wraps to -32767, 0xFFFF to -1.
      {"80018000FFFF800080017FFF",
       sensor_sample_read,
       {32768, -32767, -1, -327670, 327680, 327670}},
      {"000100020003fFfF80008001", sensor_sample_read, values_a},
      // Longer than a line is kept: its end was dropped, so it is no sample
      // even though its first fields look right.
      {"000100020003FFFF80008001FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
       "FFFFFFFFF",
       sensor_bad_reply, all_untouched},
      {"000100020003FFFF80008001                                                          ",
       sensor_bad_reply, all_untouched},
      {"000100020003", sensor_bad_reply, all_untouched},
      {"0001000200030004000", sensor_bad_reply, all_untouched},
      {"", sensor_bad_reply, all_untouched},
      {"OK", sensor_bad_reply, all_untouched},
      {"ZZZZ000100020003FFFF8000", sensor_bad_reply, all_untouched},
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
    start();
    open_module(6);
    fake.answers = {{{1, c.reply + "\r\n"}}};
    sample s;
    EXPECT_EQ(s.read(), c.outcome);
    EXPECT_EQ(s.as_vector(), c.values);
    EXPECT_EQ(fake_commands(), samples(1)) << "a reply that is no sample is followed up too";
    // Nothing is owed afterwards: the next request goes out at once.
    fake.calls.clear();
    sample next;
    EXPECT_EQ(next.read(), sensor_sample_read);
    EXPECT_EQ(next.as_vector(), values_a);
    EXPECT_EQ(fake_commands(), samples(1));
    const std::vector<sensor_notice> expected =
        c.outcome == sensor_sample_read ? std::vector<sensor_notice>{}
                                        : std::vector<sensor_notice>{sensor_notice_not_samples};
    EXPECT_EQ(notices(), expected);
  }
}

// Modules that end their lines in every way: each sample comes whole, at the
// pace of the answers, and nothing else is told.
TEST_F(sensor_link_test, learns_how_the_module_ends_its_lines) {
  struct framing_case {
    const char *name;
    std::string end;
    std::string late_end;  // 16 ms after the rest
  };
  const framing_case cases[] = {
      {"CR LF", "\r\n", ""},
      {"CR", "\r", ""},
      {"LF", "\n", ""},
      {"LF CR", "\n\r", ""},
      {"CR LF and a prompt", "\r\n>", ""},
      {"CR LF and a NUL pad", std::string("\r\n\0", 3), ""},
      {"CR and a prompt", "\r>", ""},
      {"LF CR and a prompt", "\n\r>", ""},
      {"CR LF, the LF late", "\r", "\n"},
      {"CR LF, the prompt late", "\r\n", ">"},
      {"LF CR, the CR late", "\n", "\r"},
      {"CR LF, LF and prompt late", "\r", "\n>"},
  };
  for (const framing_case &c : cases) {
    SCOPED_TRACE(c.name);
    start();
    fake.line_end = c.end;
    fake.late_end = c.late_end;
    open_module(3);
    for (int k = 0; k < 6; ++k) {
      SCOPED_TRACE(k);
      const long long before = fake.now_ms;
      sample s;
      EXPECT_EQ(s.read(), sensor_sample_read);
      EXPECT_EQ(s.as_vector(), values_a);
      // Two commands and their answers, with no wait for a quiet line.
      EXPECT_LT(fake.now_ms - before, 80);
    }
    EXPECT_EQ(fake_commands(), samples(6));
    EXPECT_TRUE(notices().empty());
  }
}

// A module that sends lines of its own between the answers still gets its
// requests at the pace of the answers, and only true samples are delivered.
TEST_F(sensor_link_test, chatter_and_streamed_samples_do_not_hold_up_the_requests) {
  struct chatter_case {
    const char *name;
    int every_ms;
    bool samples;  // the unasked lines are samples, each with its own number
  };
  const chatter_case cases[] = {
      {"a status line every 30 ms", 30, false},
      {"a status line every 7 ms", 7, false},
      {"samples streamed every 30 ms", 30, true},
      {"samples streamed every 11 ms", 11, true},
  };
  for (const chatter_case &c : cases) {
    SCOPED_TRACE(c.name);
    start();
    open_module(3);
    for (int at = 5, n = 100; at < 3000; at += c.every_ms, ++n) {
      fake_send_at(at, (c.samples ? numbered(n) : std::string("STATUS OK")) + "\r\n");
    }
    std::vector<std::vector<int32_t>> delivered;
    const long long start_ms = fake.now_ms;
    while (fake.now_ms - start_ms < 2500) {
      sample s;
      ASSERT_EQ(s.read(), sensor_sample_read);
      delivered.push_back(s.as_vector());
    }
    // At least one sample per 100 ms: no request waited for a quiet line.
    EXPECT_GE(delivered.size(), 25u);
    // Each sample delivered is a line the module sent, none twice.
    int last = -1;
    for (const std::vector<int32_t> &values : delivered) {
      if (values == values_a) continue;
      ASSERT_TRUE(c.samples) << "a status line was delivered";
      EXPECT_GT(values[1], last) << "a streamed sample delivered twice or out of order";
      last = values[1];
    }
    EXPECT_EQ(notices(), std::vector<sensor_notice>{sensor_notice_unasked_lines});
  }
}

// A reply that comes after the link gave up on it is never taken for the
// answer to a later request.
TEST_F(sensor_link_test, a_late_reply_is_never_taken_for_a_later_request) {
  for (int late_ms : {1050, 1300, 1900, 3000}) {
    SCOPED_TRACE(late_ms);
    start();
    open_module(4);
    // Every sample reply comes late_ms late and carries its own number.
    for (int n = 1; n < 40; ++n) {
      fake.answers.push_back({{late_ms, numbered(n) + "\r\n"}});
      fake.answers.push_back({{1, "21\r\n"}});
    }
    const long long start_ms = fake.now_ms;
    while (fake.now_ms - start_ms < 12000) {
      sample s;
      const sensor_outcome outcome = s.read();
      EXPECT_NE(outcome, sensor_sample_read) << "late reply " << s.values[1] << " delivered";
      EXPECT_NE(outcome, sensor_port_gone);
    }
  }
}

TEST_F(sensor_link_test, no_reply_leaves_it_owed_and_a_silence_is_told_once) {
  open_module(3);
  fake.silent = true;
  std::vector<sensor_outcome> outcomes;
  for (int k = 0; k < 4; ++k) {
    sample s;
    outcomes.push_back(s.read());
  }
  // No follow-up after a request without an answer, and nothing more while
  // its answer is owed; once silent for 2 s, it is asked again.
  EXPECT_EQ(outcomes, std::vector<sensor_outcome>(4, sensor_no_reply));
  EXPECT_EQ(fake_commands(), (std::vector<std::string>{"29\r\n", "29\r\n", "29\r\n"}));
  EXPECT_EQ(notices(), std::vector<sensor_notice>{sensor_notice_silent});

  // It answers again: initialised again, then sampled.
  fake.silent = false;
  fake.calls.clear();
  std::vector<sensor_outcome> after;
  sample s;
  for (int k = 0; k < 3 && (after.empty() || after.back() != sensor_sample_read); ++k) {
    after.push_back(s.read());
  }
  EXPECT_EQ(after.back(), sensor_sample_read);
  EXPECT_EQ(s.as_vector(), values_a);
  EXPECT_EQ(fake_commands(), joined(joined({"29\r\n"}, opening()), samples(1)));
  EXPECT_EQ(notices(), (std::vector<sensor_notice>{sensor_notice_answers_again,
                                                   sensor_notice_initialised_again}));
}

// A module that lost its settings answers ERR to everything until it gets
// the opening again: after 2 s without a sample it is initialised again.
TEST_F(sensor_link_test, a_module_that_reset_is_initialised_again) {
  open_module(3);
  for (int k = 0; k < 60; ++k) fake.answers.push_back({{1, "ERR\r\n"}});
  int requests_before_opening = 0;
  std::vector<sensor_outcome> outcomes;
  const long long start_ms = fake.now_ms;
  sample s;
  while (fake.now_ms - start_ms < 10000) {
    outcomes.push_back(s.read());
    const std::vector<std::string> sent = fake_commands();
    if (std::find(sent.begin(), sent.end(), "0F\r\n") != sent.end()) break;
    requests_before_opening = static_cast<int>(sent.size() / 2);
  }
  // About 2 s of requests answered ERR, then the opening again.
  EXPECT_GE(requests_before_opening, 3);
  EXPECT_LE(fake.now_ms - start_ms, 3500);
  fake.answers.clear();
  sample after;
  EXPECT_EQ(after.read(), sensor_sample_read);
  EXPECT_EQ(after.as_vector(), values_a);
  EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), sensor_sample_read), 0);
  EXPECT_EQ(notices(), (std::vector<sensor_notice>{sensor_notice_not_samples,
                                                   sensor_notice_initialised_again}));
}

TEST_F(sensor_link_test, a_gone_port_is_reported_and_no_longer_used) {
  struct gone_case {
    const char *name;
    std::deque<int> puts;
    std::deque<fake_answer> answers;
    sensor_outcome outcome;
  };
  const gone_case cases[] = {
      {"sending the request", {rs_gone}, {}, sensor_port_gone},
      {"reading the reply", {}, {{{1, "0001", 0}, {1, "", rs_gone}}}, sensor_port_gone},
      // The sample was read whole before the port went: it is delivered.
      {"sending the follow-up", {0, rs_gone}, {}, sensor_sample_read},
      {"reading the follow-up's reply",
       {},
       {{{1, "000100020003FFFF80008001\r\n", 0}}, {{1, "", rs_gone}}},
       sensor_sample_read},
  };
  for (const gone_case &c : cases) {
    SCOPED_TRACE(c.name);
    start();
    open_module(8);
    fake.puts_results = c.puts;
    fake.answers = c.answers;
    sample s;
    EXPECT_EQ(s.read(), c.outcome);
    EXPECT_EQ(s.as_vector(), c.outcome == sensor_sample_read ? values_a : all_untouched);

    fake.calls.clear();
    sample next;
    EXPECT_EQ(next.read(), sensor_port_gone);
    EXPECT_EQ(next.as_vector(), all_untouched);
    EXPECT_TRUE(fake.calls.empty());
    sensor_close();
    EXPECT_EQ(fake.calls, std::vector<fake_call>{call_close(8)});
  }
}

TEST_F(sensor_link_test, a_port_gone_during_the_opening_is_reported_by_the_first_read) {
  fake.rows = {ftdi_row(5)};
  fake.answers = {{{1, "0F\r\n"}}, {{1, "", rs_gone}}};
  EXPECT_EQ(sensor_open(), 0);
  EXPECT_EQ(fake_commands(), (std::vector<std::string>{"0F\r\n", "050027950000\r\n"}));
  fake.calls.clear();
  sample s;
  EXPECT_EQ(s.read(), sensor_port_gone);
  EXPECT_TRUE(fake.calls.empty());
}

TEST_F(sensor_link_test, a_command_that_cannot_be_written_owes_nothing) {
  open_module(5);
  fake.puts_results = {rs_timeout};
  sample s;
  EXPECT_EQ(s.read(), sensor_no_reply);
  fake.calls.clear();
  EXPECT_EQ(s.read(), sensor_sample_read);
  EXPECT_EQ(fake_commands(), samples(1));
}

bool key_is_waiting(void) { return true; }

TEST_F(sensor_link_test, a_key_ends_a_silent_opening) {
  struct key_case {
    const char *name;
    bool silent;
    bool (*key_check)(void);
    std::size_t commands;
  };
  const key_case cases[] = {
      {"silent module, key waiting: ends after the first exchange", true, key_is_waiting, 1},
      {"answering module, key waiting: the whole opening", false, key_is_waiting, 5},
      {"silent module, no key check: the whole opening", true, nullptr, 5},
  };
  for (const key_case &c : cases) {
    SCOPED_TRACE(c.name);
    start();
    fake.rows = {ftdi_row(5)};
    fake.silent = c.silent;
    sensor_set_key_check(c.key_check);
    EXPECT_EQ(sensor_open(), 0);
    sensor_set_key_check(nullptr);
    EXPECT_EQ(fake_commands().size(), c.commands);
  }
}

TEST_F(sensor_link_test, a_wait_woken_by_a_key_ends_at_once) {
  // In the opening: nothing more is sent.
  fake.rows = {ftdi_row(5)};
  fake.answers = {{{1, "0F\r\n"}}, {{5, "", rs_woken}}};
  EXPECT_EQ(sensor_open(), 0);
  EXPECT_EQ(fake_commands(), (std::vector<std::string>{"0F\r\n", "050027950000\r\n"}));
  // While sampling: interrupted, nothing delivered, no follow-up.
  fake.calls.clear();
  fake.answers = {{{5, "", rs_woken}}};
  sample s;
  EXPECT_EQ(s.read(), sensor_interrupted);
  EXPECT_EQ(s.as_vector(), all_untouched);
  EXPECT_EQ(fake_commands(), std::vector<std::string>{"29\r\n"});
  // A sample already on its way when the key came is still delivered, with
  // its follow-up; one that does not come within the grace is not waited for.
  struct under_way_case {
    int sample_after_key_ms;
    sensor_outcome outcome;
  };
  for (const under_way_case &c :
       {under_way_case{20, sensor_sample_read}, under_way_case{400, sensor_interrupted}}) {
    SCOPED_TRACE(c.sample_after_key_ms);
    start();
    open_module(4);
    fake.answers = {{{5, "", rs_woken}, {c.sample_after_key_ms, numbered(1) + "\r\n"}}};
    const long long before = fake.now_ms;
    sample under_way;
    EXPECT_EQ(under_way.read(), c.outcome);
    EXPECT_LE(fake.now_ms - before, 5 + 150 + 10);
  }
}

TEST_F(sensor_link_test, one_deadline_covers_the_answer_and_the_follow_up_gets_its_own) {
  struct deadline_case {
    int sample_after_ms;
    int follow_up_after_ms;
    sensor_outcome outcome;
  };
  const deadline_case cases[] = {
      {700, 200, sensor_sample_read},
      {990, 240, sensor_sample_read},
      {990, 400, sensor_sample_read},  // the follow-up's answer is owed
      {1010, 1, sensor_no_reply},      // the sample's answer is owed
  };
  for (const deadline_case &c : cases) {
    SCOPED_TRACE(c.sample_after_ms);
    start();
    open_module(4);
    fake.answers = {{{c.sample_after_ms, numbered(1) + "\r\n"}}};
    // No follow-up goes out after a request whose answer did not come.
    if (c.outcome == sensor_sample_read) fake.answers.push_back({{c.follow_up_after_ms, "21\r\n"}});
    sample s;
    const long long before = fake.now_ms;
    EXPECT_EQ(s.read(), c.outcome);
    EXPECT_LE(fake.now_ms - before, 1260);
    // What came late is not taken for the next request's answer.
    sample next;
    EXPECT_EQ(next.read(), sensor_sample_read);
    EXPECT_EQ(next.as_vector(), values_a);
  }
}

TEST_F(sensor_link_test, close_closes_the_opened_port_exactly_once) {
  for (int port : {5, 0}) {
    SCOPED_TRACE(port);
    start();
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

TEST_F(sensor_link_test, a_byte_stream_opens_like_a_port) {
  const serial_transport stream{nullptr, nullptr, nullptr, nullptr};
  for (int result : {0, -1}) {
    SCOPED_TRACE(result);
    start();
    fake.transport_result = result;
    EXPECT_EQ(sensor_open_transport(stream), result == 0 ? 0 : 2);
    EXPECT_EQ(fake_commands(), result == 0 ? opening() : std::vector<std::string>{});
    if (result == 0) {
      sample s;
      EXPECT_EQ(s.read(), sensor_sample_read);
    }
  }
}

TEST_F(sensor_link_test, every_notice_has_its_text) {
  EXPECT_STREQ(sensor_notice_text(sensor_notice_silent),
               "the sensor has not answered for 2 seconds");
  EXPECT_STREQ(sensor_notice_text(sensor_notice_answers_again), "the sensor answers again");
  for (int n = sensor_notice_not_samples; n <= sensor_notice_initialised_again; ++n) {
    EXPECT_GT(std::string(sensor_notice_text(static_cast<sensor_notice>(n))).size(), 10u);
  }
}

}  // namespace
