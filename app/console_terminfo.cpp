// SPDX-License-Identifier: MIT
#include "console_terminfo.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

// Indexes in a compiled terminfo entry (term.h's order).
constexpr int hard_copy_flag = 7;       // hc
constexpr int generic_type_flag = 6;    // gn
constexpr int cursor_address_cap = 10;  // cup

constexpr std::size_t entry_size_max = 32768;

int16_t short_at(const unsigned char *bytes) {
  return static_cast<int16_t>(bytes[0] | (bytes[1] << 8));
}

// Reads the compiled entry for term below dir (dir/x/term or, as macOS
// keeps them, dir/78/term); its length, or 0.
std::size_t read_entry(const char *dir, const char *term, unsigned char *entry) {
  char path[4096];
  const char *layouts[] = {"%s/%c/%s", "%s/%02x/%s"};
  for (const char *layout : layouts) {
    std::snprintf(path, sizeof path, layout, dir, static_cast<unsigned char>(term[0]), term);
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    const ssize_t length = read(fd, entry, entry_size_max);
    close(fd);
    if (length > 12) return static_cast<std::size_t>(length);
  }
  return 0;
}

// Finds the entry where the C library's terminfo looks: $TERMINFO,
// ~/.terminfo, $TERMINFO_DIRS, then the system's directories.
std::size_t find_entry(const char *term, unsigned char *entry) {
  char dirs[8192] = "";
  const char *terminfo = std::getenv("TERMINFO");
  const char *home = std::getenv("HOME");
  const char *more = std::getenv("TERMINFO_DIRS");
  std::snprintf(dirs, sizeof dirs, "%s:%s%s:%s:/etc/terminfo:/lib/terminfo:/usr/share/terminfo",
                terminfo != nullptr ? terminfo : "", home != nullptr ? home : "",
                home != nullptr ? "/.terminfo" : "", more != nullptr ? more : "");
  for (char *dir = std::strtok(dirs, ":"); dir != nullptr; dir = std::strtok(nullptr, ":")) {
    const std::size_t length = read_entry(dir, term, entry);
    if (length > 0) return length;
  }
  return 0;
}

// The verdict from a compiled entry (legacy 16-bit or extended 32-bit
// numbers); unknown when it cannot be read.
terminal_verdict judge_entry(const unsigned char *entry, std::size_t length) {
  const int magic = short_at(entry);
  const int number_size = magic == 0432 ? 2 : (magic == 01036 ? 4 : 0);
  const int names = short_at(entry + 2);
  const int flags = short_at(entry + 4);
  const int numbers = short_at(entry + 6);
  const int strings = short_at(entry + 8);
  if (number_size == 0 || names < 0 || flags < 0 || numbers < 0 || strings < 0) {
    return terminal_verdict::unknown;
  }
  std::size_t at = 12 + static_cast<std::size_t>(names);
  const unsigned char *flag = entry + at;
  at += static_cast<std::size_t>(flags);
  at += at % 2;
  at += static_cast<std::size_t>(numbers) * number_size;
  const unsigned char *offsets = entry + at;
  const std::size_t table = at + static_cast<std::size_t>(strings) * 2;
  if (table > length) return terminal_verdict::unknown;
  if ((flags > hard_copy_flag && flag[hard_copy_flag] == 1) ||
      (flags > generic_type_flag && flag[generic_type_flag] == 1) ||
      strings <= cursor_address_cap) {
    return terminal_verdict::no_addressing;
  }
  const int offset = short_at(&offsets[static_cast<std::size_t>(cursor_address_cap) * 2]);
  if (offset < 0) return terminal_verdict::no_addressing;
  const std::size_t cup = table + static_cast<std::size_t>(offset);
  if (cup + 2 > length) return terminal_verdict::unknown;
  return entry[cup] == 0x1b && entry[cup + 1] == '[' ? terminal_verdict::usable
                                                     : terminal_verdict::foreign;
}

// Families that speak the ANSI sequences, for a system without their entry.
bool in_ansi_family(const char *term) {
  const char *families[] = {"xterm", "screen",  "tmux",      "linux",       "rxvt",    "vt1",
                            "vt2",   "vt3",     "vt4",       "vt5",         "ansi",    "konsole",
                            "gnome", "putty",   "alacritty", "kitty",       "foot",    "st-",
                            "iterm", "wezterm", "cygwin",    "ms-terminal", "contour", "mintty"};
  return std::any_of(std::begin(families), std::end(families), [term](const char *family) {
    return std::strncmp(term, family, std::strlen(family)) == 0;
  });
}

}  // namespace

terminal_verdict console_terminal_verdict(const char *term) {
  if (term == nullptr || term[0] == '\0') return terminal_verdict::unnamed;
  if (std::strchr(term, '/') != nullptr || std::strcmp(term, "..") == 0) {
    return terminal_verdict::unknown;
  }
  static unsigned char entry[entry_size_max];
  const std::size_t length = find_entry(term, entry);
  if (length > 0) return judge_entry(entry, length);
  if (std::strcmp(term, "dumb") == 0) return terminal_verdict::no_addressing;
  return in_ansi_family(term) ? terminal_verdict::usable : terminal_verdict::unknown;
}

void console_terminal_refusal(terminal_verdict verdict, const char *term, char *out,
                              std::size_t size) {
  switch (verdict) {
    case terminal_verdict::unnamed:
      std::snprintf(out, size, "--view needs TERM to name the terminal; TERM is not set");
      return;
    case terminal_verdict::no_addressing:
      std::snprintf(out, size, "--view needs a terminal that can move its cursor; TERM=%s cannot",
                    term);
      return;
    case terminal_verdict::foreign:
      std::snprintf(out, size,
                    "--view needs a terminal that takes ANSI (VT100) sequences; TERM=%s "
                    "takes others",
                    term);
      return;
    case terminal_verdict::unknown:
      std::snprintf(out, size,
                    "--view does not know the terminal TERM=%s (no terminfo entry for it)", term);
      return;
    case terminal_verdict::usable: break;
  }
  if (size > 0) out[0] = '\0';
}
