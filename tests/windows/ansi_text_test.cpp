// SPDX-License-Identifier: MIT
// Character lengths in double-byte code pages, and the cuts made with them.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "port_scan.h"
#include "windows/win32_sources.h"

namespace {

struct length_case {
  unsigned code_page;
  const char *text;
  int length;
};

TEST(code_page_char_length, counts_lead_and_trail_bytes_as_one_character) {
  const length_case cases[] = {
      {932, "A", 1},
      {932, "\x82\xa0", 2},  // HIRAGANA A
      {932, "\x92\x6e", 2},  // a trail byte in the ASCII range
      {932, "\xe0\x40", 2},  // lead bytes of the upper range
      {932, "\x82", 1},      // a lead byte right before the NUL stands alone
      {932, "\xb1", 1},      // half-width katakana is one byte
      {932, "", 1},
      {1252, "\x82\xa0", 1},
      {936, "\xb0\xa1", 2},
      // A UTF-8 ANSI code page: whole sequences, broken ones byte by byte.
      {CP_UTF8, "\xe3\x81\x82", 3},  // HIRAGANA A
      {CP_UTF8, "\xc3\xa9x", 2},
      {CP_UTF8, "\xf0\x9f\x98\x80", 4},
      {CP_UTF8, "\xe3\x81", 1},  // cut short before the NUL
      {CP_UTF8, "\x82\xa0", 1},  // a trail byte alone
  };
  for (const length_case &c : cases) {
    EXPECT_EQ(code_page_char_length(c.code_page, c.text), c.length)
        << "code page " << c.code_page << ", text " << c.text;
  }
}

int cp932_length(const char *text) { return code_page_char_length(932, text); }

struct cut_case {
  const char *text;
  size_t max_bytes;
  size_t kept;
};

TEST(code_page_char_length, cuts_never_split_a_double_byte_character) {
  const cut_case cases[] = {
      {"AB\x82\xa0\x82\xa2", 3, 2},  // the cut would fall inside the first kana
      {"AB\x82\xa0\x82\xa2", 4, 4},
      {"AB\x82\xa0\x82\xa2", 5, 4},
      {"A\xb1\xb2\xb3", 3, 3},  // single-byte katakana cut anywhere
      {"\x82", 1, 1},           // a lone lead byte at the end
  };
  for (const cut_case &c : cases) {
    EXPECT_EQ(whole_char_prefix(c.text, c.max_bytes, cp932_length), c.kept) << c.text;
  }
  char slot[32];
  const std::string forty(40, 'x');
  copy_cut(slot, sizeof slot, forty.c_str(), cp932_length);
  EXPECT_EQ(std::string(slot), forty.substr(0, 31));
}

TEST(code_page_char_length, cuts_in_a_utf8_code_page_keep_whole_characters) {
  const auto utf8_length = [](const char *text) { return code_page_char_length(CP_UTF8, text); };
  const cut_case cases[] = {
      {"AB\xe3\x81\x82\xe3\x81\x84", 3, 2},  // the cut would fall inside the first kana
      {"AB\xe3\x81\x82\xe3\x81\x84", 4, 2},
      {"AB\xe3\x81\x82\xe3\x81\x84", 5, 5},
      {"AB\xe3\x81\x82\xe3\x81\x84", 7, 5},
  };
  for (const cut_case &c : cases) {
    EXPECT_EQ(whole_char_prefix(c.text, c.max_bytes, utf8_length), c.kept) << c.text;
  }
}

TEST(ansi_char_length, follows_the_system_code_page) {
  const int expected = IsDBCSLeadByte(0x82) ? 2 : 1;
  EXPECT_EQ(ansi_char_length("\x82\xa0"), expected) << "ANSI code page " << GetACP();
  EXPECT_EQ(ansi_char_length("A"), 1);
}

}  // namespace
