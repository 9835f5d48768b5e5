// SPDX-License-Identifier: MIT
// The sensor link: finds the first FTDI-bus port, opens and initialises the
// module, and turns each request into one decoded sample.
//
// The module's bytes are read raw and cut into lines with the framing it has
// shown (line_framing.h); each line is matched to the request it answers
// (reply_matching.h). The link never waits for the line to fall quiet:
// - Every wait has a deadline, and ends at once when the serial layer
//   reports the port gone or a key (rs_woken).
// - A request's answer is due within a second. An answer given up on is
//   still owed: the next command waits until it has come (at most about a
//   second a call), so a late reply is never read as the answer to a later
//   command. After 2 s of silence nothing is owed any more: the module is
//   initialised again when it speaks.
// - The module is watched (module_watch.h): when it answers but sends no
//   sample for 2 s, or speaks after a silence of 2 s or more, the opening is
//   sent again and sampling goes on; what it does is told once per episode.
// - Once a serial call reports the port gone, the link stops using it.
#include "sensor_link.h"

#include <algorithm>
#include <cstring>

#include "line_framing.h"
#include "module_watch.h"
#include "port_device.h"
#include "reply_matching.h"
#include "rs232.h"
#include "sensor_link_start.h"

int32_t sensor_port = 0;

namespace {

constexpr int ftdi_bus_type = 2;
constexpr int32_t sensor_baud = 9600;
constexpr int request_ms = 1000;          // an answer is due within this
constexpr int follow_up_min_ms = 250;     // the follow-up's answer, at least
constexpr int other_line_grace_ms = 200;  // a sample still awaited after a line that was none
constexpr int owed_then_send_ms =
    250;  // longer waits for owed answers leave the command to the next call
// After a key, an exchange already under way gets this long to finish: an
// answering module's reply is on the wire by then, a silent one's never.
constexpr int key_grace_ms = 150;
// The rest of a line's end (its LF, its trailer) is waited for this long at
// close: a byte or two, released late by a USB adapter's latency timer.
constexpr int line_end_due_ms = 40;

const char *const opening_commands[] = {"0F\r\n", "050027950000\r\n", "0DF3\r\n", "27\r\n",
                                        "21\r\n"};
constexpr int opening_count =
    static_cast<int>(sizeof opening_commands / sizeof opening_commands[0]);
constexpr int pause_after_first_ms = 250;
constexpr int pause_after_last_ms = 100;
const char sample_command[] = "29\r\n";
const char follow_up_command[] = "21\r\n";

struct link_state {
  bool open;  // sensor_open opened port; sensor_close not yet called
  int16_t port;
  bool gone;      // a serial call reported the port gone
  bool opening;   // the opening is under way
  bool heal_due;  // the opening is to be sent again
  reply_kind awaited_kind;
  bool have_sample;  // the awaited sample request got its sample
  int32_t sample[6];
  long long last_other_ms;  // when the last line that was no sample came for it
  bool initialised;         // the first opening is over
  bool key_seen;            // a key woke a wait of this call: waits no longer watch it
  long long grace_until;    // with key_seen while sampling: every wait ends by then
  line_framing framing;
  reply_matching matching;
  module_watch watch;
};

link_state link;
bool (*key_check)(void) = nullptr;

enum class wait_end {
  done,     // what was waited for came
  time_up,  // the deadline passed first
  gone,     // the port is gone
  woken,    // the wake source (a key) ended the wait
  restart,  // the module spoke after a silence: it is to be initialised again
  not_sent  // the command could not be written in time
};

enum class wait_for { answer, owed_answers, line_end, time };

// A 16-bit field as a signed value: above 0x8000 it wraps; 0x8000 itself
// stays +32768.
int32_t signed_field(unsigned int field) {
  int32_t value = static_cast<int32_t>(field);
  if (value > 0x8000) value -= 0x10000;
  return value;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

constexpr int sample_digits = 24;

// Decodes a line of exactly 24 hexadecimal digits (length as read, NULs
// counted) into geomagnetic and acceleration values in delivery order.
// False for anything else.
bool decode_sample(const framed_line &line, int32_t (&values)[6]) {
  if (line.overflow || line.length != sample_digits) return false;
  int32_t s[6];
  for (int field = 0; field < 6; ++field) {
    unsigned int raw = 0;
    for (int k = 0; k < 4; ++k) {
      const int digit = hex_digit(line.text[field * 4 + k]);
      if (digit < 0) return false;
      raw = raw * 16 + static_cast<unsigned int>(digit);
    }
    s[field] = signed_field(raw);
  }
  for (int i = 3; i < 6; ++i) s[i] *= 10;
  // In each group of three the first two fields change places.
  values[0] = s[1];
  values[1] = s[0];
  values[2] = s[2];
  values[3] = s[4];
  values[4] = s[3];
  values[5] = s[5];
  return true;
}

// A complete line from the module: whose answer it is, and what it tells.
void take_line(const framed_line &line) {
  const long long now = rs_clock_ms();
  int32_t values[6];
  const bool sample = decode_sample(line, values);
  if (sample) module_watch_sample(&link.watch, now);
  switch (reply_matching_line(&link.matching, sample)) {
    case line_is_reply:
      if (link.matching.other_lines > 0) {
        module_watch_event(&link.watch, now, sensor_notice_unasked_lines);
      }
      if (sample && link.awaited_kind == reply_sample) {
        std::memcpy(link.sample, values, sizeof values);
        link.have_sample = true;
      }
      break;
    case line_is_late:
      if (!link.opening) module_watch_event(&link.watch, now, sensor_notice_late_replies);
      break;
    case line_is_other: link.last_other_ms = now; break;
    case line_is_unasked:
      if (!link.opening) module_watch_event(&link.watch, now, sensor_notice_unasked_lines);
      break;
  }
}

// A key woke a wait: the waits stop watching for it, and the exchange under
// way may finish within the grace. The opening goes on while the module
// answers each command within the grace, with its pauses whole.
void see_key(void) {
  if (link.key_seen) return;
  link.key_seen = true;
  rs_hold_wake(true);
  link.grace_until = rs_clock_ms() + key_grace_ms;
}

// The end of a call: the next wait watches for a key again.
void forget_key(void) {
  if (!link.key_seen) return;
  link.key_seen = false;
  link.grace_until = 0;
  rs_hold_wake(false);
}

bool waited_enough(wait_for what) {
  if (what == wait_for::answer) return reply_matching_answered(&link.matching);
  if (what == wait_for::owed_answers) return reply_matching_owed(&link.matching) == 0;
  if (what == wait_for::line_end) return line_framing_end_due(&link.framing) == 0;
  return false;
}

// When a wait for what ends at the latest: its deadline, sooner for a sample
// after a line that was none, and with the grace after a key.
long long wait_until(wait_for what, long long deadline, bool keeps_grace) {
  long long until = deadline;
  if (what == wait_for::answer && link.matching.other_lines > 0) {
    until = std::min(until, link.last_other_ms + other_line_grace_ms);
  }
  if (keeps_grace && link.grace_until != 0) until = std::min(until, link.grace_until);
  return until;
}

// Reads, cuts and matches lines until what is waited for has come or the
// deadline passes. A sample request after a line that was none is waited
// for only briefly more: its answer would follow at once.
wait_end wait_lines(wait_for what, long long deadline) {
  // The first opening's pauses are kept whole; every other wait ends with
  // the grace after a key.
  const bool keeps_grace = !(link.opening && !link.initialised && what == wait_for::time);
  for (;;) {
    framed_line line;
    while (!waited_enough(what) && line_framing_next(&link.framing, &line)) take_line(line);
    if (waited_enough(what)) return wait_end::done;
    const long long now = rs_clock_ms();
    if (keeps_grace && link.grace_until != 0 && now >= link.grace_until) return wait_end::woken;
    const long long until = wait_until(what, deadline, keeps_grace);
    if (now >= until) return wait_end::time_up;
    unsigned char bytes[line_framing_buffer_size];
    const int count =
        rs_read(link.port, bytes, line_framing_room(&link.framing), static_cast<int>(until - now));
    if (count == rs_gone) {
      link.gone = true;
      return wait_end::gone;
    }
    if (count == rs_woken) {
      see_key();
      continue;
    }
    if (count <= 0) continue;
    if (module_watch_heard(&link.watch, rs_clock_ms()) && !link.opening) {
      // After a silence the module may have restarted: what it says now
      // answers nothing the link is waiting for.
      line_framing_drop_input(&link.framing);
      reply_matching_reset(&link.matching);
      link.heal_due = true;
      return wait_end::restart;
    }
    line_framing_add(&link.framing, bytes, count);
  }
}

// Sends a command whose answer is of kind, and waits for that answer until
// the deadline; given up on then (it may stay owed).
wait_end exchange(const char *command, reply_kind kind, long long deadline) {
  int sent = rs_puts(link.port, command);
  if (sent == rs_woken && link.opening) {
    // The key came before the command went out. The opening is still sent
    // whole to a module that answers; a sample request is not sent at all.
    see_key();
    sent = rs_puts(link.port, command);
  }
  if (sent == rs_gone) {
    link.gone = true;
    return wait_end::gone;
  }
  if (sent == rs_woken) return wait_end::woken;
  // Not written in time: the module got no whole command, so no answer is
  // owed; one to a part of it is matched as any other line.
  if (sent != 0) return wait_end::not_sent;
  link.awaited_kind = kind;
  link.have_sample = false;
  reply_matching_sent(&link.matching, kind);
  const wait_end end = wait_lines(wait_for::answer, deadline);
  if (end == wait_end::time_up && !reply_matching_give_up(&link.matching) && kind == reply_sample) {
    module_watch_event(&link.watch, rs_clock_ms(), sensor_notice_not_samples);
  }
  return end;
}

// Lines that come while the link pauses are read and matched too.
wait_end listen(int ms) {
  const wait_end end = wait_lines(wait_for::time, rs_clock_ms() + ms);
  return end == wait_end::time_up ? wait_end::done : end;
}

// The five commands with their pauses. Their answers are read and not
// examined; none can make the opening fail. Ends at once when the port goes
// or a key wakes a wait, and when an exchange got no answer while a key is
// waiting (for serial layers that cannot wake).
wait_end run_opening(void) {
  link.opening = true;
  reply_matching_reset(&link.matching);
  wait_end end = wait_end::done;
  for (int i = 0; i < opening_count && end == wait_end::done; ++i) {
    // A key ends a repeated opening at once: the run is ending. The first
    // opening goes on while the module answers; once a key is waiting, a
    // module that does not answer at once is not waited for.
    if (link.key_seen && link.initialised) {
      end = wait_end::woken;
      break;
    }
    const int due_ms = link.key_seen ? key_grace_ms : request_ms;
    link.grace_until = 0;
    end = exchange(opening_commands[i], reply_any_line, rs_clock_ms() + due_ms);
    if (end == wait_end::time_up && link.key_seen) end = wait_end::woken;
    // The first opening's pauses are kept whole for a module that answers.
    if (!link.initialised) link.grace_until = 0;
    if (end == wait_end::time_up || end == wait_end::not_sent) {
      end = key_check != nullptr && key_check() ? wait_end::woken : wait_end::done;
    }
    if (end == wait_end::done && i == 0) end = listen(pause_after_first_ms);
  }
  if (end == wait_end::done) end = listen(pause_after_last_ms);
  link.opening = false;
  return end;
}

// The opening once more, for a module that restarted or lost its settings.
wait_end initialise_again(void) {
  link.heal_due = false;
  const wait_end end = run_opening();
  if (end == wait_end::woken) link.heal_due = true;  // not finished
  module_watch_initialised(&link.watch, rs_clock_ms());
  return end;
}

// The time tells: a silence is said, and once silent nothing is owed any
// more; a module that answers without samples is initialised again.
void look_at_time(void) {
  const bool no_samples = module_watch_check(&link.watch, rs_clock_ms());
  if (no_samples && !link.heal_due) {
    module_watch_event(&link.watch, rs_clock_ms(), sensor_notice_not_samples);
    link.heal_due = true;
  }
  if (module_watch_silent(&link.watch)) reply_matching_reset(&link.matching);
}

// The COM number a port name stands for: "COMn", or a row's device node
// (name2); -1 when the directory has no such port.
int32_t find_named_port(const char *name) {
  port_device_pickup_all();
  const int count = get_how_many_port_devices();
  for (int i = 0; i < count; ++i) {
    char node[PORT_DEVICE_NAME_SIZE];
    if (get_port_device_name2(i, node) == 0 && std::strcmp(node, name) == 0) {
      return get_port_number(i);
    }
  }
  if (std::strncmp(name, "COM", 3) != 0) return -1;
  int32_t number = 0;
  const char *digit = name + 3;
  if (*digit == '\0' || *digit == '0') return -1;
  for (; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9' || number > 99999) return -1;
    number = number * 10 + (*digit - '0');
  }
  for (int i = 0; i < count; ++i) {
    if (get_port_number(i) == number) return number;
  }
  return -1;
}

int open_chosen_port(void) {
  if (rs_open(static_cast<int16_t>(sensor_port), sensor_baud) == -1) return 2;
  return sensor_link_start(static_cast<int16_t>(sensor_port));
}

sensor_outcome outcome_of(wait_end end) {
  if (end == wait_end::gone) return sensor_port_gone;
  if (end == wait_end::woken) return sensor_interrupted;
  return sensor_no_reply;
}

}  // namespace

namespace {
serial_tap link_tap{nullptr, nullptr};
}  // namespace

void sensor_set_tap(serial_tap tap) { link_tap = tap; }

int sensor_link_start(int16_t port) {
  rs_set_tap(port, link_tap);
  link = link_state{};
  link.open = true;
  link.port = port;
  line_framing_reset(&link.framing);
  reply_matching_reset(&link.matching);
  module_watch_start(&link.watch, rs_clock_ms());
  // A port that goes away during the opening is reported by the first
  // sensor_read; a key, by the caller's own test.
  run_opening();
  link.initialised = true;
  forget_key();
  return 0;
}

void sensor_set_key_check(bool (*key_waiting)(void)) { key_check = key_waiting; }

int sensor_open(void) {
  port_device_scan();
  port_device_pickup_by_type(ftdi_bus_type);
  if (get_how_many_port_devices() == 0) return 1;
  sensor_port = get_port_number(0);
  return open_chosen_port();
}

int sensor_open_port(const char *name) {
  port_device_scan();
  const int32_t number = name != nullptr ? find_named_port(name) : -1;
  if (number < 0) return 1;
  sensor_port = number;
  return open_chosen_port();
}

namespace {

// One request, as sensor_read makes it; values are written only for a sample.
sensor_outcome read_once(int32_t (&out)[6]) {
  if (!link.open || link.gone) return sensor_port_gone;
  look_at_time();
  if (link.heal_due) {
    const wait_end end = initialise_again();
    if (end == wait_end::gone || end == wait_end::woken) return outcome_of(end);
    // A key that came while the module answered the opening ends the run
    // before a new request.
    if (link.key_seen) return sensor_interrupted;
  }

  // Answers owed from earlier come first.
  if (reply_matching_owed(&link.matching) > 0) {
    const long long start = rs_clock_ms();
    const wait_end end = wait_lines(wait_for::owed_answers, start + request_ms);
    look_at_time();
    if (end != wait_end::done || rs_clock_ms() - start > owed_then_send_ms) return outcome_of(end);
  }

  // One deadline for the sample's answer, and the follow-up's at least a
  // little more.
  const long long deadline = rs_clock_ms() + request_ms;
  const wait_end asked = exchange(sample_command, reply_sample, deadline);
  if (asked != wait_end::done) {
    const bool answered_badly =
        asked == wait_end::time_up && reply_matching_owed(&link.matching) == 0;
    look_at_time();
    // An answer that was no sample is followed up as a sample is.
    if (!answered_badly) return outcome_of(asked);
  }
  const bool delivered = link.have_sample;
  int32_t values[6];
  std::memcpy(values, link.sample, sizeof values);
  const wait_end followed = exchange(follow_up_command, reply_any_line,
                                     std::max(deadline, rs_clock_ms() + follow_up_min_ms));
  look_at_time();
  // A sample read before the port went away, or before a key, is still
  // delivered; the next request reports the port gone.
  if (!delivered) {
    if (followed == wait_end::gone || followed == wait_end::woken) return outcome_of(followed);
    return sensor_bad_reply;
  }
  std::memcpy(out, values, sizeof values);
  return sensor_sample_read;
}

}  // namespace

sensor_outcome sensor_read(int32_t *geo1, int32_t *geo2, int32_t *geo3, int32_t *acc1,
                           int32_t *acc2, int32_t *acc3) {
  int32_t values[6];
  const sensor_outcome outcome = read_once(values);
  forget_key();
  if (outcome != sensor_sample_read) return outcome;
  *geo1 = values[0];
  *geo2 = values[1];
  *geo3 = values[2];
  *acc1 = values[3];
  *acc2 = values[4];
  *acc3 = values[5];
  return sensor_sample_read;
}

void sensor_close(void) {
  if (!link.open) return;
  // What is still due of the last reply's end is read before the port's
  // settings are put back: a port put back to echoing would otherwise send
  // those bytes back to the module as a line of its own.
  if (!link.gone) wait_lines(wait_for::line_end, rs_clock_ms() + line_end_due_ms);
  forget_key();
  rs_close(link.port);
  link.open = false;
}

sensor_notice sensor_take_notice(void) { return module_watch_take(&link.watch); }

const char *sensor_notice_text(sensor_notice notice) {
  switch (notice) {
    case sensor_notice_none: break;
    case sensor_notice_silent: return "the sensor has not answered for 2 seconds";
    case sensor_notice_answers_again: return "the sensor answers again";
    case sensor_notice_not_samples: return "the sensor answers with lines that are not samples";
    case sensor_notice_unasked_lines: return "the sensor sends lines nobody asked for";
    case sensor_notice_late_replies: return "the sensor answers too late; late answers are dropped";
    case sensor_notice_initialised_again: return "the sensor was initialised again";
  }
  return "";
}
