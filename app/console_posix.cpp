// Console on POSIX: keys come from the controlling terminal (/dev/tty), put
// in non-canonical no-echo mode once and restored on every way out.
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
volatile sig_atomic_t settings_changed = 0;

const int restoring_signals[] = {SIGINT, SIGTERM, SIGHUP};

void restore_settings(void) {
  if (settings_changed) {
    tcsetattr(tty_fd, TCSANOW, &saved_settings);
    settings_changed = 0;
  }
}

// Puts the terminal back, then dies of the signal as if never caught.
void restore_and_reraise(int signal_number) {
  restore_settings();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void install_signal_handlers(void) {
  struct sigaction action = {};
  action.sa_handler = restore_and_reraise;
  sigemptyset(&action.sa_mask);
  for (int signal_number : restoring_signals) sigaction(signal_number, &action, nullptr);
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
  termios keys = saved_settings;
  keys.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  keys.c_cc[VMIN] = 1;
  keys.c_cc[VTIME] = 0;
  install_signal_handlers();
  std::atexit(console_close);
  settings_changed = 1;
  if (tcsetattr(tty_fd, TCSANOW, &keys) != 0) settings_changed = 0;
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
  restore_settings();
}

void console_write(const char *utf8_text) {
  std::fputs(utf8_text, stdout);
  std::fflush(stdout);
}
