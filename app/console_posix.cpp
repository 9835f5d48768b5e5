// SPDX-License-Identifier: MIT
// Console on POSIX: keys come from the controlling terminal (/dev/tty), put
// in non-canonical no-echo mode once and restored on every way out. A stop
// (Ctrl-Z) hands the terminal back as found; on continuing the keys are taken
// again.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "console.h"

namespace {

int tty_fd = -1;  // -1: no controlling terminal, no key can arrive
termios saved_settings;
termios key_settings;
volatile sig_atomic_t settings_changed = 0;
volatile sig_atomic_t keys_active = 0;  // between console_open and console_close

const int restoring_signals[] = {SIGINT, SIGTERM, SIGHUP};

void restore_settings(void) {
  if (settings_changed) {
    tcsetattr(tty_fd, TCSANOW, &saved_settings);
    settings_changed = 0;
  }
}

void apply_key_settings(void) {
  if (!keys_active) return;
  settings_changed = 1;
  if (tcsetattr(tty_fd, TCSANOW, &key_settings) != 0) settings_changed = 0;
}

// Puts the terminal back, then dies of the signal as if never caught.
void restore_and_reraise(int signal_number) {
  restore_settings();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void set_handler(int signal_number, void (*handler)(int), int flags) {
  struct sigaction action = {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  sigaction(signal_number, &action, nullptr);
}

void stop_with_terminal_restored(int signal_number);

void install_stop_handler(void) { set_handler(SIGTSTP, stop_with_terminal_restored, SA_RESTART); }

// Ctrl-Z: hands the terminal back as found, stops, and takes the keys again
// once continued. (In an orphaned process group the stop is dropped and the
// keys are taken again at once.)
void stop_with_terminal_restored(int signal_number) {
  const int saved_errno = errno;
  restore_settings();
  signal(signal_number, SIG_DFL);
  sigset_t stop_signal;
  sigemptyset(&stop_signal);
  sigaddset(&stop_signal, signal_number);
  sigprocmask(SIG_UNBLOCK, &stop_signal, nullptr);
  raise(signal_number);
  install_stop_handler();
  apply_key_settings();
  errno = saved_errno;
}

// Continued after any stop: the shell may have reset the terminal meanwhile.
void take_keys_again(int /*signal_number*/) {
  const int saved_errno = errno;
  apply_key_settings();
  errno = saved_errno;
}

void install_signal_handlers(void) {
  for (int signal_number : restoring_signals) set_handler(signal_number, restore_and_reraise, 0);
  install_stop_handler();
  set_handler(SIGCONT, take_keys_again, SA_RESTART);
}

}  // namespace

void console_open(void) {
  if (tty_fd >= 0) return;
  tty_fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty_fd < 0) return;
  if (tcgetattr(tty_fd, &saved_settings) != 0) {
    close(tty_fd);
    tty_fd = -1;
    return;
  }
  key_settings = saved_settings;
  key_settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  key_settings.c_cc[VMIN] = 1;
  key_settings.c_cc[VTIME] = 0;
  keys_active = 1;
  install_signal_handlers();
  std::atexit(console_close);
  apply_key_settings();
}

bool console_key_waiting(void) {
  if (tty_fd < 0) return false;
  pollfd waiting = {tty_fd, POLLIN, 0};
  return poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN) != 0;
}

void console_read_key(void) {
  if (tty_fd < 0) return;
  char key;
  while (read(tty_fd, &key, 1) < 0 && errno == EINTR) {
  }
}

void console_close(void) {
  if (tty_fd < 0) return;
  keys_active = 0;
  restore_settings();
}

void console_write(const char *utf8_text) {
  std::fputs(utf8_text, stdout);
  std::fflush(stdout);
}
