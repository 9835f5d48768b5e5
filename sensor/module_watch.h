// SPDX-License-Identifier: MIT
// What the module has been doing, from the link's view: when it was last
// heard, when it last sent a sample, and the notices that say so to the
// user, each once per episode. Also when to initialise it again. Portable,
// with the time passed in.
//
// - Silent: nothing heard for 2 s. Said once; "answers again" once when
//   something comes. Bytes that end a silence of 2 s or more mean the module
//   may have restarted: it is initialised again.
// - Answers (something heard within the last second) but has sent no sample
//   for 2 s: it is initialised again. A module that merely fell silent after
//   its last answer is not.
// - Lines that are no sample as answers, lines nobody asked for, late
//   answers, initialising again: each said when it happens, and again only
//   after 10 s without it.
#pragma once

#include "sensor_link.h"

constexpr long long module_watch_silence_ms = 2000;
constexpr long long module_watch_no_sample_ms = 2000;
constexpr long long module_watch_answering_ms = 1000;
constexpr long long module_watch_episode_ms = 10000;
constexpr int module_watch_queue_size = 8;
constexpr int module_watch_kinds = 7;  // sensor_notice values

struct module_watch {
  long long last_heard_ms;
  long long last_sample_ms;  // or when the module was (re)initialised
  bool heard_since_sample;
  bool silent;  // the silence has been said
  long long last_event_ms[module_watch_kinds];
  bool event_seen[module_watch_kinds];
  sensor_notice queue[module_watch_queue_size];
  int head;
  int count;
};

// The port is open at now: nothing heard yet, nothing said.
void module_watch_start(module_watch *watch, long long now);

// Bytes arrived at now. True when they end a silence of 2 s or more.
bool module_watch_heard(module_watch *watch, long long now);

// A sample arrived (awaited or not).
void module_watch_sample(module_watch *watch, long long now);

// Something to tell once per episode: sensor_notice_not_samples,
// sensor_notice_unasked_lines, sensor_notice_late_replies,
// sensor_notice_initialised_again.
void module_watch_event(module_watch *watch, long long now, sensor_notice kind);

// Looks at the time: says the silence once it has lasted 2 s. True when the
// module answers but has sent no sample for 2 s.
bool module_watch_check(module_watch *watch, long long now);

// Whether the module is silent (the silence has been said).
bool module_watch_silent(const module_watch *watch);

// The opening was sent again at now.
void module_watch_initialised(module_watch *watch, long long now);

// The next notice to say, or sensor_notice_none.
sensor_notice module_watch_take(module_watch *watch);
