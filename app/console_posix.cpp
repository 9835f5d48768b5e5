// SPDX-License-Identifier: MIT
// Console on POSIX: keys come from the controlling terminal (/dev/tty), put
// in non-canonical no-echo mode once and restored on every way out: normal
// exit, and every signal whose default action ends the process. A stop
// (Ctrl-Z) hands the terminal back as found; on continuing the keys are taken
// again.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console.h"

namespace {

int tty_fd = -1;  // -1: no controlling terminal, no key can arrive
termios saved_settings;
termios key_settings;
volatile sig_atomic_t settings_changed = 0;
volatile sig_atomic_t keys_active = 0;  // between console_open and console_close

// Written to stdout's terminal when the console is restored, while the
// screen is in use.
const char *volatile screen_leave_text = nullptr;
volatile sig_atomic_t screen_changed = 0;
volatile sig_atomic_t screen_resized = 0;

int output_errno = 0;  // errno of the last failed console_write

// Signals whose default action ends the process (SIGKILL and SIGSTOP cannot
// be caught). The real-time signals are added when the handlers go in.
const int ending_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,    SIGFPE,  SIGUSR1, SIGSEGV,
    SIGUSR2,   SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGSYS,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

// Async-signal-safe: write(2) in a loop, errors ignored.
void write_all(int fd, const char *text) {
  size_t left = std::strlen(text);
  while (left > 0) {
    const ssize_t n = write(fd, text, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text += n;
    left -= static_cast<size_t>(n);
  }
}

void restore_settings(void) {
  if (settings_changed) {
    tcsetattr(tty_fd, TCSANOW, &saved_settings);
    settings_changed = 0;
  }
}

void restore_screen(void) {
  if (screen_changed && screen_leave_text != nullptr) {
    screen_changed = 0;
    write_all(STDOUT_FILENO, screen_leave_text);
  }
}

void apply_key_settings(void) {
  if (!keys_active) return;
  settings_changed = 1;
  if (tcsetattr(tty_fd, TCSANOW, &key_settings) != 0) settings_changed = 0;
}

// Puts the terminal back, then dies of the signal as if never caught.
void restore_and_reraise(int signal_number) {
  restore_screen();
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

// A signal the parent set to be ignored (nohup, a launcher ignoring SIGPIPE)
// stays ignored: it can never end the process.
bool ignored_at_start(int signal_number) {
  struct sigaction current = {};
  return sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void catch_ending_signal(int signal_number) {
  if (!ignored_at_start(signal_number)) set_handler(signal_number, restore_and_reraise, 0);
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
  screen_resized = 1;  // redraw: the shell has drawn over the screen
  errno = saved_errno;
}

void note_resize(int /*signal_number*/) { screen_resized = 1; }

bool signals_installed = false;

void install_signal_handlers(void) {
  if (signals_installed) return;
  signals_installed = true;
  for (int signal_number : ending_signals) catch_ending_signal(signal_number);
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    catch_ending_signal(signal_number);
  }
  install_stop_handler();
  set_handler(SIGCONT, take_keys_again, SA_RESTART);
}

bool names_utf8(const char *value) {
  if (value == nullptr) return false;
  for (const char *p = value; *p != '\0'; ++p) {
    if ((p[0] == 'U' || p[0] == 'u') && (p[1] == 'T' || p[1] == 't') &&
        (p[2] == 'F' || p[2] == 'f')) {
      const char *digits = p[3] == '-' ? p + 4 : p + 3;
      if (digits[0] == '8' && (digits[1] < '0' || digits[1] > '9')) return true;
    }
  }
  return false;
}

}  // namespace

void console_guard_standard_streams(void) {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number is fd itself, since 0..fd-1 are open by now.
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0 && null_fd != fd) close(null_fd);
  }
}

void console_open(void) {
  if (tty_fd >= 0) return;
  install_signal_handlers();
  std::atexit(console_close);
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
  apply_key_settings();
}

bool console_key_waiting(void) {
  if (tty_fd < 0) return false;
  pollfd waiting = {tty_fd, POLLIN, 0};
  return poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN) != 0;
}

bool console_has_keys(void) { return tty_fd >= 0; }

int console_read_key(void) {
  if (tty_fd < 0) return -1;
  unsigned char key = 0;
  ssize_t n;
  while ((n = read(tty_fd, &key, 1)) < 0 && errno == EINTR) {
  }
  return n == 1 ? key : -1;
}

void console_close(void) {
  restore_screen();
  if (tty_fd < 0) return;
  keys_active = 0;
  restore_settings();
}

bool console_write(const char *utf8_text) {
  errno = 0;
  const bool written = std::fputs(utf8_text, stdout) >= 0 && std::fflush(stdout) == 0;
  if (!written) output_errno = errno != 0 ? errno : EIO;
  return written;
}

bool console_write_error(const char *utf8_text) {
  return std::fputs(utf8_text, stderr) >= 0 && std::fflush(stderr) == 0;
}

const char *console_output_failure(void) { return std::strerror(output_errno); }

bool console_screen_open(const char *leave_text) {
  if (!isatty(STDOUT_FILENO)) return false;
  install_signal_handlers();
  set_handler(SIGWINCH, note_resize, SA_RESTART);
  screen_leave_text = leave_text;
  screen_changed = 1;
  return true;
}

bool console_screen_size(int *columns, int *rows) {
  winsize size = {};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
    return false;
  }
  *columns = size.ws_col;
  *rows = size.ws_row;
  return true;
}

bool console_screen_resized(void) {
  if (!screen_resized) return false;
  screen_resized = 0;
  return true;
}

// The encoding the locale variables name, in the order the C library takes
// them; the process's own locale stays "C" so that numbers print as always.
bool console_screen_unicode(void) {
  const char *const names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
  for (const char *name : names) {
    const char *value = std::getenv(name);
    if (value != nullptr && *value != '\0') return names_utf8(value);
  }
  return false;
}
