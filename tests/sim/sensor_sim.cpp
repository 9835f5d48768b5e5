// SPDX-License-Identifier: MIT
#include "sensor_sim.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace {

constexpr std::size_t max_command_length = 4096;
const char *const opening_sequence[] = {"0F", "050027950000", "0DF3", "27", "21"};
constexpr std::size_t opening_length = sizeof opening_sequence / sizeof opening_sequence[0];
constexpr auto peer_retry = std::chrono::milliseconds(10);

timespec to_timespec(sim_clock::duration d) {
  if (d < sim_clock::duration::zero()) d = sim_clock::duration::zero();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
  return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

// Closes the pty master behind fd, which hangs the port up, while fd stays a
// valid descriptor (of /dev/null) for its owner to close: a umockdev test bed
// closes the masters it handed out when it goes away.
void hang_up(int fd) {
  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd < 0) {
    close(fd);
    return;
  }
  dup2(null_fd, fd);
  close(null_fd);
}

// Plays the module on one fd; see sim_play.
class player {
public:
  player(int fd, const sim_options &options, sim_log *log, int stop_fd)
      : fd_(fd),
        options_(options),
        log_(log),
        stop_fd_(stop_fd),
        chip_(options.ftdi, sim_clock::now()) {}

  sim_end run();

private:
  enum class step { go_on, stopped, hung_up_by_us, write_failed };

  bool stop_requested();
  bool sleep_until(sim_clock::time_point until);
  bool sleep_ms(int ms) {
    return ms <= 0 || sleep_until(sim_clock::now() + std::chrono::milliseconds(ms));
  }
  bool wait_writable();
  step write_once(const char *data, std::size_t size, std::size_t &taken);
  step send(const std::string &bytes);
  step send_through_chip(const std::string &bytes);
  step chip_sends(std::string &held, sim_clock::time_point at);
  step take_bytes(const char *bytes, std::size_t count, sim_clock::time_point read_at);
  step answer(const std::string &command, sim_clock::time_point received);
  step send_line(std::string bytes, bool paced_drip);
  step flush_trailer();
  step send_due(sim_clock::time_point now);
  int ms_to_next_due(sim_clock::time_point now) const;
  bool reset_answer(const std::string &command);
  sim_reply next_sample();

  int fd_;
  const sim_options &options_;
  sim_log *log_;
  int stop_fd_;
  std::string line_;
  sim_clock::time_point wire_in_{};   // when the last byte from the peer ended on the wire
  sim_clock::time_point wire_out_{};  // when our last byte ended on the wire
  std::size_t next_sample_ = 0;
  int samples_sent_ = 0;
  ftdi_release chip_;
  int commands_answered_ = 0;
  std::string pending_trailer_;  // sent at trailer_due_, or before anything else
  sim_clock::time_point trailer_due_{};
  sim_clock::time_point next_chatter_{};
  sim_clock::time_point next_stream_{};
  bool timers_started_ = false;
  bool reset_ = false;  // answering ERR until the opening comes
  bool reset_done_ = false;
  std::size_t opening_seen_ = 0;  // commands of the opening received in order
};

// The trailer held back (a late USB packet) goes out before anything else.
player::step player::flush_trailer() {
  if (pending_trailer_.empty()) return step::go_on;
  const std::string trailer = pending_trailer_;
  pending_trailer_.clear();
  return send(trailer);
}

// One line with its end, then the trailer: at once, or held back for its
// delay (and sent earlier if more bytes follow first).
player::step player::send_line(std::string bytes, bool line_ended) {
  step sent = flush_trailer();
  if (sent != step::go_on) return sent;
  const bool trailer = line_ended && options_.trailer >= 0;
  if (trailer && options_.trailer_delay_ms == 0) bytes += static_cast<char>(options_.trailer);
  if (options_.drip_ms > 0) {
    for (std::size_t i = 0; i < bytes.size() && sent == step::go_on; ++i) {
      if (!sleep_ms(options_.drip_ms)) return step::stopped;
      sent = send(bytes.substr(i, 1));
    }
  } else {
    sent = send(bytes);
  }
  if (sent == step::go_on && trailer && options_.trailer_delay_ms > 0) {
    pending_trailer_ = std::string(1, static_cast<char>(options_.trailer));
    trailer_due_ = sim_clock::now() + std::chrono::milliseconds(options_.trailer_delay_ms);
  }
  return sent;
}

