// SPDX-License-Identifier: MIT
// sensor_sim: plays the sensor module on a pty of its own. Prints the path of
// the pty's slave side (the port a program should open) on one line, then
// answers commands until it is killed or the peer hangs up.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "sensor_sim.h"

namespace {

const char usage_text[] =
    "usage: sensor_sim [options] [REPLY...]\n"
    "Plays the sensor module on a new pty and prints the pty's path.\n"
    "Each REPLY answers a \"29\" as it goes on the wire (24 hex digits for a\n"
    "well-formed sample); they are used in turn, then from the first again.\n"
    "Default: 000100020003FFFF80008001 7FFF7FFF7FFF000000000000.\n"
    "  --pace             9600 baud 8N1 timing in both directions\n"
    "  --silent           never answer\n"
    "  --delay MS         wait MS milliseconds before every reply\n"
    "  --line-end END     end reply lines with crlf (default), cr, lf or lfcr\n"
    "  --trailer N        follow every line end with the byte N (62 for '>', 0 for NUL)\n"
    "  --trailer-delay MS the trailer reaches the host MS milliseconds late\n"
    "  --chatter MS       send a status line every MS milliseconds, unasked\n"
    "  --stream MS        send the next sample every MS milliseconds, unasked\n"
    "  --reset-after N    after N samples answer ERR to everything until the\n"
    "                     opening sequence comes again\n"
    "  --drip MS          wait MS milliseconds before each byte of a reply\n"
    "  --echo             start every reply with its command's text\n"
    "  --answer-first N   answer the first N commands, then stay silent\n"
    "  --hang-up-after N  answer N sample requests, hang up at the next\n"
    "  --script FILE      replies from FILE, one a line (lines starting with # skipped)\n"
    "  --pty-link PATH    also make PATH a symbolic link to the pty (removed at exit)\n"
    "  --log FILE         write each command received, with its time in seconds\n"
    "  --keep-going       keep playing when the peer closes the port\n"
    "  --hold             keep the pty's slave side open too: the port never\n"
    "                     hangs up, and the play lasts until killed\n"
    "  --ftdi-latency MS  release replies as an FTDI chip does, with a latency\n"
    "                     timer of MS milliseconds\n"
    "  --ftdi-latency-file PATH  the same, taking the timer from PATH at each reply\n"
    "  --ftdi-event-char N  the chip's event character (a byte value, 10 for LF)\n";

int stop_pipe[2] = {-1, -1};

void on_signal(int) {
  const char byte = 's';
  ssize_t ignored = write(stop_pipe[1], &byte, 1);
  (void)ignored;
}

struct cli_options {
  sim_options play;
  const char *link_path = nullptr;
  const char *log_path = nullptr;
  bool hold = false;
};

bool read_script(const char *path, std::vector<sim_reply> &replies) {
  std::ifstream file(path);
  if (!file) return false;
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '#') continue;
    replies.push_back(sim_raw(line));
  }
  return true;
}

bool parse_count(const char *text, int &value) {
  char *end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || parsed < 0 || parsed > 1000000000) return false;
  value = static_cast<int>(parsed);
  return true;
}

