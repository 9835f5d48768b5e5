// SPDX-License-Identifier: MIT
// Fuzz target: the POSIX serial layer's line reader (rs_gets, rs_getch) on a
// pty whose other end carries the fuzzer's bytes. Every result is compared
// with a plain splitter of the same bytes: each line fits its buffer (sizes
// 1 to 100), an over-long line is dropped to its end, and nothing is lost
// or duplicated between lines; then a hang-up is reported as the port gone.
//
// Input: a flags byte (bit 0: hang up at the end, bit 1: probe the hang-up
// with rs_getch), a count of read operations and that many operation bytes
// (below 200: rs_gets with a buffer of 1 + byte % 100; else rs_getch), then
// the bytes the module sends. The reader is only asked for what has been
// sent, so no read waits out its deadline.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "com_numbering.h"
#include "fuzz_input.h"
#include "rs232.h"
#include "rs232_posix.h"

// The target opens its pty by path; no COM number names a device here.
bool com_port_device_node(int, char *, std::size_t) { return false; }

namespace {

constexpr int16_t port = 1;

// The same bytes, split as the reader must split them.
class reference_splitter {
public:
  explicit reference_splitter(std::string bytes) : bytes_(std::move(bytes)) {}

  // The next line cut to size - 1 bytes; false when no line end has been sent.
  bool next_line(int size, std::string *line) {
    const std::size_t end = bytes_.find_first_of("\r\n", at_);
    if (end == std::string::npos) return false;
    const std::size_t keep = static_cast<std::size_t>(size - 1);
    *line = bytes_.substr(at_, end - at_ < keep ? end - at_ : keep);
    at_ = end + 1;
    return true;
  }

  // The next byte; false when every byte has been read.
  bool next_byte(int *byte) {
    if (at_ >= bytes_.size()) return false;
    *byte = static_cast<unsigned char>(bytes_[at_++]);
    return true;
  }

private:
  std::string bytes_;
  std::size_t at_ = 0;
};

// A pty master with its slave's path.
struct pty_pair {
  int master = -1;
  std::string slave;

  bool open_pair() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return false;
    const char *name = ptsname(master);
    if (name == nullptr) return false;
    slave = name;
    return true;
  }
  void send(const std::string &bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = write(master, bytes.data() + sent, bytes.size() - sent);
      if (n < 0 && errno == EINTR) continue;
      FUZZ_CHECK(n > 0);
      sent += static_cast<std::size_t>(n);
    }
  }
  void hang_up() {
    if (master >= 0) close(master);
    master = -1;
  }
  ~pty_pair() { hang_up(); }
};

// rs_gets into a buffer of exactly size bytes (ASan sees any write past it),
// checked against the splitter. False when the splitter has no line ready.
bool check_gets(reference_splitter &reference, int size) {
  std::string expected;
  if (!reference.next_line(size, &expected)) return false;
  std::unique_ptr<char[]> buffer(new char[static_cast<std::size_t>(size)]);
  const int result = rs_gets(port, buffer.get(), size);
  FUZZ_CHECK(result == static_cast<int>(expected.size()));
  FUZZ_CHECK(std::memcmp(buffer.get(), expected.data(), expected.size()) == 0);
  FUZZ_CHECK(buffer[expected.size()] == '\0');
  return true;
}

bool check_getch(reference_splitter &reference) {
  int expected = 0;
  if (!reference.next_byte(&expected)) return false;
  FUZZ_CHECK(rs_getch(port) == expected);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  fuzz_input in(data, size);
  const int flags = in.byte();
  const std::string operations = in.bytes(static_cast<std::size_t>(in.byte()));
  const std::string sent = in.bytes(size);

  pty_pair pty;
  FUZZ_CHECK(pty.open_pair());
  FUZZ_CHECK(rs_open_node(port, pty.slave.c_str(), 9600) == 0);
  pty.send(sent);
  reference_splitter reference(sent);

  // The operations the input asks for, as long as what they need was sent.
  for (const char op : operations) {
    const auto code = static_cast<unsigned char>(op);
    const bool done = code < 200 ? check_gets(reference, 1 + code % 100) : check_getch(reference);
    if (!done) break;
  }
  // Then every further line, and the bytes of an unfinished last line: the
  // whole stream comes through, nothing lost or repeated.
  while (check_gets(reference, 100)) {
  }
  while (check_getch(reference)) {
  }

  if ((flags & 1) != 0) {
    pty.hang_up();
    if ((flags & 2) != 0) {
      FUZZ_CHECK(rs_getch(port) == rs_gone);
    } else {
      char line[16];
      FUZZ_CHECK(rs_gets(port, line, sizeof line) == rs_gone);
      FUZZ_CHECK(line[0] == '\0');
    }
  }
  FUZZ_CHECK(rs_close(port) == 0);
  return 0;
}
