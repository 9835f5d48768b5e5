#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs the Windows tests of the 64-bit build under Wine.

One throwaway Wine prefix per run, with COM5 backed by a pty on which the
sensor simulator plays the module. First the ctest tests of the build
(unit tests, the directory over fake ports, the export probe), then the
sampling program end to end through a launcher that gives it a hidden
console and turns bytes into key presses. The last line printed is
"N passed, N failed"; the exit status is 1 when anything failed.
"""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

WINE = os.environ.get("ORLANSE_WINE", "/usr/lib/wine/wine64")
WINESERVER = os.environ.get("ORLANSE_WINESERVER", "/usr/lib/wine/wineserver")

BANNER = b"Orlanse Tesmo Sensor read test software\r\n\r\n"
NOT_FOUND = "センサーが見つからない\r\n".encode("cp932")
SAMPLE_FORMAT = "地磁気=({},{},{}), 加速度=({},{},{})\r\n"
FIRST_REPLY = "000100020003FFFF80008001"
SECOND_REPLY = "7FFF7FFF7FFF000000000000"
FIRST_SAMPLE = SAMPLE_FORMAT.format(2, 1, 3, 327680, -10, -327670).encode("cp932")
SECOND_SAMPLE = SAMPLE_FORMAT.format(32767, 32767, 32767, 0, 0, 0).encode("cp932")


def log(text):
    print(text, flush=True)


class WineSession:
    """A fresh prefix, COM5 mapped to a link that each case points at its
    own simulator's pty, and one wineserver kept alive for the session (it
    ends by itself a minute after its last client, should the run die)."""

    def __init__(self, work, sim):
        self.work = work
        self.sim = sim
        self.link = os.path.join(work, "com5")
        self.env = dict(os.environ)
        self.env.pop("DISPLAY", None)
        self.env.update(
            WINEPREFIX=os.path.join(work, "prefix"),
            WINEDEBUG="-all",
            WINEDLLOVERRIDES="mscoree,mshtml=",
            LC_ALL="ja_JP.UTF-8",  # Wine's ANSI code page becomes 932
        )
        self.server = None
        self.placeholder = None

    def wine(self, *args, **kwargs):
        return subprocess.run([WINE, *args], env=self.env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kwargs)

    def start(self):
        # The link must name a tty when the session starts, or Wine maps no
        # COM5: a simulator that never hangs up holds it until the first case.
        self.placeholder = self.start_sim(["--hold"])
        started = time.monotonic()
        self.wine("wineboot", "-i", check=True)
        self.wine("reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM5", "/d", self.link, "/f",
                  check=True)
        subprocess.run([WINESERVER, "-w"], env=self.env, stdin=subprocess.DEVNULL, check=True)
        self.server = subprocess.Popen([WINESERVER, "-f", "-p60"], env=self.env,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        self.wine("cmd", "/c", "exit", check=True)  # brings up the services, COM5 included
        log(f"wine: prefix ready in {time.monotonic() - started:.1f} s")

    def start_sim(self, options):
        """Starts a simulator on a new pty linked from COM5's path; returns
        once the link is there."""
        if os.path.lexists(self.link):
            os.unlink(self.link)
        sim = subprocess.Popen([self.sim, "--pty-link", self.link, *options],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL)
        sim.stdout.readline()  # the pty's path, printed once it is ready
        return sim

    def stop(self):
        if self.server is not None:
            subprocess.run([WINESERVER, "-k"], env=self.env, stdin=subprocess.DEVNULL)
            subprocess.run([WINESERVER, "-w"], env=self.env, stdin=subprocess.DEVNULL)
            self.server.wait()
        stop_process(self.placeholder)


def stop_process(process):
    if process is not None and process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def run_ctest(build, env):
    """Runs the build's ctest tests one at a time; returns (passed, failed)."""
    result = subprocess.run(["ctest", "--test-dir", build, "--output-on-failure"], env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    sys.stdout.write(result.stdout)
    match = re.search(r"tests passed, (\d+) tests failed out of (\d+)", result.stdout)
    if not match:
        return 0, 1
    failed, total = int(match.group(1)), int(match.group(2))
    return total - failed, failed


class ProgramRun:
    """orlanse_sensor.exe through the console launcher: stdout and stderr go
    to files, bytes written to the launcher become key presses."""

    def __init__(self, session, program, launcher, screen=False, env=None, capture=False,
                 unread_pipe=False):
        self.out = os.path.join(session.work, "out.txt")
        self.err = os.path.join(session.work, "err.txt")
        for path in (self.out, self.err):
            if os.path.exists(path):
                os.unlink(path)
        options = ["--screen"] if screen else (["--unread-pipe"] if unread_pipe else [])
        self.process = subprocess.Popen(
            [WINE, launcher, *options, "Z:" + self.out, "Z:" + self.err, "Z:" + program],
            env=env or session.env, stdin=subprocess.PIPE,
            stdout=subprocess.PIPE if capture else subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def output(self):
        try:
            with open(self.out, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""

    def errors(self):
        try:
            with open(self.err, "rb") as f:
                return f.read().decode("cp932", "replace")
        except FileNotFoundError:
            return ""

    def wait_for(self, condition, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if condition(self.output()):
                return True
            if self.process.poll() is not None:
                return condition(self.output())
            time.sleep(0.1)
        return False

    def press_key_and_wait(self, key=b"q"):
        """Presses a key (b"\x03": Ctrl+C); returns the program's status
        (None if it hangs)."""
        try:
            self.process.stdin.write(key)
            self.process.stdin.close()
        except BrokenPipeError:
            pass
        try:
            return self.process.wait(timeout=40)
        except subprocess.TimeoutExpired:
            stop_process(self.process)
            return None


def sample_lines(output):
    """The lines after the banner, each with its CR LF."""
    body = output[len(BANNER):] if output.startswith(BANNER) else output
    return [line + b"\r\n" for line in body.split(b"\r\n")[:-1]]


def fake_ports(session, *args):
    """Rewrites the fake ports: "install" [N] or "remove"."""
    subprocess.run([WINE, session.fake_ports, *args], env=session.env, stdin=subprocess.DEVNULL,
                   check=True)


def check(failures, condition, text):
    if not condition:
        failures.append(text)


def case_samples(session, program, launcher):
    """The two sample replies, alternating, print the two sample lines in
    code page 932; a key ends the program with status 0."""
    failures = []
    sim = session.start_sim([FIRST_REPLY, SECOND_REPLY])
    run = ProgramRun(session, program, launcher)
    check(failures, run.wait_for(lambda out: len(sample_lines(out)) >= 4, 30),
          "four sample lines within 30 s")
    status = run.press_key_and_wait()
    out = run.output()
    lines = sample_lines(out)
    check(failures, status == 0, f"status 0 after a key (got {status})")
    check(failures, out.startswith(BANNER), "the banner and an empty line first")
    expected = [FIRST_SAMPLE, SECOND_SAMPLE] * (len(lines) // 2 + 1)
    check(failures, len(lines) >= 4 and lines == expected[:len(lines)],
          f"sample lines alternate exactly {FIRST_SAMPLE!r} and {SECOND_SAMPLE!r}; got {lines[:4]!r}")
    stop_process(sim)
    return failures, run


def case_not_found(session, program, launcher):
    """No FTDI-bus port: the not-found text, then the program waits for a key
    and ends with status 1."""
    failures = []
    fake_ports(session, "remove")
    run = ProgramRun(session, program, launcher)
    check(failures, run.wait_for(lambda out: out.endswith(NOT_FOUND), 20),
          "the not-found text within 20 s")
    time.sleep(0.5)
    check(failures, run.process.poll() is None, "the program waits for a key")
    status = run.press_key_and_wait()
    check(failures, status == 1, f"status 1 after a key (got {status})")
    check(failures, run.output() == BANNER + NOT_FOUND,
          f"exactly banner, empty line and not-found text; got {run.output()!r}")
    fake_ports(session, "install")
    return failures, run


def case_silent_module(session, program, launcher):
    """A module that never answers: no sample line, no hang; a key still
    ends the program with status 0."""
    failures = []
    sim = session.start_sim(["--silent"])
    run = ProgramRun(session, program, launcher)
    time.sleep(8)  # the opening's five exchanges time out, then samples do
    check(failures, run.process.poll() is None, "still sampling, not ended")
    status = run.press_key_and_wait()
    check(failures, status == 0, f"status 0 after a key (got {status})")
    check(failures, run.output() == BANNER, f"no sample line; got {run.output()!r}")
    stop_process(sim)
    return failures, run


def case_port_gone(session, program, launcher):
    """The module hangs up after two samples: the port counts as gone, the
    not-found text follows the samples, and a key ends with status 1."""
    failures = []
    sim = session.start_sim(["--hang-up-after", "2", FIRST_REPLY, SECOND_REPLY])
    run = ProgramRun(session, program, launcher)
    check(failures, run.wait_for(lambda out: out.endswith(NOT_FOUND), 30),
          "the not-found text after the hang-up within 30 s")
    status = run.press_key_and_wait()
    check(failures, status == 1, f"status 1 after a key (got {status})")
    check(failures, run.output() == BANNER + FIRST_SAMPLE + SECOND_SAMPLE + NOT_FOUND,
          f"two samples, then the not-found text; got {run.output()!r}")
    check(failures, "gone" in run.errors(), f"stderr says the port is gone; got {run.errors()!r}")
    stop_process(sim)
    return failures, run


def case_port_cannot_open(session, program, launcher):
    """The FTDI adapter is listed on COM6, which nothing backs: the
    not-found text, the reason on stderr, and status 1 after a key."""
    failures = []
    fake_ports(session, "install", "6")
    run = ProgramRun(session, program, launcher)
    check(failures, run.wait_for(lambda out: out.endswith(NOT_FOUND), 20),
          "the not-found text within 20 s")
    status = run.press_key_and_wait()
    check(failures, status == 1, f"status 1 after a key (got {status})")
    check(failures, run.output() == BANNER + NOT_FOUND, f"got {run.output()!r}")
    check(failures, "\\\\.\\COM6: " in run.errors(),
          f"stderr names \\\\.\\COM6 and the reason; got {run.errors()!r}")
    fake_ports(session, "install")
    return failures, run


def case_key_waiting_first(session, program, launcher):
    """A key already waiting when sampling would begin ends the program
    before any sample line, with status 0."""
    failures = []
    sim = session.start_sim([FIRST_REPLY, SECOND_REPLY])
    run = ProgramRun(session, program, launcher)
    status = run.press_key_and_wait()  # pressed during the opening
    check(failures, status == 0, f"status 0 (got {status})")
    check(failures, run.output() == BANNER, f"no sample line; got {run.output()!r}")
    stop_process(sim)
    return failures, run


def case_over_long_replies(session, program, launcher):
    """Replies far longer than the reply buffer lost their end: they print no
    line, and the exchanges stay in step for the whole replies between them."""
    failures = []
    sim = session.start_sim([FIRST_REPLY + "0" * 120, FIRST_REPLY,
                             SECOND_REPLY + "F" * 120, SECOND_REPLY])
    run = ProgramRun(session, program, launcher)
    check(failures, run.wait_for(lambda out: len(sample_lines(out)) >= 6, 30),
          "six sample lines within 30 s")
    status = run.press_key_and_wait()
    lines = sample_lines(run.output())
    expected = [FIRST_SAMPLE, SECOND_SAMPLE] * (len(lines) // 2 + 1)
    check(failures, status == 0, f"status 0 after a key (got {status})")
    check(failures, len(lines) >= 6 and lines == expected[:len(lines)],
          f"sample lines alternate exactly; got {lines[:6]!r}")
    stop_process(sim)
    return failures, run


def case_paced_wire(session, program, launcher):
    """At 9600 baud timing, bytes arrive one by one: the samples are right
    and come at the wire's pace. Prints the rate it measured."""
    failures = []
    sim = session.start_sim(["--pace", FIRST_REPLY, SECOND_REPLY])
    run = ProgramRun(session, program, launcher)
    check(failures, run.wait_for(lambda out: len(sample_lines(out)) >= 1, 30),
          "a first sample line within 30 s")
    first = time.monotonic()
    start_count = len(sample_lines(run.output()))
    check(failures, run.wait_for(lambda out: len(sample_lines(out)) >= start_count + 20, 30),
          "twenty more sample lines within 30 s")
    rate = (len(sample_lines(run.output())) - start_count) / (time.monotonic() - first)
    log(f"  paced wire: {rate:.1f} samples/s under Wine")
    status = run.press_key_and_wait()
    lines = sample_lines(run.output())
    expected = [FIRST_SAMPLE, SECOND_SAMPLE] * (len(lines) // 2 + 1)
    check(failures, status == 0, f"status 0 after a key (got {status})")
    check(failures, lines == expected[:len(lines)], f"sample lines alternate; got {lines[:4]!r}")
    stop_process(sim)
    return failures, run


def case_console_screen(session, program, launcher):
    """Written to a console, the texts read right whatever the code page: the
    run uses the C locale's code pages, not 932."""
    failures = []
    sim = session.start_sim(["--delay", "100", FIRST_REPLY, SECOND_REPLY])
    env = dict(session.env, LC_ALL="C.UTF-8")
    run = ProgramRun(session, program, launcher, screen=True, env=env)
    time.sleep(3)  # the opening takes about 1.4 s, each sample then 0.2 s
    status = run.press_key_and_wait()
    rows = run.output().decode("utf-8", "replace").split("\n")
    while rows and rows[-1] == "":
        rows.pop()
    # stderr shares the console: the line naming the port comes first.
    samples = [row for row in rows[2:] if not row.startswith("orlanse_sensor: reading the sensor")]
    check(failures, len(rows) > 2 and rows[2].startswith("orlanse_sensor: reading the sensor on COM5"),
          f"the port in use named after the banner; got {rows[2:3]!r}")
    first = FIRST_SAMPLE.decode("cp932").rstrip("\r\n")
    second = SECOND_SAMPLE.decode("cp932").rstrip("\r\n")
    check(failures, status == 0, f"status 0 after a key (got {status})")
    check(failures, rows[:2] == ["Orlanse Tesmo Sensor read test software", ""],
          f"the banner and an empty row first; got {rows[:2]!r}")
    check(failures, len(samples) >= 1 and samples == ([first, second] * len(samples))[:len(samples)],
          f"sample rows alternate the two samples; got {samples[:3]!r}")
    stop_process(sim)
    return failures, run


PORT_IN_USE_LINE = "orlanse_sensor: reading the sensor on COM5 (\\Device\\VCP0, USB Serial Port)\r\n"
QUICK_EDIT = 0x40
CTRL_C_STATUS = 0xC000013A & 0xFF  # what reaches Linux of Windows' Ctrl+C status


def launcher_modes(run):
    """The console's input mode while sampling and after the program ended,
    as the launcher reports them; (None, None) when it did not."""
    text = run.process.stdout.read().decode("ascii", "replace")
    match = re.search(r"input mode: ([0-9a-f]+) ([0-9a-f]+)", text)
    return (int(match.group(1), 16), int(match.group(2), 16)) if match else (None, None)


def case_quick_edit_and_ctrl_c(session, program, launcher):
    """QuickEdit is off while sampling; a key and Ctrl+C alike put the
    console's mode back. Ctrl+C ends the program as Windows does, with no
    word of a lost port and nothing after the samples."""
    failures = []
    run = None
    for key, expected_status in ((b"q", 0), (b"\x03", CTRL_C_STATUS)):
        sim = session.start_sim([FIRST_REPLY])
        run = ProgramRun(session, program, launcher, capture=True)
        check(failures, run.wait_for(lambda out: len(sample_lines(out)) >= 2, 30),
              f"two sample lines within 30 s ({key!r})")
        status = run.press_key_and_wait(key)
        sampling, after = launcher_modes(run)
        check(failures, status == expected_status,
              f"status {expected_status} after {key!r} (got {status})")
        check(failures, sampling is not None and not sampling & QUICK_EDIT,
              f"QuickEdit off while sampling ({key!r}): mode {sampling}")
        check(failures, after is not None and after & QUICK_EDIT,
              f"QuickEdit back on after {key!r}: mode {after}")
        lines = sample_lines(run.output())
        check(failures, lines and all(line == FIRST_SAMPLE for line in lines),
              f"only sample lines after {key!r}; got {lines[-2:]!r}")
        check(failures, run.errors() == PORT_IN_USE_LINE,
              f"only the port in use on stderr after {key!r}: {run.errors()!r}")
        stop_process(sim)
    return failures, run


CSV_HEADER = b"index,seconds,geo1,geo2,geo3,acc1,acc2,acc3,geo_magnitude,acc_magnitude\r\n"


def case_csv_redirected(session, program, launcher):
    """--csv to a file: the header, then one row per sample with the six
    values of the sample lines, flushed as they come."""
    failures = []
    sim = session.start_sim([FIRST_REPLY, SECOND_REPLY])
    run = ProgramRun(session, program + " --csv", launcher)
    check(failures, run.wait_for(lambda out: out.count(b"\r\n") >= 5, 30),
          "the header and four rows within 30 s")
    status = run.press_key_and_wait()
    rows = run.output().split(b"\r\n")[:-1]
    check(failures, status == 0, f"status 0 after a key (got {status})")
    check(failures, rows[:1] == [CSV_HEADER.rstrip(b"\r\n")], f"the header first; got {rows[:1]!r}")
    values = [b",".join(row.split(b",")[2:8]) for row in rows[1:]]
    expected = [b"2,1,3,327680,-10,-327670", b"32767,32767,32767,0,0,0"] * (len(values) // 2 + 1)
    check(failures, len(values) >= 4 and values == expected[:len(values)],
          f"rows alternate the two samples; got {values[:3]!r}")
    check(failures, all(row.split(b",")[0] == str(i).encode() for i, row in enumerate(rows[1:])),
          "rows are numbered from 0")
    stop_process(sim)
    return failures, run


def case_view_on_console(session, program, launcher):
    """--view on a console: virtual terminal processing is taken, the view
    runs until a key and leaves the alternate screen. Wine's console keeps
    the sequences as text instead of acting on them, so the saved screen
    shows the frames as they were written."""
    failures = []
    sim = session.start_sim(["--delay", "50", FIRST_REPLY])
    run = ProgramRun(session, program + " --view", launcher, screen=True)
    time.sleep(4)  # the opening takes about 1.4 s, then frames at most 20 a second
    status = run.press_key_and_wait()
    screen = run.output().decode("utf-8", "replace")
    check(failures, status == 0, f"status 0 after a key (got {status}); screen: {screen[:400]!r}")
    check(failures, "needs a terminal" not in screen, "the console takes the view")
    flat = screen.replace("\n", "")
    check(failures, "\x1b[?1049h" in flat and flat.rstrip().endswith("\x1b[?1049l"),
          f"the alternate screen entered and left; screen ends {flat.rstrip()[-80:]!r}")
    check(failures, "live view  COM5" in flat and "327680" in flat and "-327670" in flat,
          "the view shows the port and the sample's values")
    check(failures, "orlanse_sensor: reading the sensor on COM5" in screen,
          f"the port in use named; screen: {screen[:400]!r}")
    stop_process(sim)
    return failures, run


def case_unread_pipe(session, program, launcher):
    """stdout a pipe that is full and never read: the banner cannot be
    written, and a key still ends the run at once, as a key does (status
    0), saying on stderr how much was not written."""
    failures = []
    sim = session.start_sim([FIRST_REPLY, SECOND_REPLY])
    run = ProgramRun(session, program, launcher, unread_pipe=True)
    time.sleep(2)
    started = time.monotonic()
    status = run.press_key_and_wait()
    check(failures, status == 0, f"status 0 after a key (got {status})")
    check(failures, time.monotonic() - started < 30, "the key ends the run")
    said = ("orlanse_sensor: a key ended the run while stdout took no output; "
            "40 bytes were not written\r\n")
    check(failures, run.errors() == said, f"stderr counts the banner; got {run.errors()!r}")
    stop_process(sim)
    return failures, run


def case_replay_and_record(session, program, launcher):
    """The shipped recording plays as the module with no port: --count ends
    the run with status 0 and no key; --record writes a new recording and
    never replaces an existing one (status 2)."""
    failures = []
    demo = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "data", "demo.rec")
    recording = os.path.join(session.work, "run.rec")
    command = f"{program} --replay Z:{os.path.abspath(demo)} --fast --count 5 --record Z:{recording}"
    fake_ports(session, "remove")
    for attempt in (1, 2):
        run = ProgramRun(session, command, launcher)
        run.process.stdin.close()  # no key: the launcher lives as long as its stdin
        try:
            status = run.process.wait(timeout=40)
        except subprocess.TimeoutExpired:
            stop_process(run.process)
            status = None
        if attempt == 1:
            check(failures, status == 0, f"status 0 with no key (got {status})")
            check(failures, len(sample_lines(run.output())) == 5,
                  f"five sample lines; got {run.output()!r}")
            with open(recording, "rb") as f:
                check(failures, f.read().startswith(b"orlanse_sensor recording 1\n"),
                      "the recording starts with its header")
        else:
            check(failures, status == 2, f"status 2 for an existing recording (got {status})")
            check(failures, "exists already; a recording never replaces a file" in run.errors(),
                  f"the refusal on stderr; got {run.errors()!r}")
    fake_ports(session, "install")
    return failures, run


CASES = [case_samples, case_not_found, case_silent_module, case_port_gone, case_port_cannot_open,
         case_key_waiting_first, case_over_long_replies, case_paced_wire, case_console_screen,
         case_quick_edit_and_ctrl_c, case_csv_redirected, case_view_on_console, case_unread_pipe,
         case_replay_and_record]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the mingw64 build directory")
    parser.add_argument("--sim", required=True, help="the sensor_sim program (a Linux build)")
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    program = os.path.join(build, "app", "orlanse_sensor.exe")
    launcher = os.path.join(build, "tests", "windows", "console_launcher.exe")

    work = tempfile.mkdtemp(prefix="orlanse-wine-")
    session = WineSession(work, os.path.abspath(args.sim))
    session.fake_ports = os.path.join(build, "tests", "windows", "fake_ports.exe")
    passed = failed = 0
    try:
        session.start()
        passed, failed = run_ctest(build, session.env)
        stop_process(session.placeholder)
        session.placeholder = None
        fake_ports(session, "install")
        for case in CASES:
            started = time.monotonic()
            failures, run = case(session, program, launcher)
            took = time.monotonic() - started
            if failures:
                failed += 1
                log(f"FAILED {case.__name__} ({took:.1f} s)")
                for text in failures:
                    log(f"  - {text}")
                log(f"  stderr: {run.errors()!r}")
            else:
                passed += 1
                log(f"passed {case.__name__} ({took:.1f} s)")
    finally:
        session.stop()
        shutil.rmtree(work, ignore_errors=True)
    log(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
