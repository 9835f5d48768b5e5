// SPDX-License-Identifier: MIT
// Fuzz target: the line reader both serial layers share (line_reader.h),
// over a byte source that hands out the fuzzer's bytes in chunks, with
// silences and the port going away between them, on a fake clock. Every
// result is compared with a plain reading of the same stream: each line fits
// its buffer (sizes 1 to 100), an over-long line is dropped to its end, an
// LF after a CR is that line's end, and every byte the source handed out is
// accounted for: delivered, dropped as the end of an over-long line, a line
// end, or still waiting in the reader.
//
// Input: a count of operations and that many operation bytes (below 150:
// rs_gets with a buffer of 1 + byte % 100; else rs_getch, waiting or not),
// then the stream: 0xFF starts an event (next byte % 4: 0 silence, 1 the
// port gone, 2 a literal 0xFF, 3 a chunk boundary); bytes between events come
// in chunks of at most 7.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "line_reader.h"
#include "rs232.h"

namespace {

long long fake_now = 0;

// One item of the stream: a chunk of bytes, a silence or the port gone.
struct item {
  enum kind_t { chunk, silence, gone } kind;
  std::string bytes;
};

struct fake_source_state {
  std::vector<item> items;
  std::size_t at = 0;      // next item
  std::size_t offset = 0;  // bytes of items[at] already handed out
  std::size_t handed_out = 0;
};

fake_source_state state;

int read_items(void *, unsigned char *bytes, int size, int wait_ms) {
  FUZZ_CHECK(size > 0 && wait_ms >= 0);
  if (state.at >= state.items.size()) {
    fake_now += wait_ms;
    return rs_timeout;
  }
  item &next = state.items[state.at];
  if (next.kind == item::gone) return rs_gone;
  if (next.kind == item::silence) {
    ++state.at;
    fake_now += wait_ms;
    return rs_timeout;
  }
  const std::size_t left = next.bytes.size() - state.offset;
  const std::size_t count = left < static_cast<std::size_t>(size) ? left : size;
  std::memcpy(bytes, next.bytes.data() + state.offset, count);
  state.offset += count;
  state.handed_out += count;
  if (state.offset == next.bytes.size()) {
    ++state.at;
    state.offset = 0;
  }
  return static_cast<int>(count);
}

// The same stream read plainly, one byte at a time.
class reference_reader {
public:
  explicit reference_reader(const std::vector<item> &items) : items_(items) {}

  // The next byte, or the event in its place (rs_timeout consumes a silence).
  int next() {
    for (;;) {
      if (at_ >= items_.size()) return rs_timeout;
      const item &i = items_[at_];
      if (i.kind == item::gone) return rs_gone;
      if (i.kind == item::silence) {
        ++at_;
        return rs_timeout;
      }
      if (offset_ < i.bytes.size()) return static_cast<unsigned char>(i.bytes[offset_++]);
      ++at_;
      offset_ = 0;
    }
  }

  int gets(int size, std::string *stored, std::size_t *dropped) {
    stored->clear();
    *dropped = 0;
    for (;;) {
      const int byte = next();
      if (byte < 0) return byte;
      const bool paired = byte == '\n' && after_cr_;
      after_cr_ = byte == '\r';
      if (paired) {
        ++accounted_;
        continue;
      }
      ++accounted_;
      if (byte == '\r' || byte == '\n') {
        line_end_ = byte;
        return static_cast<int>(stored->size());
      }
      if (static_cast<int>(stored->size()) < size - 1) {
        *stored += static_cast<char>(byte);
      } else {
        ++*dropped;
      }
    }
  }

  int getch() {
    const int byte = next();
    if (byte >= 0) {
      after_cr_ = false;
      ++accounted_;
    }
    return byte;
  }

  std::size_t accounted() const { return accounted_; }
  int line_end() const { return line_end_; }

private:
  const std::vector<item> &items_;
  std::size_t at_ = 0;
  std::size_t offset_ = 0;
  bool after_cr_ = false;
  int line_end_ = 0;
  std::size_t accounted_ = 0;  // bytes read, whatever became of them
};

std::vector<item> parse_stream(fuzz_input &in) {
  std::vector<item> items;
  std::string chunk;
  auto flush = [&] {
    if (!chunk.empty()) items.push_back({item::chunk, chunk});
    chunk.clear();
  };
  while (!in.empty()) {
    const int byte = in.byte();
    if (byte == 0xFF) {
      const int kind = in.byte() % 4;
      if (kind == 2) {
        chunk += '\xff';
      } else {
        flush();
        if (kind == 0) items.push_back({item::silence, ""});
        if (kind == 1) items.push_back({item::gone, ""});
      }
    } else {
      chunk += static_cast<char>(byte);
    }
    if (chunk.size() == 7) flush();
  }
  flush();
  return items;
}

}  // namespace

long long rs_clock_ms(void) { return fake_now; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  fuzz_input in(data, size);
  const std::string operations = in.bytes(static_cast<std::size_t>(in.byte()));
  state = fake_source_state{};
  state.items = parse_stream(in);
  fake_now = 0;

  line_reader reader{};
  const serial_byte_source source{read_items, nullptr};
  reference_reader reference(state.items);

  // The operations the input asks for, then lines until the stream ends.
  std::string all = operations;
  all.append(64, '\x63');  // rs_gets with a buffer of 100
  for (const char op : all) {
    const auto code = static_cast<unsigned char>(op);
    int result = 0;
    if (code < 150) {
      const int buffer_size = 1 + code % 100;
      std::unique_ptr<char[]> buffer(new char[static_cast<std::size_t>(buffer_size)]);
      std::string expected;
      std::size_t dropped = 0;
      const int wanted = reference.gets(buffer_size, &expected, &dropped);
      result = line_reader_gets(&reader, &source, buffer.get(), buffer_size, 1000);
      FUZZ_CHECK(result == wanted);
      const std::size_t stored = std::strlen(buffer.get());
      FUZZ_CHECK(stored < static_cast<std::size_t>(buffer_size));
      if (result >= 0) {
        FUZZ_CHECK(std::string(buffer.get(), static_cast<std::size_t>(result)) == expected);
        FUZZ_CHECK(buffer[static_cast<std::size_t>(result)] == '\0');
        FUZZ_CHECK(reader.line_end == reference.line_end());
      } else {
        // What arrived of an unfinished line is kept, as far as it fits.
        FUZZ_CHECK(std::memcmp(buffer.get(), expected.data(), stored) == 0);
      }
    } else {
      // A byte that has arrived is taken even without a wait.
      result = line_reader_getch(&reader, &source, code % 2 == 0 ? 0 : 1000);
      FUZZ_CHECK(result == reference.getch());
    }
    // Every byte handed out is accounted for, or waits in the reader.
    const std::size_t waiting = static_cast<std::size_t>(reader.tail - reader.head);
    FUZZ_CHECK(reader.head >= 0 && reader.head <= reader.tail &&
               reader.tail <= line_reader_buffer_size);
    FUZZ_CHECK(state.handed_out == reference.accounted() + waiting);
    if (result == rs_gone) {
      // Gone stays gone.
      char line[8];
      FUZZ_CHECK(line_reader_gets(&reader, &source, line, sizeof line, 1000) == rs_gone);
      break;
    }
  }
  return 0;
}
