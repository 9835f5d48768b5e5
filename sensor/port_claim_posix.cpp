// SPDX-License-Identifier: MIT
// Another program's use of a serial port, seen before the port is taken: a
// second reader would silently eat the module's replies.
#include "port_claim_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Whether a directory entry's name is a process ID.
bool is_pid_name(const char *name) {
  if (*name == '\0') return false;
  for (const char *c = name; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

// Whether process pid (its /proc directory) has a descriptor on device.
bool process_has_device(const char *pid_name, dev_t device) {
  char fd_dir_path[300];
  std::snprintf(fd_dir_path, sizeof fd_dir_path, "/proc/%s/fd", pid_name);
  DIR *fd_dir = opendir(fd_dir_path);
  if (fd_dir == nullptr) return false;  // gone, or not ours to look at
  bool found = false;
  while (const dirent *entry = readdir(fd_dir)) {
    if (!is_pid_name(entry->d_name)) continue;
    struct stat target;
    if (fstatat(dirfd(fd_dir), entry->d_name, &target, 0) == 0 && S_ISCHR(target.st_mode) &&
        target.st_rdev == device) {
      found = true;
      break;
    }
  }
  closedir(fd_dir);
  return found;
}

void read_command_name(const char *pid_name, char *command, std::size_t command_size) {
  if (command_size == 0) return;
  command[0] = '\0';
  char path[300];
  std::snprintf(path, sizeof path, "/proc/%s/comm", pid_name);
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  const ssize_t length = read(fd, command, command_size - 1);
  close(fd);
  if (length <= 0) return;
  command[length] = '\0';
  command[std::strcspn(command, "\n")] = '\0';
}

}  // namespace

bool claim_port_lock(int fd) {
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
  return errno != EWOULDBLOCK;
}

pid_t other_port_user(int fd, char *command, std::size_t command_size) {
  struct stat own;
  if (fstat(fd, &own) != 0 || !S_ISCHR(own.st_mode)) return 0;
  DIR *proc = opendir("/proc");
  if (proc == nullptr) return 0;
  const pid_t self = getpid();
  pid_t user = 0;
  while (const dirent *entry = readdir(proc)) {
    if (!is_pid_name(entry->d_name)) continue;
    const long pid = std::strtol(entry->d_name, nullptr, 10);
    if (pid == self || pid > INT_MAX) continue;
    if (process_has_device(entry->d_name, own.st_rdev)) {
      user = static_cast<pid_t>(pid);
      read_command_name(entry->d_name, command, command_size);
      break;
    }
  }
  closedir(proc);
  return user;
}

void access_hint(const char *node, char *hint, std::size_t hint_size) {
  struct stat st;
  const bool group_may_use =
      stat(node, &st) == 0 && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  const group *owner = group_may_use ? getgrgid(st.st_gid) : nullptr;
  if (owner != nullptr) {
    std::snprintf(hint, hint_size, "; add your user to the group %s", owner->gr_name);
  } else {
    std::snprintf(hint, hint_size, "; the user needs read and write access to it");
  }
}
