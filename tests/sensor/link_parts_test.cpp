// SPDX-License-Identifier: MIT
// The link's parts on their own: the framing learned from a byte stream in
// any chunks, the matching of lines to requests, and the watch that says
// what the module does and when to initialise it again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "line_framing.h"
#include "module_watch.h"
#include "reply_matching.h"

namespace {

// Feeds the stream in chunks of chunk bytes; the lines cut, as text.
std::vector<std::string> cut(line_framing &framing, const std::string &stream, std::size_t chunk) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < stream.size(); at += chunk) {
    const std::string part = stream.substr(at, chunk);
    line_framing_add(&framing, reinterpret_cast<const unsigned char *>(part.data()),
                     static_cast<int>(part.size()));
    framed_line line;
    while (line_framing_next(&framing, &line)) {
      lines.push_back(std::string(line.text, static_cast<std::size_t>(line.length)) +
                      (line.overflow ? "..." : ""));
    }
  }
  return lines;
}

TEST(line_framing, learns_each_framing_and_cuts_the_lines_whole) {
  const std::vector<std::string> replies = {"0F",   "050027950000",
                                            "0DF3", "27",
                                            "21",   "000100020003FFFF80008001",
                                            "21",   "7FFF7FFF7FFF000000000000"};
  const struct {
    std::string end;
    const char *learned;
    std::size_t glued;  // opening replies that carry the trailer before it is learned
  } cases[] = {
      {"\r\n", "CR LF", 0},
      {"\r", "CR", 0},
      {"\n", "LF", 0},
      {"\n\r", "LF CR", 0},
      {"\r\n>", "CR LF + 0x3E", 1},
      {std::string("\r\n\0", 3), "CR LF + 0x00", 1},
      {"\r>", "CR + 0x3E", 1},
      {"\n\r>", "LF CR + 0x3E", 1},
      {"\r\n ", "CR LF + 0x20", 1},
  };
  for (const auto &c : cases) {
    std::string stream;
    for (const std::string &reply : replies) stream += reply + c.end;
    for (std::size_t chunk : {1u, 3u, 64u}) {
      SCOPED_TRACE(c.learned + std::string(" in chunks of ") + std::to_string(chunk));
      line_framing framing;
      line_framing_reset(&framing);
      const std::vector<std::string> lines = cut(framing, stream, chunk);
      ASSERT_EQ(lines.size(), replies.size());
      for (std::size_t k = 0; k < replies.size(); ++k) {
        // Before the trailer is learned it reads as the next line's start.
        const std::string expected =
            k >= 1 && k <= c.glued ? c.end.substr(c.end.size() - 1) + replies[k] : replies[k];
        EXPECT_EQ(lines[k], expected) << k;
      }
      char described[32];
      line_framing_describe(&framing, described, sizeof described);
      EXPECT_STREQ(described, c.learned);
    }
  }
}

