// SPDX-License-Identifier: MIT
// Telling whether another program uses a serial port before taking it: the
// advisory lock that terminal programs take on a tty, the other processes
// that hold the same device open, and why access was refused.
#pragma once

#include <sys/types.h>

#include <cstddef>

// Takes the advisory lock (flock, exclusive, not waiting) on the open port.
// False when another open file holds it; true when taken or when the file
// system does not do such locks.
bool claim_port_lock(int fd);

// Another process that has the same device as fd open, as far as this user
// may look (every process for root): its process ID, with its command name
// copied into command; 0 when none is seen.
pid_t other_port_user(int fd, char *command, std::size_t command_size);

// A hint for a port that could not be opened for lack of permission: the
// group to join when the node's group may read and write it, otherwise that
// the user needs read and write access.
void access_hint(const char *node, char *hint, std::size_t hint_size);
