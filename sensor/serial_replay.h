// SPDX-License-Identifier: MIT
// A recording (serial_recording.h) played as the module: a byte stream whose
// reads hand out the recorded replies. Each reply waits for the bytes the
// program wrote before it in the recording (counted, not compared), then
// comes as long after the write that let it go as it came in the recording
// (or at once when fast). Once the last reply has been handed out the
// recording has run out: replay_ran_out() turns true, and reads that wait
// for more return rs_woken at once. Its waits end early with rs_woken when the
// serial layer's wake source turns ready. Portable.
#pragma once

#include <cstddef>

#include "serial_transport.h"

// Opens the recording at path. 0 with *transport playing it; -1 when the
// file cannot be read or is not a recording, with one line in why
// (why_size bytes) that names it.
int replay_open(const char *path, bool fast, serial_transport *transport, char *why,
                std::size_t why_size);

// Whether the recording being played has run out (see above).
bool replay_ran_out(void);
