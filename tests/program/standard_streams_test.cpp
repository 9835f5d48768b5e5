// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "console.h"

namespace {

dev_t device_of_fd(int fd) {
  struct stat st {};
  return fstat(fd, &st) == 0 ? st.st_rdev : 0;
}

// In a child: closes the given streams, guards them, opens a file, and
// reports through its exit status whether each closed stream now is the
// null device and the file got a number above 2.
int guarded_child(const std::vector<int> &closed) {
  const pid_t pid = fork();
  if (pid == 0) {
    struct stat null_st {};
    stat("/dev/null", &null_st);
    for (int fd : closed) close(fd);
    console_guard_standard_streams();
    int failures = 0;
    for (int fd : closed) {
      if (device_of_fd(fd) != null_st.st_rdev) failures |= 1 << fd;
    }
    const int opened = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (opened <= 2) failures |= 8;
    _exit(failures);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(standard_streams, closed_ones_get_the_null_device_before_anything_else_is_opened) {
  const std::vector<std::vector<int>> cases = {{0}, {1}, {2}, {0, 2}, {1, 2}, {0, 1, 2}, {}};
  for (const auto &closed : cases) {
    SCOPED_TRACE(testing::PrintToString(closed));
    EXPECT_EQ(guarded_child(closed), 0);
  }
}

}  // namespace
