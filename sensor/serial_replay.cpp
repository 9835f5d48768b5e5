// SPDX-License-Identifier: MIT
#include "serial_replay.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "rs232.h"
#include "serial_recording.h"

namespace {

constexpr long max_recording_bytes = 256L * 1024 * 1024;

// One recorded reply chunk and what lets it go.
struct reply_chunk {
  std::string bytes;
  long long written_before;  // bytes the program wrote before it in the recording
  long long delay_ms;        // after the last of those writes (or the open), recorded
};

struct replay_state {
  std::vector<reply_chunk> replies;
  std::size_t next = 0;    // the next reply chunk
  std::size_t offset = 0;  // of its bytes already handed out
  bool fast = false;
  long long opened_ms = 0;
  long long written = 0;  // bytes the program wrote so far
  // Program writes not yet matched to a reply: total written after each
  // and when, so that a reply's delay counts from the write that let it go.
  std::vector<std::pair<long long, long long>> writes;
  std::size_t first_write = 0;  // writes before it are matched already
  bool ran_out = false;
  bool open = false;
};

replay_state replay;

// Builds the reply chunks from the recording's chunks.
struct loader {
  std::vector<reply_chunk> *replies;
  long long written = 0;
  long long last_write_ms = 0;
};

void take_event(void *context, const recording_event &event) {
  loader &load = *static_cast<loader *>(context);
  if (event.direction == 'w') {
    load.written += event.size;
    load.last_write_ms = event.ms;
    return;
  }
  load.replies->push_back({std::string(reinterpret_cast<const char *>(event.bytes),
                                       static_cast<std::size_t>(event.size)),
                           load.written, event.ms - load.last_write_ms});
}

bool read_file(const char *path, std::string *text, char *why, std::size_t why_size) {
  std::FILE *file = std::fopen(path, "rb");
  if (file == nullptr) {
    std::snprintf(why, why_size, "cannot read the recording %s: %s", path, std::strerror(errno));
    return false;
  }
  char buffer[8192];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    text->append(buffer, got);
    if (text->size() > static_cast<std::size_t>(max_recording_bytes)) {
      std::snprintf(why, why_size, "%s is too large for a recording", path);
      static_cast<void>(std::fclose(file));  // read only
      return false;
    }
  }
  const bool failed = std::ferror(file) != 0;
  static_cast<void>(std::fclose(file));  // read only
  if (failed) std::snprintf(why, why_size, "cannot read the recording %s", path);
  return !failed;
}

// When the next reply may go, on rs_clock_ms(); -1 while the program has
// not yet written what comes before it.
long long release_ms(void) {
  const reply_chunk &reply = replay.replies[replay.next];
  if (replay.written < reply.written_before) return -1;
  long long anchor = replay.opened_ms;
  if (reply.written_before > 0) {
    // The write that brought the count to what the reply waits for.
    std::size_t &first = replay.first_write;
    while (first < replay.writes.size() && replay.writes[first].first < reply.written_before) {
      ++first;
    }
    if (first < replay.writes.size()) anchor = replay.writes[first].second;
  }
  return replay.fast ? anchor : anchor + reply.delay_ms;
}

int read_replay(void * /*context*/, unsigned char *bytes, int size, int wait_ms) {
  if (!replay.open) return rs_gone;
  const long long deadline = rs_clock_ms() + wait_ms;
  for (;;) {
    if (replay.next >= replay.replies.size()) {
      replay.ran_out = true;
      return rs_woken;
    }
    const long long release = release_ms();
    const long long now = rs_clock_ms();
    if (release >= 0 && release <= now) break;
    if (now >= deadline) return rs_timeout;
    const long long until = release >= 0 && release < deadline ? release : deadline;
    if (rs_sleep(static_cast<int>(until - now)) == rs_woken) return rs_woken;
  }
  const reply_chunk &reply = replay.replies[replay.next];
  const std::size_t left = reply.bytes.size() - replay.offset;
  const std::size_t count =
      left < static_cast<std::size_t>(size) ? left : static_cast<std::size_t>(size);
  std::memcpy(bytes, reply.bytes.data() + replay.offset, count);
  replay.offset += count;
  if (replay.offset == reply.bytes.size()) {
    ++replay.next;
    replay.offset = 0;
    // The last reply is out: the run can end once its caller has taken it,
    // without waiting for a reply that will not come.
    replay.ran_out = replay.next >= replay.replies.size();
  }
  return static_cast<int>(count);
}

int write_replay(void * /*context*/, const unsigned char * /*bytes*/, int size, int /*wait_ms*/) {
  if (!replay.open) return rs_gone;
  replay.written += size;
  // Matched writes are dropped now and then, so that a long run stays small.
  if (replay.first_write > 1024) {
    replay.writes.erase(replay.writes.begin(),
                        replay.writes.begin() + static_cast<long>(replay.first_write));
    replay.first_write = 0;
  }
  replay.writes.emplace_back(replay.written, rs_clock_ms());
  return 0;
}

void close_replay(void * /*context*/) {
  replay.open = false;
  replay.replies.clear();
  replay.writes.clear();
  replay.first_write = 0;
}

}  // namespace

int replay_open(const char *path, bool fast, serial_transport *transport, char *why,
                std::size_t why_size) {
  std::string text;
  if (!read_file(path, &text, why, why_size)) return -1;
  replay = replay_state{};
  loader load{&replay.replies};
  long bad_line = 0;
  if (!recording_parse(text.data(), text.size(), take_event, &load, &bad_line)) {
    if (bad_line == 1) {
      std::snprintf(why, why_size, "%s is not a recording (its first line is not \"%s\")", path,
                    recording_header);
    } else {
      std::snprintf(why, why_size, "%s is not a recording: line %ld is malformed", path, bad_line);
    }
    replay.replies.clear();
    return -1;
  }
  replay.fast = fast;
  replay.opened_ms = rs_clock_ms();
  replay.open = true;
  replay.ran_out = replay.replies.empty();
  *transport = serial_transport{read_replay, write_replay, close_replay, &replay};
  return 0;
}

bool replay_ran_out(void) { return replay.ran_out; }
