// SPDX-License-Identifier: MIT
#include "module_watch.h"

#include <cstring>

namespace {

void say(module_watch *w, sensor_notice notice) {
  if (w->count == module_watch_queue_size) return;  // the user has enough to read
  w->queue[(w->head + w->count) % module_watch_queue_size] = notice;
  ++w->count;
}

}  // namespace

void module_watch_start(module_watch *watch, long long now) {
  std::memset(watch, 0, sizeof *watch);
  watch->last_heard_ms = now;
  watch->last_sample_ms = now;
}

bool module_watch_heard(module_watch *watch, long long now) {
  const bool after_silence = now - watch->last_heard_ms >= module_watch_silence_ms;
  watch->last_heard_ms = now;
  watch->heard_since_sample = true;
  if (watch->silent) {
    watch->silent = false;
    say(watch, sensor_notice_answers_again);
  }
  return after_silence;
}

void module_watch_sample(module_watch *watch, long long now) {
  watch->last_sample_ms = now;
  watch->heard_since_sample = false;
}

void module_watch_event(module_watch *watch, long long now, sensor_notice kind) {
  const int k = static_cast<int>(kind);
  if (k <= 0 || k >= module_watch_kinds) return;
  if (!watch->event_seen[k] || now - watch->last_event_ms[k] >= module_watch_episode_ms) {
    say(watch, kind);
  }
  watch->event_seen[k] = true;
  watch->last_event_ms[k] = now;
}

bool module_watch_check(module_watch *watch, long long now) {
  if (!watch->silent && now - watch->last_heard_ms >= module_watch_silence_ms) {
    watch->silent = true;
    say(watch, sensor_notice_silent);
  }
  return watch->heard_since_sample && now - watch->last_heard_ms < module_watch_answering_ms &&
         now - watch->last_sample_ms >= module_watch_no_sample_ms;
}

bool module_watch_silent(const module_watch *watch) { return watch->silent; }

void module_watch_initialised(module_watch *watch, long long now) {
  watch->last_sample_ms = now;
  watch->heard_since_sample = false;
  module_watch_event(watch, now, sensor_notice_initialised_again);
}

sensor_notice module_watch_take(module_watch *watch) {
  if (watch->count == 0) return sensor_notice_none;
  const sensor_notice notice = watch->queue[watch->head];
  watch->head = (watch->head + 1) % module_watch_queue_size;
  --watch->count;
  return notice;
}