sim_reply player::next_sample() {
  return options_.samples.empty() ? sim_fields(0, 0, 0, 0, 0, 0)
                                  : options_.samples[next_sample_++ % options_.samples.size()];
}

// Milliseconds until the held trailer, a chatter line or a streamed sample
// is due; -1 when nothing is.
int player::ms_to_next_due(sim_clock::time_point now) const {
  sim_clock::time_point due = sim_clock::time_point::max();
  if (!pending_trailer_.empty()) due = trailer_due_;
  if (timers_started_ && options_.chatter_ms > 0) due = std::min(due, next_chatter_);
  if (timers_started_ && options_.stream_ms > 0) due = std::min(due, next_stream_);
  if (due == sim_clock::time_point::max()) return -1;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
  return left < 0 ? 0 : static_cast<int>(left) + 1;
}

player::step player::send_due(sim_clock::time_point now) {
  if (!pending_trailer_.empty() && now >= trailer_due_) {
    const step sent = flush_trailer();
    if (sent != step::go_on) return sent;
  }
  if (!timers_started_) return step::go_on;
  if (options_.chatter_ms > 0 && now >= next_chatter_) {
    next_chatter_ = now + std::chrono::milliseconds(options_.chatter_ms);
    const step sent = send_line(options_.chatter_text + options_.line_end, true);
    if (sent != step::go_on) return sent;
  }
  if (options_.stream_ms > 0 && now >= next_stream_) {
    next_stream_ = now + std::chrono::milliseconds(options_.stream_ms);
    const step sent = send_line(next_sample().text + options_.line_end, true);
    if (sent != step::go_on) return sent;
  }
  return step::go_on;
}

// While reset: true (answer ERR) until the whole opening has come in order.
bool player::reset_answer(const std::string &command) {
  if (!reset_) return false;
  if (command == opening_sequence[opening_seen_]) {
    ++opening_seen_;
  } else {
    opening_seen_ = command == opening_sequence[0] ? 1 : 0;
  }
  if (opening_seen_ < opening_length) return true;
  reset_ = false;
  return false;
}

bool player::stop_requested() {
  if (stop_fd_ < 0) return false;
  pollfd entry{stop_fd_, POLLIN, 0};
  return poll(&entry, 1, 0) > 0;
}

// Sleeps until the given time unless a stop is requested first.
bool player::sleep_until(sim_clock::time_point until) {
  for (;;) {
    const auto left = until - sim_clock::now();
    if (left <= sim_clock::duration::zero()) return !stop_requested();
    const timespec wait = to_timespec(left);
    if (stop_fd_ < 0) {
      nanosleep(&wait, nullptr);
      continue;
    }
    pollfd entry{stop_fd_, POLLIN, 0};
    const int ready = ppoll(&entry, 1, &wait, nullptr);
    if (ready > 0) return false;
  }
}

