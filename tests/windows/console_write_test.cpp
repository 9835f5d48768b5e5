// SPDX-License-Identifier: MIT
// console_write with stdout redirected: texts of any length arrive whole, in
// code page 932, never cut inside a character; a failed write says so.
#include <gtest/gtest.h>
#include <io.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "console.h"

namespace {

const char output_path[] = "console_write_test.out";

std::string read_output(void) {
  std::ifstream file(output_path, std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

// Points stdout at a file for the test, and back at what it was after, so
// that the test's own report still reaches the runner.
class redirected_stdout : public testing::Test {
protected:
  void SetUp() override {
    std::fflush(stdout);
    saved_ = _dup(_fileno(stdout));
  }
  void TearDown() override {
    std::fflush(stdout);
    _dup2(saved_, _fileno(stdout));
    _close(saved_);
    std::remove(output_path);
  }

private:
  int saved_ = -1;
};

TEST_F(redirected_stdout, console_write_writes_long_texts_whole_in_code_page_932) {
  // "地磁気" is three characters of three UTF-8 bytes each; the leading
  // bytes move where the text's pieces would be cut.
  const std::string utf8_word = "\xe5\x9c\xb0\xe7\xa3\x81\xe6\xb0\x97";
  const std::string cp932_word = "\x92\x6e\x8e\xa5\x8b\x43";
  for (int offset = 0; offset < 3; ++offset) {
    std::string text(static_cast<size_t>(offset), 'x');
    std::string expected = text;
    for (int i = 0; i < 1500; ++i) {
      text += utf8_word;
      expected += cp932_word;
    }
    ASSERT_NE(std::freopen(output_path, "wb", stdout), nullptr);
    EXPECT_TRUE(console_write(text.c_str())) << console_output_failure();
    std::fflush(stdout);
    EXPECT_EQ(read_output(), expected) << "offset " << offset;
  }
}

TEST_F(redirected_stdout, console_write_reports_a_write_that_failed) {
  ASSERT_NE(std::freopen(output_path, "wb", stdout), nullptr);
  ASSERT_NE(std::freopen(output_path, "rb", stdout), nullptr);  // open, but not for writing
  EXPECT_FALSE(console_write("lost\n"));
  EXPECT_STRNE(console_output_failure(), "");
}

}  // namespace
