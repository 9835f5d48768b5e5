// SPDX-License-Identifier: MIT
// Fuzz target: the reader of recordings, which come from other people's
// machines. The input is a recording's text, any bytes. The oracle: a
// reference reading of the format, written here from its description
// (serial_recording.h) and not from the reader, must agree with the reader
// on whether the text is a recording, on the first line that is not, and on
// every chunk before it (time, direction, bytes). Every chunk read is also
// written back in the format and read again, unchanged; and the input's
// first bytes, as a chunk, go through writer and reader unchanged.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "serial_recording.h"

namespace {

struct chunk {
  long long ms;
  char direction;
  std::string bytes;
  bool operator==(const chunk &other) const {
    return ms == other.ms && direction == other.direction && bytes == other.bytes;
  }
};

void collect(void *context, const recording_event &event) {
  static_cast<std::vector<chunk> *>(context)->push_back(
      {event.ms, event.direction,
       std::string(reinterpret_cast<const char *>(event.bytes),
                   static_cast<std::size_t>(event.size))});
}

int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The format as described: "MS D BYTES", MS digits up to the limit, D r or
// w, BYTES at least one of: a printable character other than backslash,
// \r, \n, \\ or \xHH.
bool reference_line(const std::string &line, chunk *out) {
  std::size_t k = 0;
  long long ms = 0;
  while (k < line.size() && line[k] >= '0' && line[k] <= '9') {
    ms = ms * 10 + (line[k] - '0');
    if (ms > recording_max_ms) return false;
    ++k;
  }
  if (k == 0 || line.size() < k + 4 || line[k] != ' ' || line[k + 2] != ' ') return false;
  if (line[k + 1] != 'r' && line[k + 1] != 'w') return false;
  std::string bytes;
  for (std::size_t i = k + 3; i < line.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if (c == '\\') {
      const char kind = i + 1 < line.size() ? line[i + 1] : '\0';
      if (kind == 'r' || kind == 'n' || kind == '\\') {
        bytes += kind == 'r' ? '\r' : kind == 'n' ? '\n' : '\\';
        ++i;
      } else if (kind == 'x' && i + 3 < line.size() && hex(line[i + 2]) >= 0 &&
                 hex(line[i + 3]) >= 0) {
        bytes += static_cast<char>(hex(line[i + 2]) * 16 + hex(line[i + 3]));
        i += 3;
      } else {
        return false;
      }
    } else if (c >= 0x21 && c <= 0x7E) {
      bytes += static_cast<char>(c);
    } else {
      return false;
    }
  }
  *out = {ms, line[k + 1], bytes};
  return true;
}

// The whole text: the header line, then lines that are empty, comments or
// chunks with times that never decrease. The number of the first bad line,
// 0 when none.
long reference_read(const std::string &text, std::vector<chunk> *chunks) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  if (lines.empty()) return 1;
  long long last_ms = 0;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    std::string line = lines[n];
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (n == 0) {
      if (line != recording_header) return 1;
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    chunk c;
    if (line.size() > static_cast<std::size_t>(recording_max_line) || !reference_line(line, &c) ||
        c.ms < last_ms) {
      return static_cast<long>(n + 1);
    }
    last_ms = c.ms;
    chunks->push_back(c);
  }
  return 0;
}

// Writes c in the format (in chunks of the writer's size) and reads it back.
void check_round_trip(const chunk &c) {
  for (std::size_t at = 0; at < c.bytes.size(); at += recording_chunk_bytes) {
    const std::string part = c.bytes.substr(at, recording_chunk_bytes);
    char line[recording_max_line];
    const int length = recording_format_line(c.ms, c.direction,
                                             reinterpret_cast<const unsigned char *>(part.data()),
                                             static_cast<int>(part.size()), line, sizeof line);
    FUZZ_CHECK(length > 0 && static_cast<std::size_t>(length) == std::strlen(line));
    static recording_event event;
    FUZZ_CHECK(recording_parse_line(line, static_cast<std::size_t>(length), &event) ==
               recording_line_kind::event);
    FUZZ_CHECK(event.ms == c.ms && event.direction == c.direction);
    FUZZ_CHECK(std::string(reinterpret_cast<const char *>(event.bytes),
                           static_cast<std::size_t>(event.size)) == part);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  std::vector<chunk> got;
  long bad_line = 0;
  const bool ok = recording_parse(text.data(), text.size(), collect, &got, &bad_line);
  std::vector<chunk> expected;
  const long expected_bad = reference_read(text, &expected);
  FUZZ_CHECK(ok == (expected_bad == 0));
  if (!ok) FUZZ_CHECK(bad_line == expected_bad);
  FUZZ_CHECK(got == expected);
  for (const chunk &c : got) check_round_trip(c);

  // Any bytes as one chunk: written and read back unchanged.
  fuzz_input input(data, size);
  const long long ms = input.byte() * 1000003LL;
  const std::string bytes = input.bytes(recording_chunk_bytes);
  if (!bytes.empty()) check_round_trip({ms, (ms & 1) != 0 ? 'r' : 'w', bytes});
  return 0;
}
