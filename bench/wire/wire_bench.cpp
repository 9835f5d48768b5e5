// SPDX-License-Identifier: MIT
// wire_bench: the real orlanse_sensor against the module simulator pacing
// both directions at 9600 baud 8N1, on a fake FTDI adapter. Prints figures,
// never pass/fail: samples per second as a ratio to what the wire allows,
// for each way a module may end its lines (CR LF, CR, LF, LF CR, a trailer
// byte after the end, a trailer that reaches the host late), each against
// its own wire limit; with the replies handed over at once, through a
// simulated FTDI chip with
// its default 16 ms latency timer, and through the same chip with the timer
// as the program sets it (it lowers the adapter's latency_timer to 1 ms);
// CPU time per sample, time from start to the first sample line, and the
// delay from a key press to the program's end; and the rate with the module
// behind a real ser2net on loopback, with the size of a recording of it.
//
// usage: wire_bench [SAMPLES [RUNS]]   (default 250 samples, 5 short runs)
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "program_harness.h"

namespace {

using namespace std::chrono_literals;
using seconds = std::chrono::duration<double>;

constexpr auto patience = 60s;
constexpr double wire_bytes_per_second = 9600.0 / 10;  // start, 8 data and stop bit

// One sample on the wire: the request and its reply, then the follow-up
// command and its reply (the module answers each command with a line, CR LF).
const char sample_request[] = "29\r\n";
const char sample_reply[] = "000100020003FFFF80008001\r\n";
const char follow_up[] = "21\r\n";
const char follow_up_reply[] = "21\r\n";

std::size_t bytes_per_sample() {
  return std::strlen(sample_request) + std::strlen(sample_reply) + std::strlen(follow_up) +
         std::strlen(follow_up_reply);
}

// How the module ends its lines.
struct framing {
  const char *name;
  std::string end;
  int trailer;   // -1: none
  int delay_ms;  // the trailer reaches the host this much later
};

const framing framings[] = {
    {"CR LF", "\r\n", -1, 0},
    {"CR", "\r", -1, 0},
    {"LF", "\n", -1, 0},
    {"LF CR", "\n\r", -1, 0},
    {"CR LF + '>'", "\r\n", '>', 0},
    {"CR LF + NUL", "\r\n", 0, 0},
    {"LF CR + '>'", "\n\r", '>', 0},
    {"CR LF + '>' 16 ms late", "\r\n", '>', 16},
    {"LF + NUL 16 ms late", "\n", 0, 16},
};

// Bytes of one sample on the wire with this framing: both commands and
// both answers with their ends and trailers.
std::size_t bytes_per_sample(const framing &f) {
  const std::size_t end = f.end.size() + (f.trailer >= 0 ? 1 : 0);
  return std::strlen(sample_request) + 24 + end + std::strlen(follow_up) + 2 + end;
}

double cpu_seconds(const rusage &usage, bool user) {
  const timeval &t = user ? usage.ru_utime : usage.ru_stime;
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

struct run_figures {
  bool ok = false;
  double first_sample_s = 0;  // start to the first sample line
  double rate = 0;            // samples per second between the first and last line
  std::size_t samples = 0;
  double user_s = 0;
  double sys_s = 0;
  double wall_s = 0;  // start to exit
  long wakeups = 0;   // voluntary context switches
  double key_to_exit_s = 0;
};

constexpr std::size_t banner_lines = 2;

// How the simulated adapter hands the module's replies to the host.
enum class chip_timer {
  none,            // at once, as the bytes leave the line
  default_16,      // an FTDI chip with its 16 ms latency timer, whatever the program asks
  as_program_sets  // the same chip, its timer read from the latency_timer the program writes
};

const char *chip_timer_name(chip_timer timer) {
  switch (timer) {
    case chip_timer::none: return "no latency timer";
    case chip_timer::default_16: return "16 ms latency timer";
    case chip_timer::as_program_sets: break;
  }
  return "16 ms timer, program's own settings";
}

// What a real usb-serial port has besides the record: the tty's device link
// and the FTDI latency timer, at its default of 16 ms. Returns the path of
// the timer's attribute in the bed.
std::string add_latency_timer(const adapter_bed &bed) {
  const std::string port = bed.root() + ftdi_adapter_syspath(0) + "/1-2:1.0/ttyUSB0";
  const std::string device_link = port + "/tty/ttyUSB0/device";
  unlink(device_link.c_str());
  if (symlink("../../../ttyUSB0", device_link.c_str()) != 0) {
    std::fprintf(stderr, "wire_bench: cannot link %s\n", device_link.c_str());
  }
  const std::string attribute = port + "/latency_timer";
  if (std::FILE *file = std::fopen(attribute.c_str(), "w")) {
    std::fputs("16\n", file);
    std::fclose(file);
  }
  return attribute;
}

ftdi_release_options chip_options(chip_timer timer, const std::string &attribute) {
  ftdi_release_options chip;
  chip.enabled = timer != chip_timer::none;
  chip.latency_ms = 16;
  if (timer == chip_timer::as_program_sets) chip.latency_file = attribute;
  return chip;
}

// One run: the program samples until `samples` lines have arrived, then,
// press_delay later (so the key falls at various points of an exchange), a
// key ends it. A silent module answers the opening and no sample request.
run_figures measure_run(std::size_t samples, bool silent_module,
                        std::chrono::milliseconds press_delay = 0ms,
                        chip_timer timer = chip_timer::none, const framing &ends = framings[0]) {
  run_figures figures;
  adapter_bed bed(ftdi_adapter_record(0));
  if (!bed.ok()) {
    std::fprintf(stderr, "wire_bench: test bed: %s\n", bed.error().c_str());
    return figures;
  }
  sim_options options;
  options.pace = true;
  options.ftdi = chip_options(timer, add_latency_timer(bed));
  options.samples = {sim_raw(std::string(sample_reply, std::strlen(sample_reply) - 2))};
  options.line_end = ends.end;
  options.trailer = ends.trailer;
  options.trailer_delay_ms = ends.delay_ms;
  // Silent: the opening is answered, sample requests never are.
  if (silent_module) options.samples = {sim_raw("", true, 3600 * 1000)};
  sensor_sim module(bed.master("/dev/ttyUSB0"), options);

  program_run program(sensor_program_path(), true);
  if (!program.started()) {
    std::fprintf(stderr, "wire_bench: %s\n", program.error().c_str());
    return figures;
  }
  if (silent_module) {
    if (!module.log().wait_for_commands(6, patience)) return figures;
    std::this_thread::sleep_for(1500ms);
  } else if (!program.wait_for_lines(banner_lines + samples, patience)) {
    std::fprintf(stderr, "wire_bench: no %zu samples in time\n", samples);
    return figures;
  }
  std::this_thread::sleep_for(press_delay);
  const sim_clock::time_point pressed = sim_clock::now();
  program.press_key();
  if (!program.wait_exit(patience)) return figures;

  const program_exit end = program.exit_info();
  const std::vector<output_line> lines = program.out_lines();
  figures.ok = end.exited && end.status == 0;
  figures.key_to_exit_s = seconds(end.when - pressed).count();
  figures.user_s = cpu_seconds(end.usage, true);
  figures.sys_s = cpu_seconds(end.usage, false);
  figures.wall_s = seconds(end.when - program.start_time()).count();
  figures.wakeups = end.usage.ru_nvcsw;
  figures.samples = lines.size() > banner_lines ? lines.size() - banner_lines : 0;
  if (figures.samples > 0) {
    figures.first_sample_s = seconds(lines[banner_lines].arrived - program.start_time()).count();
  }
  if (figures.samples > 1) {
    const double span = seconds(lines.back().arrived - lines[banner_lines].arrived).count();
    figures.rate = static_cast<double>(figures.samples - 1) / span;
  }
  return figures;
}

// Reads from fd up to and including the next LF; false when the line
// cannot be read.
bool read_line(int fd) {
  char byte;
  for (;;) {
    const ssize_t count = read(fd, &byte, 1);
    if (count != 1) return false;
    if (byte == '\n') return true;
  }
}

bool send(int fd, const char *text) {
  const ssize_t length = static_cast<ssize_t>(std::strlen(text));
  return write(fd, text, static_cast<std::size_t>(length)) == length;
}

// The same exchanges as the program, by a bare client with blocking reads on
// a plain pty played by the same paced simulator: what the simulated wire,
// the simulator and the kernel allow, without the program. Samples per
// second (0 on failure) and the client's CPU seconds per sample.
struct reference_figures {
  double rate = 0;
  double cpu_per_sample_s = 0;
};

reference_figures reference_run(std::size_t samples) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return {};
  const int port = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios settings;
  if (port < 0 || tcgetattr(port, &settings) != 0) return {};
  cfmakeraw(&settings);
  tcsetattr(port, TCSANOW, &settings);
  reference_figures figures;
  {
    sim_options options;
    options.pace = true;
    options.samples = {sim_raw(std::string(sample_reply, std::strlen(sample_reply) - 2))};
    sensor_sim module(master, options);
    sim_clock::time_point first{};
    rusage before{};
    bool ok = true;
    for (std::size_t i = 0; ok && i < samples; ++i) {
      ok =
          send(port, sample_request) && read_line(port) && send(port, follow_up) && read_line(port);
      if (i == 0) {
        first = sim_clock::now();
        getrusage(RUSAGE_THREAD, &before);
      }
    }
    rusage after{};
    getrusage(RUSAGE_THREAD, &after);
    if (ok) {
      const double n = static_cast<double>(samples - 1);
      figures.rate = n / seconds(sim_clock::now() - first).count();
      figures.cpu_per_sample_s = (cpu_seconds(after, true) + cpu_seconds(after, false) -
                                  cpu_seconds(before, true) - cpu_seconds(before, false)) /
                                 n;
    }
    close(port);
  }
  close(master);
  return figures;
}

// The module behind a real ser2net on loopback (raw TCP, the simulator on a
// pty paced at 9600 baud), read with --port tcp://... --record: samples per
// second, and the recording's size per minute of sampling.
struct network_figures {
  bool ok = false;
  double rate = 0;
  std::size_t samples = 0;
  double recording_bytes_per_minute = 0;
  double recording_bytes_per_sample = 0;
};

network_figures measure_ser2net_run(std::size_t samples, const ser2net_setup &setup) {
  network_figures figures;
  test_bed bed;  // no local port: the program reads only the network
  sim_options options;
  options.pace = true;
  options.samples = {sim_raw(std::string(sample_reply, std::strlen(sample_reply) - 2))};
  network_module module(options, setup);
  if (!module.ok()) {
    std::fprintf(stderr, "wire_bench: ser2net: %s\n", module.error().c_str());
    return figures;
  }
  char dir[] = "/tmp/wire_bench_XXXXXX";
  if (mkdtemp(dir) == nullptr) return figures;
  const std::string recording = std::string(dir) + "/run.rec";
  program_run program(run_options().arg("--port").arg(module.url()).arg("--record").arg(recording));
  if (program.wait_for_lines(banner_lines + samples, patience)) {
    program.press_key();
    program.wait_exit(patience);
    const std::vector<output_line> lines = program.out_lines();
    figures.ok = program.exit_info().exited && program.exit_info().status == 0;
    figures.samples = lines.size() - banner_lines;
    const double span = seconds(lines.back().arrived - lines[banner_lines].arrived).count();
    figures.rate = static_cast<double>(figures.samples - 1) / span;
    // What the recording grows by while sampling: its size less the part
    // before the first sample, per sample and per minute at this rate.
    struct stat status {};
    const double size =
        stat(recording.c_str(), &status) == 0 ? static_cast<double>(status.st_size) : 0;
    figures.recording_bytes_per_sample = size / static_cast<double>(figures.samples);
    figures.recording_bytes_per_minute = figures.recording_bytes_per_sample * figures.rate * 60;
  }
  unlink(recording.c_str());
  rmdir(dir);
  return figures;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

bool parse_count(const char *text, std::size_t &value) {
  char *end = nullptr;
  const unsigned long parsed = std::strtoul(text, &end, 10);
  if (end == text || *end != '\0' || parsed < 2 || parsed > 100000) return false;
  value = parsed;
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  std::size_t samples = 250;
  std::size_t runs = 5;
  if (argc > 3 || (argc > 1 && !parse_count(argv[1], samples)) ||
      (argc > 2 && !parse_count(argv[2], runs))) {
    std::fprintf(stderr, "usage: wire_bench [SAMPLES [RUNS]]  (at least 2 each)\n");
    return 2;
  }
  const double limit = wire_bytes_per_second / static_cast<double>(bytes_per_sample());
  std::printf("orlanse_sensor against the simulated module, 9600 baud 8N1 paced both ways\n");
  std::printf("program                         %s\n", sensor_program_path());
  std::printf(
      "bytes per sample on the wire    %zu (\"29\" %zu + reply %zu, \"21\" %zu + reply %zu)\n",
      bytes_per_sample(), std::strlen(sample_request), std::strlen(sample_reply),
      std::strlen(follow_up), std::strlen(follow_up_reply));
  std::printf("wire limit                      %.2f samples/s (%.0f bytes/s)\n", limit,
              wire_bytes_per_second);
  std::fflush(stdout);

  std::printf("%-26s %6s %8s %10s %7s\n", "framing", "bytes", "limit/s", "measured/s", "ratio");
  for (const framing &f : framings) {
    const double f_limit = wire_bytes_per_second / static_cast<double>(bytes_per_sample(f));
    const run_figures run = measure_run(samples, false, 0ms, chip_timer::none, f);
    if (!run.ok) {
      std::fprintf(stderr, "wire_bench: the run with %s failed\n", f.name);
      return 1;
    }
    std::printf("%-26s %6zu %8.2f %10.2f %7.3f\n", f.name, bytes_per_sample(f), f_limit, run.rate,
                run.rate / f_limit);
    std::fflush(stdout);
  }

  run_figures long_run;
  for (const chip_timer timer :
       {chip_timer::none, chip_timer::default_16, chip_timer::as_program_sets}) {
    const run_figures run = measure_run(samples, false, 0ms, timer);
    if (!run.ok) {
      std::fprintf(stderr, "wire_bench: the run with %s failed\n", chip_timer_name(timer));
      return 1;
    }
    std::printf("%-36s %.2f samples/s, ratio %.3f (%zu samples)\n", chip_timer_name(timer),
                run.rate, run.rate / limit, run.samples);
    std::fflush(stdout);
    if (timer == chip_timer::none) long_run = run;
  }
  std::printf("figures below: the run with no latency timer\n");
  const double cpu = long_run.user_s + long_run.sys_s;
  std::printf("measured                        %.2f samples/s over %zu samples\n", long_run.rate,
              long_run.samples);
  std::printf("ratio to the wire limit         %.3f\n", long_run.rate / limit);
  std::printf("CPU per sample                  %.1f us (user %.3f s + sys %.3f s in all)\n",
              cpu / static_cast<double>(long_run.samples) * 1e6, long_run.user_s, long_run.sys_s);
  std::printf("wake-ups per sample             %.1f\n",
              static_cast<double>(long_run.wakeups) / static_cast<double>(long_run.samples));
  std::printf("CPU share of one core           %.2f %% over the whole run (%.1f s)\n",
              100 * cpu / long_run.wall_s, long_run.wall_s);
  std::fflush(stdout);

  const reference_figures reference = reference_run(samples);
  std::printf(
      "bare client on the same wire    %.2f samples/s, ratio %.3f, CPU %.1f us per sample\n",
      reference.rate, reference.rate / limit, reference.cpu_per_sample_s * 1e6);
  std::fflush(stdout);

  std::vector<double> first_sample{long_run.first_sample_s};
  std::vector<double> key_to_exit{long_run.key_to_exit_s};
  for (std::size_t run = 1; run < runs; ++run) {
    const auto press_delay = std::chrono::milliseconds(static_cast<long>(run * 9 % 40));
    const run_figures short_run = measure_run(3, false, press_delay);
    if (!short_run.ok) {
      std::fprintf(stderr, "wire_bench: a short run failed\n");
      return 1;
    }
    first_sample.push_back(short_run.first_sample_s);
    key_to_exit.push_back(short_run.key_to_exit_s);
  }
  std::printf("start to first sample line      median %.0f ms, max %.0f ms (%zu runs)\n",
              1000 * median(first_sample),
              1000 * *std::max_element(first_sample.begin(), first_sample.end()), runs);
  std::printf("key press to exit, answering    median %.0f ms, max %.0f ms (%zu runs)\n",
              1000 * median(key_to_exit),
              1000 * *std::max_element(key_to_exit.begin(), key_to_exit.end()), runs);
  std::fflush(stdout);

  const run_figures silent = measure_run(0, true);
  if (!silent.ok) {
    std::fprintf(stderr, "wire_bench: the silent run failed\n");
    return 1;
  }
  std::printf("key press to exit, silent       %.0f ms\n", 1000 * silent.key_to_exit_s);
  std::fflush(stdout);

  if (!ser2net_available()) {
    std::printf("through ser2net                 skipped: ser2net is not installed\n");
    return 0;
  }
  // ser2net as the manual configures it (TCP_NODELAY, each line sent at its
  // CR LF), and with its defaults, which hold small writes back (Nagle) and
  // wait for more characters before they send.
  ser2net_setup defaults;
  defaults.accepter_options = "";
  defaults.options = "";
  network_figures network;
  for (const bool manual : {true, false}) {
    const network_figures run = measure_ser2net_run(samples, manual ? ser2net_setup() : defaults);
    if (!run.ok) {
      std::fprintf(stderr, "wire_bench: the run through ser2net failed\n");
      return 1;
    }
    std::printf("through ser2net, %-16s%.2f samples/s, ratio %.3f (%zu samples)\n",
                manual ? "manual's config" : "its defaults", run.rate, run.rate / limit,
                run.samples);
    std::fflush(stdout);
    if (manual) network = run;
  }
  std::printf(
      "recording (--record)            %.0f bytes per sample, %.0f KiB per minute at that "
      "rate, %.0f KiB per minute at the wire limit\n",
      network.recording_bytes_per_sample, network.recording_bytes_per_minute / 1024,
      network.recording_bytes_per_sample * limit * 60 / 1024);
  return 0;
}
