// SPDX-License-Identifier: MIT
// A simulator of the six-axis sensor module for tests, demos and benchmarks.
// It plays the module on the master side of a pty (its own, or the one a
// umockdev test bed gives for a fake adapter): it reads command lines ended
// by CR LF and answers each with one line and CR LF. A sample request "29"
// gets the next reply of a script (used in turn, then from the start again);
// any other command gets its own text back.
//
// It can pace its bytes at 9600 baud 8N1 in both directions, stay silent
// (from the start or after some commands), answer late, drip its bytes
// slowly, end its lines with CR or LF alone, echo each command in front of
// its reply, send any bytes as a reply (garbage, short or over-long lines,
// no line end), and hang up. It can also follow each line end with a trailer
// byte (a prompt, a pad), which may reach the host late (never after what
// follows it); send a line of its own every so often (chatter) or samples
// nobody asked for (streaming); and, after some samples, lose its settings
// and answer ERR to everything until it gets the opening sequence again.
// It records every command it received, with the time it was received.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ftdi_release.h"

using sim_clock = std::chrono::steady_clock;

// Time of one byte on a 9600 baud 8N1 line (start, 8 data, stop bit).
constexpr std::chrono::nanoseconds sim_byte_time{1041667};

// One reply to a sample request.
struct sim_reply {
  std::string text;      // the bytes of the reply line, without its end
  bool line_end = true;  // followed by CR LF
  int delay_ms = 0;      // extra wait before this reply
};

// A well-formed sample reply: the six 16-bit fields as 24 upper-case hex digits.
sim_reply sim_fields(uint16_t f1, uint16_t f2, uint16_t f3, uint16_t f4, uint16_t f5, uint16_t f6);

// A reply of any text (garbage, short or over-long lines).
sim_reply sim_raw(std::string text, bool line_end = true, int delay_ms = 0);

// A command as the module received it.
struct sim_command {
  std::string text;                // without its CR LF
  sim_clock::time_point received;  // when its last byte arrived (after its wire time when paced)
};

struct sim_options {
  std::vector<sim_reply> samples;  // replies to "29" in turn, cycling; none: 24 zeros
  bool pace = false;               // 9600 baud 8N1 in both directions
  bool silent = false;             // record the commands, never answer
  int reply_delay_ms = 0;          // wait before every reply
  std::string line_end = "\r\n";   // what ends every reply line
  int trailer = -1;                // a byte after every line end (-1: none)
  int trailer_delay_ms = 0;        // the trailer reaches the host this much later
  int chatter_ms = 0;              // a line of chatter_text every chatter_ms (0: never)
  std::string chatter_text = "STATUS OK";
  int stream_ms = 0;  // the next sample unasked every stream_ms (0: never)
  // After this many samples, answer ERR to everything until the opening
  // sequence has been received again. Negative: never.
  int reset_after_samples = -1;
  int drip_ms = 0;    // wait before each byte of a reply
  bool echo = false;  // every reply starts with its command's text
  // Answer this many commands, then stay silent. Negative: answer all.
  int answer_first = -1;
  // Answer this many sample requests, then hang up when the next one
  // arrives: the pty master closes and fd is left open on /dev/null, for its
  // owner to close as usual. Negative: never.
  int hang_up_after_samples = -1;
  // When the peer hangs up after it has sent something: true ends the play,
  // false waits for the next peer (for peers that open the port repeatedly).
  bool end_on_hangup = true;
  // Replies pass through a model of an FTDI chip's release of received
  // bytes (latency timer, event character) on their way to the host.
  ftdi_release_options ftdi;
  // Called on the playing thread for every command received.
  std::function<void(const sim_command &)> on_command;
};

// What a play has seen so far; safe to read from other threads.
class sim_log {
public:
  void add_command(const sim_command &command);
  void count_sample();
  std::vector<sim_command> commands() const;
  int samples_sent() const;
  // Waits until at least count commands were received; false on timeout.
  bool wait_for_commands(std::size_t count, std::chrono::milliseconds timeout) const;

private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<sim_command> commands_;
  int samples_sent_ = 0;
};

enum class sim_end {
  stopped,        // stop_fd became readable
  peer_hung_up,   // the peer closed its end (end_on_hangup)
  hung_up_by_us,  // hang_up_after_samples reached; fd now refers to /dev/null
  failed          // fd is not usable
};

// Plays the module on fd until stop_fd (a pipe's read end, or -1 for none)
// becomes readable, the peer hangs up, or the script hangs up. Before the
// peer has opened its end, hang-ups are waited out. fd stays the caller's to
// close. log may be null.
sim_end sim_play(int fd, const sim_options &options, sim_log *log, int stop_fd);

// The simulator on a thread of its own, from construction to destruction.
class sensor_sim {
public:
  sensor_sim(int master_fd, sim_options options);
  ~sensor_sim();
  sensor_sim(const sensor_sim &) = delete;
  sensor_sim &operator=(const sensor_sim &) = delete;

  // Stops the play and waits for it; safe to call twice.
  void stop();
  // How the play ended; meaningful after stop() or once it ended by itself
  // (stopped while it is still playing).
  sim_end end() const;
  const sim_log &log() const { return log_; }

private:
  sim_options options_;
  sim_log log_;
  int stop_pipe_[2] = {-1, -1};
  std::atomic<sim_end> end_{sim_end::stopped};
  std::thread thread_;
};