// Returns 0 when the options are good, else the exit status.
int parse_options(int argc, char **argv, cli_options &options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage_text, stdout);
      return -1;
    } else if (arg == "--pace") {
      options.play.pace = true;
    } else if (arg == "--silent") {
      options.play.silent = true;
    } else if (arg == "--keep-going") {
      options.play.end_on_hangup = false;
    } else if (arg == "--hold") {
      options.hold = true;
    } else if (arg == "--delay" && has_value) {
      if (!parse_count(argv[++i], options.play.reply_delay_ms)) return 2;
    } else if (arg == "--echo") {
      options.play.echo = true;
    } else if (arg == "--line-end" && has_value) {
      const std::string end = argv[++i];
      if (end == "crlf") {
        options.play.line_end = "\r\n";
      } else if (end == "cr") {
        options.play.line_end = "\r";
      } else if (end == "lf") {
        options.play.line_end = "\n";
      } else if (end == "lfcr") {
        options.play.line_end = "\n\r";
      } else {
        return 2;
      }
    } else if (arg == "--trailer" && has_value) {
      if (!parse_count(argv[++i], options.play.trailer) || options.play.trailer > 255) return 2;
    } else if (arg == "--trailer-delay" && has_value) {
      if (!parse_count(argv[++i], options.play.trailer_delay_ms)) return 2;
    } else if (arg == "--chatter" && has_value) {
      if (!parse_count(argv[++i], options.play.chatter_ms)) return 2;
    } else if (arg == "--stream" && has_value) {
      if (!parse_count(argv[++i], options.play.stream_ms)) return 2;
    } else if (arg == "--reset-after" && has_value) {
      if (!parse_count(argv[++i], options.play.reset_after_samples)) return 2;
    } else if (arg == "--drip" && has_value) {
      if (!parse_count(argv[++i], options.play.drip_ms)) return 2;
    } else if (arg == "--answer-first" && has_value) {
      if (!parse_count(argv[++i], options.play.answer_first)) return 2;
    } else if (arg == "--hang-up-after" && has_value) {
      if (!parse_count(argv[++i], options.play.hang_up_after_samples)) return 2;
    } else if (arg == "--script" && has_value) {
      if (!read_script(argv[++i], options.play.samples)) {
        std::fprintf(stderr, "sensor_sim: cannot read %s: %s\n", argv[i], std::strerror(errno));
        return 1;
      }
    } else if (arg == "--ftdi-latency" && has_value) {
      options.play.ftdi.enabled = true;
      if (!parse_count(argv[++i], options.play.ftdi.latency_ms) ||
          options.play.ftdi.latency_ms == 0) {
        return 2;
      }
    } else if (arg == "--ftdi-latency-file" && has_value) {
      options.play.ftdi.enabled = true;
      options.play.ftdi.latency_file = argv[++i];
    } else if (arg == "--ftdi-event-char" && has_value) {
      options.play.ftdi.enabled = true;
      if (!parse_count(argv[++i], options.play.ftdi.event_char) ||
          options.play.ftdi.event_char > 255) {
        return 2;
      }
    } else if (arg == "--pty-link" && has_value) {
      options.link_path = argv[++i];
    } else if (arg == "--log" && has_value) {
      options.log_path = argv[++i];
    } else if (!arg.empty() && arg[0] == '-') {
      return 2;
    } else {
      options.play.samples.push_back(sim_raw(arg));
    }
  }
  if (options.play.samples.empty()) {
    options.play.samples = {sim_raw("000100020003FFFF80008001"),
                            sim_raw("7FFF7FFF7FFF000000000000")};
  }
  return 0;
}

// Opens a pty pair in raw 9600 baud mode; returns the master, or -1.
int open_raw_pty(std::string &slave_path) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
  const char *name = ptsname(master);
  if (name == nullptr) return -1;
  slave_path = name;
  // Settings made through the master apply to the slave side.
  termios settings;
  if (tcgetattr(master, &settings) != 0) return -1;
  cfmakeraw(&settings);
  cfsetispeed(&settings, B9600);
  cfsetospeed(&settings, B9600);
  if (tcsetattr(master, TCSANOW, &settings) != 0) return -1;
  return master;
}

bool make_link(const char *link_path, const std::string &target) {
  struct stat st;
  if (lstat(link_path, &st) == 0 && S_ISLNK(st.st_mode)) unlink(link_path);
  return symlink(target.c_str(), link_path) == 0;
}

}  // namespace

int main(int argc, char **argv) {
  cli_options options;
  const int parsed = parse_options(argc, argv, options);
  if (parsed == -1) return 0;
  if (parsed != 0) {
    if (parsed == 2) std::fputs(usage_text, stderr);
    return parsed;
  }

  std::FILE *log_file = nullptr;
  if (options.log_path != nullptr) {
    log_file = std::fopen(options.log_path, "w");
    if (log_file == nullptr) {
      std::fprintf(stderr, "sensor_sim: cannot write %s: %s\n", options.log_path,
                   std::strerror(errno));
      return 1;
    }
    const sim_clock::time_point start = sim_clock::now();
    options.play.on_command = [log_file, start](const sim_command &command) {
      const double seconds = std::chrono::duration<double>(command.received - start).count();
      std::fprintf(log_file, "%.4f\t%s\n", seconds, command.text.c_str());
      std::fflush(log_file);
    };
  }

  std::string slave_path;
  const int master = open_raw_pty(slave_path);
  if (master < 0) {
    std::fprintf(stderr, "sensor_sim: cannot open a pty: %s\n", std::strerror(errno));
    return 1;
  }
  const int held_slave =
      options.hold ? open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
  if (options.link_path != nullptr && !make_link(options.link_path, slave_path)) {
    std::fprintf(stderr, "sensor_sim: cannot link %s: %s\n", options.link_path,
                 std::strerror(errno));
    return 1;
  }

  if (pipe2(stop_pipe, O_CLOEXEC) != 0) return 1;
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::printf("%s\n", slave_path.c_str());
  std::fflush(stdout);

  const sim_end end = sim_play(master, options.play, nullptr, stop_pipe[0]);

  if (options.link_path != nullptr) unlink(options.link_path);
  if (held_slave >= 0) close(held_slave);
  close(master);
  if (log_file != nullptr) std::fclose(log_file);
  return end == sim_end::failed ? 1 : 0;
}
