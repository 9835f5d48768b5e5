// SPDX-License-Identifier: MIT
// Creating a file that must not exist yet, in one step, so that an existing
// file is never replaced (no gap between a check and the creation). One
// implementation per platform: new_file_posix.cpp, new_file_win32.cpp.
#pragma once

#include <cstdio>

// Creates path for writing (binary); NULL with errno set when it cannot,
// EEXIST when something exists there already.
std::FILE *create_new_file(const char *path);