TEST(line_framing, adapts_when_the_module_changes_and_never_eats_a_digit) {
  const struct {
    const char *name;
    std::string stream;
    std::vector<std::string> lines;
    const char *learned;
  } cases[] = {
      {"a trailer that stops is forgotten after three lines",
       "a\r\n>b\r\n>c\r\nd\r\ne\r\nf\r\n>g\r\n",
       {"a", ">b", "c", "d", "e", "f", ">g"},
       "CR LF"},
      {"a new trailer is learned",
       "a\r\nb\r\n!c\r\n!d\r\n!e\r\n",
       {"a", "b", "!c", "d", "e"},
       "CR LF + 0x21"},
      {"a hex digit after a line end is the next line's",
       "5a\r\n5b\r\n5c\r\n",
       {"5a", "5b", "5c"},
       "CR LF"},
      {"CR LF and LF CR mixed", "a\r\nb\n\rc\rd\ne\r\n", {"a", "b", "c", "d", "e"}, "CR LF"},
      {"an empty line between", "a\r\n\r\nb\r\n", {"a", "", "b"}, "CR LF"},
      {"CR CR is an empty line", "a\r\rb\r", {"a", "", "b"}, "CR"},
      {"NULs inside a line are kept",
       std::string("a\0b\r\n", 5),
       {std::string("a\0b", 3)},
       "CR LF"},
      {"an over-long line is cut and marked",
       std::string(100, '7') + "\r\nok\r\n",
       {std::string(83, '7') + "...", "ok"},
       "CR LF"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    line_framing framing;
    line_framing_reset(&framing);
    EXPECT_EQ(cut(framing, c.stream, 2), c.lines);
    char described[32];
    line_framing_describe(&framing, described, sizeof described);
    EXPECT_STREQ(described, c.learned);
  }
}

TEST(line_framing, dropping_the_input_keeps_what_was_learned) {
  line_framing framing;
  line_framing_reset(&framing);
  cut(framing, "a\r\n>b\r\n>c\r\n>half", 64);
  line_framing_drop_input(&framing);
  EXPECT_EQ(cut(framing, "d\r\n>e\r\n", 64), (std::vector<std::string>{"d", "e"}));
  EXPECT_EQ(line_framing_room(&framing), line_framing_buffer_size);
}

TEST(line_framing, says_how_many_bytes_of_a_line_end_are_still_due) {
  const struct {
    const char *stream;
    int due;
  } cases[] = {
      {"a\r", 0},       // nothing learned yet
      {"a\r\nb\r", 1},  // the LF
      {"a\r\nb\r\n", 0},
      {"a\rb\r", 0},           // CR alone
      {"a\r\n>b\r\n>c\r", 2},  // the LF and the trailer
      {"a\r\n>b\r\n>c\r\n", 1},
      {"a\r\n>b\r\n>c\r\n>", 0},
      {"a\n\rb\n", 1},  // LF CR
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.stream);
    line_framing framing;
    line_framing_reset(&framing);
    cut(framing, c.stream, 64);
    EXPECT_EQ(line_framing_end_due(&framing), c.due);
  }
}

// One event for the matcher: a request sent, a line (sample or not), a give-up.
struct match_step {
  char what;     // 's' sample request sent, 'a' any-line request sent, 'S' sample line,
                 // 'o' other line, 'g' give up
  int expected;  // the verdict of a line; what give-up returns (1 owed, 0 not)
};

