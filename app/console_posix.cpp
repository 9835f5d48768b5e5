// SPDX-License-Identifier: MIT
// Console on POSIX: keys come from the controlling terminal (/dev/tty), put
// in non-canonical no-echo mode once and restored on every way out: normal
// exit, and every signal whose default action ends the process. A stop
// (Ctrl-Z) hands the terminal back as found; on continuing the keys are taken
// again. Output flow control is off while the keys are taken, so that Ctrl-S
// is a key; stdout is written without blocking (O_NONBLOCK for the duration
// of each write only) so that a key is seen while stdout takes no output.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "console.h"
#include "console_terminfo.h"

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

// Written after continuing from a stop, before the next text, while the
// screen is in use.
const char *screen_enter_text = nullptr;
volatile sig_atomic_t screen_reenter = 0;

// Readable when a key or a held-back Ctrl-C is waiting: an epoll set of the
// terminal and a pipe the SIGINT handler writes to.
int wake_fd = -1;
int interrupt_pipe[2] = {-1, -1};
volatile sig_atomic_t interrupt_deferred = 0;
volatile sig_atomic_t interrupt_pending = 0;
void (*volatile ending_cleanup)(void) = nullptr;

// stdout's file status flags while a write has made it non-blocking
// (-1 otherwise), for a signal that comes meanwhile.
volatile sig_atomic_t stdout_flags_to_restore = -1;
volatile sig_atomic_t write_in_progress = 0;  // a text is partly written
bool key_cut_output = false;                  // a key ended a wait for stdout
long long unwritten_bytes = 0;

// How long a wait for stdout lasts once it refused bytes it said it had room
// for (a terminal whose output is stopped does that), before trying again.
constexpr int stopped_output_retry_ms = 20;
// How long a signal handler waits for stdout to take the leave text.
constexpr int handler_write_ms = 200;

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

// One write(2) to stdout that never blocks, with stdout's file status flags
// put back as found at once (they belong to whoever shares the open file).
// Async-signal-safe.
ssize_t write_without_waiting(const char *bytes, size_t size) {
  const int flags = fcntl(STDOUT_FILENO, F_GETFL);
  const bool set = flags >= 0 && (flags & O_NONBLOCK) == 0 &&
                   fcntl(STDOUT_FILENO, F_SETFL, flags | O_NONBLOCK) == 0;
  if (set) stdout_flags_to_restore = flags;
  const ssize_t n = write(STDOUT_FILENO, bytes, size);
  const int saved_errno = errno;
  if (set) {
    fcntl(STDOUT_FILENO, F_SETFL, flags);
    stdout_flags_to_restore = -1;
  }
  errno = saved_errno;
  return n;
}

// Puts stdout's flags back when a signal came while a write had them
// changed. Async-signal-safe.
void restore_stdout_flags(void) {
  const int flags = stdout_flags_to_restore;
  if (flags >= 0) fcntl(STDOUT_FILENO, F_SETFL, flags);
}

// For signal handlers: the text to stdout, for as long as stdout takes it
// within a bounded time; what it does not take is dropped. Async-signal-safe.
void write_from_handler(const char *text) {
  size_t left = std::strlen(text);
  int waited_ms = 0;
  while (left > 0 && waited_ms < handler_write_ms) {
    const ssize_t n = write_without_waiting(text, left);
    if (n > 0) {
      text += n;
      left -= static_cast<size_t>(n);
    } else if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
      return;
    } else {
      pollfd room = {STDOUT_FILENO, POLLOUT, 0};
      poll(&room, 1, 10);
      waited_ms += 10;
    }
  }
}

// Output flow control back as found, and output restarted in case it was
// stopped (Ctrl-S before the keys were taken, or another program).
void restore_settings(void) {
  if (settings_changed) {
    tcsetattr(tty_fd, TCSANOW, &saved_settings);
    tcflow(tty_fd, TCOON);
    settings_changed = 0;
  }
}

// Leaves the full screen. A text cut off in the middle of an escape sequence
// is cancelled first (CAN), so that the leave text is taken as it is.
void restore_screen(void) {
  const char *leave = screen_leave_text;
  if (screen_changed && leave != nullptr) {
    screen_changed = 0;
    if (leave[0] == '\0') return;
    if (write_in_progress) write_from_handler("\x18");
    write_from_handler(leave);
  }
}

void apply_key_settings(void) {
  if (!keys_active) return;
  settings_changed = 1;
  if (tcsetattr(tty_fd, TCSANOW, &key_settings) != 0) settings_changed = 0;
}

// Raises the signal with its default action (ending or stopping the
// process), as if it had never been caught or held back. Async-signal-safe.
void raise_by_default_action(int signal_number) {
  signal(signal_number, SIG_DFL);
  sigset_t this_signal;
  sigemptyset(&this_signal);
  sigaddset(&this_signal, signal_number);
  sigprocmask(SIG_UNBLOCK, &this_signal, nullptr);
  raise(signal_number);
}

