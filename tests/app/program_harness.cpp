// SPDX-License-Identifier: MIT
#include "program_harness.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fake_serial_devices.h"

extern char **environ;

const char banner_output[] = "Orlanse Tesmo Sensor read test software\n\n";
const char not_found_output[] = "センサーが見つからない\n";

std::string sample_line(int geo1, int geo2, int geo3, int acc1, int acc2, int acc3) {
  char line[160];
  std::snprintf(line, sizeof line, "地磁気=(%d,%d,%d), 加速度=(%d,%d,%d)\n", geo1, geo2, geo3, acc1,
                acc2, acc3);
  return line;
}

const char *sensor_program_path() {
  const char *chosen = std::getenv("ORLANSE_SENSOR_PROGRAM");
  return chosen != nullptr && chosen[0] != '\0' ? chosen : ORLANSE_SENSOR_PATH;
}

// ---------------------------------------------------------------- test bed

adapter_bed::adapter_bed(const std::string &records) : bed_(umockdev_testbed_new()) {
  GError *error = nullptr;
  if (umockdev_testbed_add_from_string(bed_, records.c_str(), &error)) return;
  ok_ = false;
  error_ = error != nullptr ? error->message : "umockdev refused the records";
  g_clear_error(&error);
}

adapter_bed::~adapter_bed() { g_object_unref(bed_); }

std::string adapter_bed::root() const {
  gchar *root = umockdev_testbed_get_root_dir(bed_);
  const std::string path = root != nullptr ? root : "";
  g_free(root);
  return path;
}

int adapter_bed::master(const std::string &node) {
  const int fd = umockdev_testbed_get_dev_fd(bed_, node.c_str());
  if (fd < 0) return -1;
  // The program must not inherit it: its copy would keep the port from
  // hanging up when the test closes the master.
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  termios settings;
  if (tcgetattr(fd, &settings) == 0) {
    settings = cooked_settings(settings);
    tcsetattr(fd, TCSANOW, &settings);
  }
  return fd;
}

void adapter_bed::remove(const std::string &syspath) {
  umockdev_testbed_remove_device(bed_, syspath.c_str());
}

namespace {

fake_usb_adapter ftdi_adapter(int index) {
  const std::string n = std::to_string(index);
  return {"usb1/1-" + std::to_string(index + 2),
          "ttyUSB" + n,
          "ftdi_sio",
          "0403",
          "6001",
          "FT232R USB UART"};
}

}  // namespace

std::string ftdi_adapter_record(int index) { return usb_adapter_record(ftdi_adapter(index)); }

std::string ftdi_adapter_syspath(int index) { return usb_adapter_syspath(ftdi_adapter(index)); }

bool same_settings(const termios &a, const termios &b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0 &&
         cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

termios cooked_settings(termios base) {
  termios settings = base;
  settings.c_iflag = ICRNL | IXON | BRKINT;
  settings.c_oflag = OPOST | ONLCR;
  settings.c_lflag = ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
  settings.c_cflag = (settings.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS8 | CREAD;
  settings.c_cc[VMIN] = 1;
  settings.c_cc[VTIME] = 0;
  cfsetispeed(&settings, B38400);
  cfsetospeed(&settings, B38400);
  return settings;
}

// ------------------------------------------------------------------ program

std::vector<std::string> program_environment() {
  std::vector<std::string> entries;
  std::string preload = "LD_PRELOAD=libumockdev-preload.so.0";
  std::string asan = "ASAN_OPTIONS=verify_asan_link_order=0";
  for (char **entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (text.rfind("LD_PRELOAD=", 0) == 0) {
      if (text.size() > 11) preload += ":" + text.substr(11);
    } else if (text.rfind("ASAN_OPTIONS=", 0) == 0) {
      if (text.size() > 13) asan += ":" + text.substr(13);
    } else {
      entries.push_back(text);
    }
  }
  entries.push_back(preload);
  entries.push_back(asan);
  return entries;
}

namespace {

// glibc's own wrappers lack C linkage in C++ here: the system calls direct.
void send_through_pidfd(int pidfd, int signal_number) {
  syscall(SYS_pidfd_send_signal, pidfd, signal_number, nullptr, 0);
}

// A pty for the program's terminal; the master is returned, the slave's
// path stored. -1 on failure.
int open_terminal(std::string &slave_path) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0) return -1;
  const char *name = grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : nullptr;
  if (name == nullptr) {
    close(master);
    return -1;
  }
  slave_path = name;
  termios settings;
  if (tcgetattr(master, &settings) == 0) {
    settings = cooked_settings(settings);
    tcsetattr(master, TCSANOW, &settings);
  }
  return master;
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_program(const char *path, const char *terminal_path, int out_fd, int err_fd,
                               uid_t user, char *const *envp) {
  setsid();
  if (terminal_path != nullptr) {
    // The first tty a session leader opens becomes its controlling terminal;
    // TIOCSCTTY makes sure of it.
    const int tty = open(terminal_path, O_RDWR);
    if (tty < 0 || ioctl(tty, TIOCSCTTY, 0) != 0) _exit(126);
    dup2(tty, STDIN_FILENO);
  } else {
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0) dup2(null, STDIN_FILENO);
  }
  dup2(out_fd, STDOUT_FILENO);
  dup2(err_fd, STDERR_FILENO);
  close_range(3, ~0U, 0);
  if (user != static_cast<uid_t>(-1)) {
    if (setgroups(0, nullptr) != 0 || setgid(user) != 0 || setuid(user) != 0) _exit(126);
  }
  char *const argv[] = {const_cast<char *>(path), nullptr};
  execve(path, argv, envp);
  _exit(127);
}

}  // namespace