TEST(reply_matching, each_line_goes_to_the_oldest_request_owed) {
  const struct {
    const char *name;
    std::vector<match_step> steps;
    int owed_after;
  } cases[] = {
      {"a sample answers its request", {{'s', 0}, {'S', line_is_reply}}, 0},
      {"other lines wait beside an awaited sample request",
       {{'s', 0}, {'o', line_is_other}, {'o', line_is_other}, {'S', line_is_reply}},
       0},
      {"any line answers a follow-up", {{'a', 0}, {'o', line_is_reply}, {'S', line_is_unasked}}, 0},
      {"nothing owed: unasked", {{'S', line_is_unasked}, {'o', line_is_unasked}}, 0},
      {"a request without a line stays owed; its late answer is dropped",
       {{'s', 0}, {'g', 1}, {'S', line_is_late}, {'s', 0}, {'S', line_is_reply}},
       0},
      {"a late answer is not taken for a later request",
       {{'s', 0}, {'g', 1}, {'s', 0}, {'S', line_is_late}, {'S', line_is_reply}},
       0},
      {"a line that was no sample answered the request given up on",
       {{'s', 0}, {'o', line_is_other}, {'g', 0}, {'S', line_is_unasked}},
       0},
      {"a given-up sample request takes any late line",
       {{'s', 0}, {'g', 1}, {'o', line_is_late}},
       0},
      {"owed requests are answered in order",
       {{'a', 0},
        {'g', 1},
        {'a', 0},
        {'g', 1},
        {'s', 0},
        {'o', line_is_late},
        {'o', line_is_late},
        {'o', line_is_other}},
       0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    reply_matching m;
    reply_matching_reset(&m);
    for (std::size_t k = 0; k < c.steps.size(); ++k) {
      const match_step &step = c.steps[k];
      SCOPED_TRACE(k);
      switch (step.what) {
        case 's': reply_matching_sent(&m, reply_sample); break;
        case 'a': reply_matching_sent(&m, reply_any_line); break;
        case 'S': EXPECT_EQ(reply_matching_line(&m, true), step.expected); break;
        case 'o': EXPECT_EQ(reply_matching_line(&m, false), step.expected); break;
        case 'g': EXPECT_EQ(reply_matching_give_up(&m) ? 1 : 0, step.expected); break;
      }
    }
    EXPECT_EQ(reply_matching_owed(&m), c.owed_after);
  }
}

TEST(reply_matching, a_full_list_takes_the_oldest_as_lost) {
  reply_matching m;
  reply_matching_reset(&m);
  for (int k = 0; k < reply_matching_capacity + 3; ++k) {
    reply_matching_sent(&m, reply_any_line);
    reply_matching_give_up(&m);
  }
  EXPECT_EQ(reply_matching_owed(&m), reply_matching_capacity);
}

// One event for the watch at a time: 'h' bytes heard, 's' a sample, 'c' a
// look at the time, 'u' an unasked line, 'i' initialised again; with what it
// returns (heard: after a silence; check: initialise again).
struct watch_step {
  int at_ms;
  char what;
  bool returns;
};

TEST(module_watch, tells_each_episode_once_and_says_when_to_initialise_again) {
  const struct {
    const char *name;
    std::vector<watch_step> steps;
    std::vector<sensor_notice> told;
  } cases[] = {
      {"an answering module: nothing",
       {{40, 'h', false}, {40, 's', false}, {80, 'h', false}, {80, 's', false}, {2050, 'c', false}},
       {}},
      {"silent from the start, then answering",
       {{1000, 'c', false}, {2000, 'c', false}, {3000, 'c', false}, {3040, 'h', true}},
       {sensor_notice_silent, sensor_notice_answers_again}},
      {"a missed reply is no silence",
       {{40, 'h', false}, {1040, 'c', false}, {1080, 'h', false}},
       {}},
      {"silence counts from the last byte",
       {{500, 'h', false}, {500, 's', false}, {2499, 'c', false}, {2500, 'c', false}},
       {sensor_notice_silent}},
      {"answers without samples for 2 s",
       {{500, 'h', false}, {1900, 'h', false}, {1999, 'c', false}, {2000, 'c', true}},
       {}},
      {"fell silent after its last answer: no new opening, the silence is told",
       {{40, 'h', false},
        {40, 's', false},
        {80, 'h', false},
        {2040, 'c', false},
        {2080, 'c', false}},
       {sensor_notice_silent}},
      {"initialised again: 2 s more before the next time",
       {{1500, 'h', false},
        {2000, 'c', true},
        {2000, 'i', false},
        {3400, 'h', false},
        {3999, 'c', false},
        {4000, 'c', true},
        {4000, 'i', false}},
       {sensor_notice_initialised_again}},
      {"unasked lines: once, again after 10 s without",
       {{100, 'u', false}, {5000, 'u', false}, {14999, 'u', false}, {25000, 'u', false}},
       {sensor_notice_unasked_lines, sensor_notice_unasked_lines}},
      {"a second silence is told again",
       {{2000, 'c', false}, {2100, 'h', true}, {4100, 'c', false}, {4200, 'h', true}},
       {sensor_notice_silent, sensor_notice_answers_again, sensor_notice_silent,
        sensor_notice_answers_again}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    module_watch w;
    module_watch_start(&w, 0);
    for (std::size_t k = 0; k < c.steps.size(); ++k) {
      const watch_step &step = c.steps[k];
      SCOPED_TRACE(k);
      switch (step.what) {
        case 'h': EXPECT_EQ(module_watch_heard(&w, step.at_ms), step.returns); break;
        case 's': module_watch_sample(&w, step.at_ms); break;
        case 'c': EXPECT_EQ(module_watch_check(&w, step.at_ms), step.returns); break;
        case 'u': module_watch_event(&w, step.at_ms, sensor_notice_unasked_lines); break;
        case 'i': module_watch_initialised(&w, step.at_ms); break;
      }
    }
    std::vector<sensor_notice> told;
    for (sensor_notice n = module_watch_take(&w); n != sensor_notice_none;
         n = module_watch_take(&w)) {
      told.push_back(n);
    }
    EXPECT_EQ(told, c.told);
  }
}

}  // namespace