// Puts the terminal back, then dies of the signal as if never caught.
void restore_and_reraise(int signal_number) {
  void (*cleanup)(void) = ending_cleanup;
  if (cleanup != nullptr) cleanup();
  restore_stdout_flags();
  restore_screen();
  restore_settings();
  raise_by_default_action(signal_number);
}

// Ctrl-C while it is held back: noted, and the key source woken; a second
// one ends the program at once.
void note_interrupt(int signal_number) {
  if (!interrupt_deferred || interrupt_pending) {
    restore_and_reraise(signal_number);
    return;
  }
  const int saved_errno = errno;
  interrupt_pending = 1;
  if (interrupt_pipe[1] >= 0) {
    const char byte = 3;
    (void)!write(interrupt_pipe[1], &byte, 1);
  }
  errno = saved_errno;
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

// Ctrl-Z: hands the terminal back as found (the full screen left, the
// cursor shown, stdout's flags as found), stops, and takes the keys again
// once continued; the full screen comes back with the next text. (In an
// orphaned process group the stop is dropped and the keys are taken again
// at once.)
void stop_with_terminal_restored(int signal_number) {
  const int saved_errno = errno;
  const int stdout_flags = fcntl(STDOUT_FILENO, F_GETFL);
  restore_stdout_flags();
  const char *leave = screen_leave_text;
  const bool leaves_screen = screen_changed && leave != nullptr && leave[0] != '\0';
  restore_screen();
  restore_settings();
  raise_by_default_action(signal_number);
  install_stop_handler();
  apply_key_settings();
  if (stdout_flags >= 0) fcntl(STDOUT_FILENO, F_SETFL, stdout_flags);
  if (leaves_screen) {
    screen_changed = 1;
    screen_reenter = 1;
  }
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
  if (!ignored_at_start(SIGINT)) set_handler(SIGINT, note_interrupt, 0);
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

// The epoll set that console_key_fd gives out; the terminal joins it once
// open.
void open_wake_source(void) {
  if (wake_fd >= 0) return;
  wake_fd = epoll_create1(EPOLL_CLOEXEC);
  if (wake_fd < 0 || pipe2(interrupt_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  epoll_event interrupt = {};
  interrupt.events = EPOLLIN;
  epoll_ctl(wake_fd, EPOLL_CTL_ADD, interrupt_pipe[0], &interrupt);
}

// One byte from the terminal within wait_ms (-1: until one comes); -1 when
// none.
int read_key_byte(int wait_ms) {
  if (tty_fd < 0) return -1;
  if (wait_ms >= 0) {
    pollfd waiting = {tty_fd, POLLIN, 0};
    if (poll(&waiting, 1, wait_ms) <= 0) return -1;
  }
  unsigned char key = 0;
  ssize_t n;
  while ((n = read(tty_fd, &key, 1)) < 0 && errno == EINTR) {
  }
  return n == 1 ? key : -1;
}

// After ESC: the rest of the key's sequence, which comes with it (CSI
// parameters up to the final byte, SS3 and its letter, the Linux console's
// ESC [ [ A), so that none of it is left for the shell.
void drop_escape_sequence_rest(void) {
  constexpr int sequence_gap_ms = 30;
  constexpr int longest_sequence = 32;
  const int introducer = read_key_byte(sequence_gap_ms);
  if (introducer == 'O') {
    read_key_byte(sequence_gap_ms);
    return;
  }
  if (introducer != '[') return;
  for (int k = 0; k < longest_sequence; ++k) {
    const int byte = read_key_byte(sequence_gap_ms);
    if (byte < 0) return;
    if (k == 0 && byte == '[') continue;
    if (byte >= 0x40 && byte <= 0x7E) return;
  }
}

enum class stdout_wait { key, room, none };

// Waits until stdout may take bytes or a key is waiting. When stdout has
// refused bytes it had just reported room for (its terminal's output is
// stopped), only the key is watched, for a short while.
stdout_wait wait_for_stdout_or_key(bool stdout_stopped) {
  pollfd waits[2] = {{STDOUT_FILENO, static_cast<short>(stdout_stopped ? 0 : POLLOUT), 0},
                     {wake_fd >= 0 ? wake_fd : tty_fd, POLLIN, 0}};
  poll(waits, 2, stdout_stopped ? stopped_output_retry_ms : -1);
  if (console_key_waiting()) return stdout_wait::key;
  return (waits[0].revents & (POLLOUT | POLLERR | POLLHUP)) != 0 ? stdout_wait::room
                                                                 : stdout_wait::none;
}

// The text to stdout, whole, waiting for stdout and a key together (see
// console_write). Once a key has cut a write, nothing waits any more.
bool write_stdout(const char *text) {
  size_t left = std::strlen(text);
  bool room_reported = false;
  write_in_progress = 1;
  while (left > 0) {
    const ssize_t n = write_without_waiting(text, left);
    if (n > 0) {
      text += n;
      left -= static_cast<size_t>(n);
      room_reported = false;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      output_errno = errno;
      write_in_progress = 0;
      return false;
    }
    const stdout_wait waited =
        key_cut_output ? stdout_wait::key : wait_for_stdout_or_key(room_reported);
    if (waited == stdout_wait::key) {
      key_cut_output = true;
      unwritten_bytes += static_cast<long long>(left);
      output_errno = EAGAIN;
      return false;  // write_in_progress stays set: the text is cut off
    }
    room_reported = waited == stdout_wait::room;
  }
  write_in_progress = 0;
  return true;
}

// A positive number from the environment, or 0.
int size_from_environment(const char *name) {
  const char *value = std::getenv(name);
  if (value == nullptr) return 0;
  char *end = nullptr;
  const long number = std::strtol(value, &end, 10);
  return end != value && *end == '\0' && number > 0 && number <= 10000 ? static_cast<int>(number)
                                                                       : 0;
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
  open_wake_source();
  tty_fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (tty_fd < 0) return;
  if (tcgetattr(tty_fd, &saved_settings) != 0) {
    close(tty_fd);
    tty_fd = -1;
    return;
  }
  key_settings = saved_settings;
  key_settings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  key_settings.c_iflag &= ~static_cast<tcflag_t>(IXON);
  key_settings.c_cc[VMIN] = 1;
  key_settings.c_cc[VTIME] = 0;
  keys_active = 1;
  apply_key_settings();
  if (wake_fd >= 0) {
    epoll_event key = {};
    key.events = EPOLLIN;
    epoll_ctl(wake_fd, EPOLL_CTL_ADD, tty_fd, &key);
  }
}

int console_key_fd(void) { return tty_fd >= 0 || interrupt_deferred ? wake_fd : -1; }

void console_on_ending_signal(void (*cleanup)(void)) { ending_cleanup = cleanup; }

void console_defer_interrupt(void) {
  install_signal_handlers();
  interrupt_deferred = 1;
}

bool console_key_waiting(void) {
  if (interrupt_pending) return true;
  if (tty_fd < 0) return false;
  pollfd waiting = {tty_fd, POLLIN, 0};
  return poll(&waiting, 1, 0) > 0 && (waiting.revents & POLLIN) != 0;
}

bool console_has_keys(void) { return tty_fd >= 0; }

int console_read_key(void) {
  if (interrupt_pending) return 3;
  const int key = read_key_byte(-1);
  if (key == 0x1b) drop_escape_sequence_rest();
  return key;
}

void console_close(void) {
  restore_screen();
  if (tty_fd >= 0) {
    keys_active = 0;
    restore_settings();
  }
  // The held-back Ctrl-C ends the program now, as it would have at once.
  if (interrupt_pending) raise_by_default_action(SIGINT);
}

bool console_write(const char *utf8_text) {
  if (screen_reenter) {
    screen_reenter = 0;
    if (screen_enter_text != nullptr && !write_stdout(screen_enter_text)) return false;
  }
  return write_stdout(utf8_text);
}

long long console_unwritten_bytes(void) { return unwritten_bytes; }

bool console_write_error(const char *utf8_text) {
  return std::fputs(utf8_text, stderr) >= 0 && std::fflush(stderr) == 0;
}

const char *console_output_failure(void) { return std::strerror(output_errno); }

bool console_screen_usable(char *reason, int size) {
  if (!isatty(STDOUT_FILENO)) {
    std::snprintf(reason, static_cast<size_t>(size), "--view needs a terminal on standard output");
    return false;
  }
  const char *term = std::getenv("TERM");
  const terminal_verdict verdict = console_terminal_verdict(term);
  console_terminal_refusal(verdict, term, reason, static_cast<size_t>(size));
  return verdict == terminal_verdict::usable;
}

bool console_screen_open(const char *enter_text, const char *leave_text) {
  if (!isatty(STDOUT_FILENO)) return false;
  install_signal_handlers();
  set_handler(SIGWINCH, note_resize, SA_RESTART);
  screen_enter_text = enter_text;
  screen_leave_text = leave_text;
  screen_changed = 1;
  return true;
}

bool console_screen_size(int *columns, int *rows) {
  winsize size = {};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0) return false;
  const int found_columns = size.ws_col != 0 ? size.ws_col : size_from_environment("COLUMNS");
  const int found_rows = size.ws_row != 0 ? size.ws_row : size_from_environment("LINES");
  if (found_columns <= 0 || found_rows <= 0) return false;
  *columns = found_columns;
  *rows = found_rows;
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