program_run::program_run(const std::string &path, bool terminal, const std::string &typeahead,
                         uid_t user) {
  std::string slave_path;
  if (terminal) {
    terminal_master_ = open_terminal(slave_path);
    if (terminal_master_ < 0) {
      error_ = std::string("cannot open a pty: ") + std::strerror(errno);
      return;
    }
    for (char key : typeahead) press_key(key);
    tcgetattr(terminal_master_, &terminal_at_start_);
  }
  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0) {
    error_ = std::string("pipe: ") + std::strerror(errno);
    return;
  }
  if (pipe2(err_pipe, O_CLOEXEC) != 0) {
    error_ = std::string("pipe: ") + std::strerror(errno);
    close(out_pipe[0]);
    close(out_pipe[1]);
    return;
  }
  // Everything the child needs is made before the fork: other threads (the
  // simulator) may hold locks that the child could never take.
  const std::vector<std::string> environment = program_environment();
  std::vector<char *> envp;
  for (const std::string &entry : environment) envp.push_back(const_cast<char *>(entry.c_str()));
  envp.push_back(nullptr);

  start_ = sim_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    exec_program(path.c_str(), terminal ? slave_path.c_str() : nullptr, out_pipe[1], err_pipe[1],
                 user, envp.data());
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  out_fd_ = out_pipe[0];
  err_fd_ = err_pipe[0];
  if (pid < 0) {
    error_ = std::string("fork: ") + std::strerror(errno);
    return;
  }
  pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd_ < 0) {
    error_ = std::string("pidfd_open: ") + std::strerror(errno);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return;
  }
  pid_ = pid;
  collector_ = std::thread([this] { collect(); });
}

program_run::~program_run() {
  if (pidfd_ >= 0 && running()) send_through_pidfd(pidfd_, SIGKILL);
  if (collector_.joinable()) collector_.join();
  for (int fd : {pidfd_, out_fd_, err_fd_, terminal_master_}) {
    if (fd >= 0) close(fd);
  }
}

// Reads stdout and stderr until both end and reaps the program the moment it
// exits, so that the time of its end is exact.
void program_run::collect() {
  bool out_open = true;
  bool err_open = true;
  bool reaped = false;
  while (out_open || err_open || !reaped) {
    pollfd entries[3] = {{out_open ? out_fd_ : -1, POLLIN, 0},
                         {err_open ? err_fd_ : -1, POLLIN, 0},
                         {reaped ? -1 : pidfd_, POLLIN, 0}};
    if (poll(entries, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    const sim_clock::time_point now = sim_clock::now();
    char buffer[4096];
    if (entries[0].revents != 0) {
      const ssize_t count = read(out_fd_, buffer, sizeof buffer);
      std::lock_guard<std::mutex> lock(mutex_);
      if (count <= 0) {
        out_open = count < 0 && errno == EINTR;
      } else {
        for (ssize_t i = 0; i < count; ++i) {
          out_ += buffer[i];
          if (buffer[i] == '\n') {
            lines_.push_back({out_.substr(line_start_), now});
            line_start_ = out_.size();
          }
        }
      }
      changed_.notify_all();
    }
    if (entries[1].revents != 0) {
      const ssize_t count = read(err_fd_, buffer, sizeof buffer);
      std::lock_guard<std::mutex> lock(mutex_);
      if (count <= 0) {
        err_open = count < 0 && errno == EINTR;
      } else {
        err_.append(buffer, static_cast<std::size_t>(count));
      }
    }
    if (entries[2].revents != 0) {
      int status = 0;
      rusage usage{};
      if (wait4(pid_, &status, 0, &usage) == pid_) {
        std::lock_guard<std::mutex> lock(mutex_);
        exit_.exited = WIFEXITED(status);
        exit_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        exit_.signal_number = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        exit_.usage = usage;
        exit_.when = now;
      }
      reaped = true;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

termios program_run::terminal_settings() const {
  termios settings{};
  if (terminal_master_ >= 0) tcgetattr(terminal_master_, &settings);
  return settings;
}

void program_run::press_key(char key) const {
  if (terminal_master_ < 0) return;
  while (write(terminal_master_, &key, 1) < 0 && errno == EINTR) {
  }
}

void program_run::send_signal(int signal_number) const {
  // Through the pidfd: never a process that took over the number.
  if (pidfd_ >= 0) send_through_pidfd(pidfd_, signal_number);
}

std::string program_run::out() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return out_;
}

std::string program_run::err() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return err_;
}

std::vector<output_line> program_run::out_lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool program_run::wait_for_out(const std::function<bool(const std::string &)> &wanted,
                               std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return wanted(out_) || ended_; }) && wanted(out_);
}

bool program_run::wait_for_lines(std::size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return lines_.size() >= count || ended_; }) &&
         lines_.size() >= count;
}

bool program_run::wait_exit(std::chrono::milliseconds timeout) const {
  if (pid_ <= 0) return false;
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return ended_; });
}

bool program_run::running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pid_ > 0 && !ended_;
}

bool program_run::wait_stopped(std::chrono::milliseconds timeout) const {
  const std::string stat_path = "/proc/" + std::to_string(pid_) + "/stat";
  const sim_clock::time_point deadline = sim_clock::now() + timeout;
  while (sim_clock::now() < deadline && running()) {
    // The state is the field after the parenthesised command name.
    char stat[512] = "";
    const int fd = open(stat_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const ssize_t count = read(fd, stat, sizeof stat - 1);
    close(fd);
    const char *name_end = count > 0 ? std::strrchr(stat, ')') : nullptr;
    if (name_end != nullptr && name_end[1] == ' ' && name_end[2] == 'T') return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

program_exit program_run::exit_info() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return exit_;
}