bool player::wait_writable() {
  pollfd entries[2] = {{fd_, POLLOUT, 0}, {stop_fd_, POLLIN, 0}};
  for (;;) {
    const int ready = poll(entries, stop_fd_ < 0 ? 1 : 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || entries[1].revents != 0) return false;
    if (entries[0].revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    return true;
  }
}

// Writes up to size bytes to the pty, waiting while it takes none; taken
// says how many it took.
player::step player::write_once(const char *data, std::size_t size, std::size_t &taken) {
  for (;;) {
    const ssize_t written = write(fd_, data, size);
    if (written > 0) {
      taken = static_cast<std::size_t>(written);
      return step::go_on;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written >= 0 || errno != EAGAIN) return step::write_failed;
    if (!wait_writable()) return stop_requested() ? step::stopped : step::write_failed;
  }
}

// Writes bytes, one per byte time when paced.
player::step player::send(const std::string &bytes) {
  if (options_.ftdi.enabled) return send_through_chip(bytes);
  // A burst goes out back to back from when the line is free: each byte ends
  // one byte time after the previous, however late a wake-up came, so that
  // oversleeping never stretches the wire.
  if (options_.pace) {
    const auto now = sim_clock::now();
    if (wire_out_ < now) wire_out_ = now;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    std::size_t chunk = bytes.size() - done;
    if (options_.pace) {
      if (!sleep_until(wire_out_ + sim_byte_time)) return step::stopped;
      chunk = 1;
    }
    std::size_t taken = 0;
    const step wrote = write_once(bytes.data() + done, chunk, taken);
    if (wrote != step::go_on) return wrote;
    done += taken;
    if (options_.pace) wire_out_ += sim_byte_time;
  }
  return step::go_on;
}

// The bytes leave the line into the chip, one per byte time when paced, and
// reach the host when the chip sends what it holds (ftdi_release).
player::step player::send_through_chip(const std::string &bytes) {
  chip_.read_latency();
  auto last_in = sim_clock::now();
  if (options_.pace && wire_out_ < last_in) wire_out_ = last_in;
  std::string held;
  for (const char byte : bytes) {
    const auto at = options_.pace ? wire_out_ + sim_byte_time : sim_clock::now();
    if (!held.empty() && chip_.next_expiry(last_in) < at) {
      const step sent = chip_sends(held, chip_.next_expiry(last_in));
      if (sent != step::go_on) return sent;
    }
    if (!sleep_until(at)) return step::stopped;
    if (options_.pace) wire_out_ = at;
    last_in = at;
    held += byte;
    if (chip_.take(byte)) {
      const step sent = chip_sends(held, at);
      if (sent != step::go_on) return sent;
    }
  }
  return held.empty() ? step::go_on : chip_sends(held, chip_.next_expiry(last_in));
}

// At `at`, the chip sends the host what it holds.
player::step player::chip_sends(std::string &held, sim_clock::time_point at) {
  if (!sleep_until(at)) return step::stopped;
  std::size_t done = 0;
  while (done < held.size()) {
    std::size_t taken = 0;
    const step wrote = write_once(held.data() + done, held.size() - done, taken);
    if (wrote != step::go_on) return wrote;
    done += taken;
  }
  held.clear();
  chip_.sent(at);
  return step::go_on;
}

player::step player::answer(const std::string &command, sim_clock::time_point received) {
  const sim_command record{command, received};
  if (log_ != nullptr) log_->add_command(record);
  if (options_.on_command) options_.on_command(record);
  if (options_.pace && !sleep_until(received)) return step::stopped;
  if (options_.silent) return step::go_on;
  if (options_.answer_first >= 0 && commands_answered_ >= options_.answer_first) {
    return step::go_on;
  }
  ++commands_answered_;

  sim_reply reply{command, true, 0};
  if (!reset_done_ && options_.reset_after_samples >= 0 &&
      samples_sent_ >= options_.reset_after_samples) {
    reset_ = reset_done_ = true;
  }
  const bool reset = reset_answer(command);
  const bool sample = command == "29" && !reset;
  if (reset) reply = sim_raw("ERR");
  if (sample) {
    if (options_.hang_up_after_samples >= 0 && samples_sent_ >= options_.hang_up_after_samples) {
      hang_up(fd_);
      return step::hung_up_by_us;
    }
    reply = next_sample();
  }
  if (!sleep_ms(options_.reply_delay_ms + reply.delay_ms)) return step::stopped;
  std::string bytes = options_.echo ? command + reply.text : reply.text;
  if (reply.line_end) bytes += options_.line_end;
  const step sent = send_line(bytes, reply.line_end);
  if (sent == step::go_on && sample) {
    ++samples_sent_;
    if (log_ != nullptr) log_->count_sample();
  }
  return sent;
}

// Splits what arrived into command lines (LF ends one, CR is dropped) and
// answers each. When paced, a byte arrives one byte time after the previous.
player::step player::take_bytes(const char *bytes, std::size_t count,
                                sim_clock::time_point read_at) {
  for (std::size_t i = 0; i < count; ++i) {
    wire_in_ = (wire_in_ > read_at ? wire_in_ : read_at) + sim_byte_time;
    const char byte = bytes[i];
    if (byte == '\n') {
      const std::string command = line_;
      line_.clear();
      const step answered = answer(command, options_.pace ? wire_in_ : read_at);
      if (answered != step::go_on) return answered;
    } else if (byte != '\r' && line_.size() < max_command_length) {
      line_ += byte;
    }
  }
  return step::go_on;
}

sim_end player::run() {
  bool peer_seen = false;
  char buffer[512];
  for (;;) {
    pollfd entries[2] = {{fd_, POLLIN, 0}, {stop_fd_, POLLIN, 0}};
    const int ready = poll(entries, stop_fd_ < 0 ? 1 : 2, ms_to_next_due(sim_clock::now()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return sim_end::failed;
    }
    if (ready == 0) {
      if (send_due(sim_clock::now()) == step::go_on) continue;
      if (stop_requested()) return sim_end::stopped;
      // A failed write: the peer went away; the read below tells.
    }
    if (entries[1].revents != 0) return sim_end::stopped;
    if (entries[0].revents & POLLNVAL) return sim_end::failed;
    if (entries[0].revents & POLLIN) {
      const ssize_t count = read(fd_, buffer, sizeof buffer);
      if (count > 0) {
        peer_seen = true;
        if (!timers_started_) {
          // Chatter and streaming begin once the peer speaks: before, the
          // port would drop them anyway.
          timers_started_ = true;
          next_chatter_ = next_stream_ = sim_clock::now();
        }
        switch (take_bytes(buffer, static_cast<std::size_t>(count), sim_clock::now())) {
          case step::go_on: continue;
          case step::stopped: return sim_end::stopped;
          case step::hung_up_by_us: return sim_end::hung_up_by_us;
          case step::write_failed: break;  // the peer went away while we answered
        }
      } else if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
        continue;
      }
    }
    // The slave side is not open: either the peer has not opened it yet, or
    // it has closed it again.
    if (peer_seen && options_.end_on_hangup) return sim_end::peer_hung_up;
    peer_seen = false;
    timers_started_ = false;
    pending_trailer_.clear();
    line_.clear();
    if (!sleep_until(sim_clock::now() + peer_retry)) return sim_end::stopped;
  }
}

}  // namespace

