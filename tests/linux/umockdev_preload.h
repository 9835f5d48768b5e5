// SPDX-License-Identifier: MIT
// Runs programs under libumockdev-preload, so that the test beds they build
// or inherit stand in for /sys and /dev.
#pragma once

// Puts libumockdev-preload first in LD_PRELOAD, for this process's children
// and re-executions (and lets a sanitizer runtime come after it).
void set_umockdev_preload_environment();

// Re-executes the program with the preload library when it is not loaded
// yet; returns once it is. Exits with 127 when the program cannot re-exec.
void ensure_umockdev_preload(char **argv);