sim_reply sim_fields(uint16_t f1, uint16_t f2, uint16_t f3, uint16_t f4, uint16_t f5, uint16_t f6) {
  char text[32];
  std::snprintf(text, sizeof text, "%04X%04X%04X%04X%04X%04X", f1, f2, f3, f4, f5, f6);
  return sim_reply{text, true, 0};
}

sim_reply sim_raw(std::string text, bool line_end, int delay_ms) {
  return sim_reply{std::move(text), line_end, delay_ms};
}

void sim_log::add_command(const sim_command &command) {
  std::lock_guard<std::mutex> lock(mutex_);
  commands_.push_back(command);
  changed_.notify_all();
}

void sim_log::count_sample() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++samples_sent_;
}

std::vector<sim_command> sim_log::commands() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return commands_;
}

int sim_log::samples_sent() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return samples_sent_;
}

bool sim_log::wait_for_commands(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return commands_.size() >= count; });
}

sim_end sim_play(int fd, const sim_options &options, sim_log *log, int stop_fd) {
  return player(fd, options, log, stop_fd).run();
}

sensor_sim::sensor_sim(int master_fd, sim_options options) : options_(std::move(options)) {
  if (pipe2(stop_pipe_, O_CLOEXEC) != 0) {
    end_ = sim_end::failed;
    return;
  }
  thread_ = std::thread(
      [this, master_fd] { end_ = sim_play(master_fd, options_, &log_, stop_pipe_[0]); });
}

sensor_sim::~sensor_sim() {
  stop();
  for (int fd : stop_pipe_) {
    if (fd >= 0) close(fd);
  }
}

void sensor_sim::stop() {
  if (!thread_.joinable()) return;
  const char byte = 's';
  while (write(stop_pipe_[1], &byte, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
}

sim_end sensor_sim::end() const { return end_; }
