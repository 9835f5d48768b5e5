#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""wire_bench under Wine: the 64-bit orlanse_sensor.exe against the module
simulator on COM5 (a pty), pacing both directions at 9600 baud 8N1. Prints
samples per second as a ratio to what the wire allows, with the replies
handed over at once, through a simulated FTDI chip with its default 16 ms
latency timer, and through the same chip with the program's own settings.

Wine passes no event character to a pty, so for the last figure the
simulator is told the one the program sets in its DCB (LF, checked by the
unit tests): on Windows the FTDI driver hands it to the chip, which then
sends each reply line as soon as its LF arrives. Figures, never pass/fail.

usage: wire_bench_wine.py --build build/mingw64 --sim build/.../sensor_sim [--samples N]
"""
import argparse
import os
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "windows"))
import run_wine_tests as wine  # noqa: E402  (the Wine session of the tests)

REPLY = "000100020003FFFF80008001"
# One sample on the wire: "29\r\n", the reply and CR LF, "21\r\n" and its echo.
BYTES_PER_SAMPLE = 4 + len(REPLY) + 2 + 4 + 4
WIRE_LIMIT = 960.0 / BYTES_PER_SAMPLE  # 9600 baud, 10 bits a byte

SETTINGS = [
    ("no latency timer", []),
    ("16 ms latency timer", ["--ftdi-latency", "16"]),
    ("16 ms timer, program's own settings", ["--ftdi-latency", "16", "--ftdi-event-char", "10"]),
]


def sample_times(log_path):
    """Times (s) at which the simulator received each sample request."""
    times = []
    try:
        with open(log_path) as log:
            for line in log:
                fields = line.rstrip("\n").split("\t")
                if len(fields) == 2 and fields[1] == "29":
                    times.append(float(fields[0]))
    except FileNotFoundError:
        pass
    return times


def measure(session, program, launcher, options, samples):
    """Samples per second between the 5th and the last of `samples` requests."""
    log_path = os.path.join(session.work, "sim.log")
    if os.path.exists(log_path):
        os.unlink(log_path)
    sim = session.start_sim(["--pace", "--log", log_path, *options, REPLY])
    run = wine.ProgramRun(session, program, launcher)
    deadline = time.monotonic() + 30 + samples / 5
    while len(sample_times(log_path)) < samples and time.monotonic() < deadline:
        if run.process.poll() is not None:
            break
        time.sleep(0.2)
    status = run.press_key_and_wait()
    wine.stop_process(sim)
    times = sample_times(log_path)[4:samples]
    if status != 0 or len(times) < 2:
        return None
    return (len(times) - 1) / (times[-1] - times[0])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the mingw64 build directory")
    parser.add_argument("--sim", required=True, help="the sensor_sim program (a Linux build)")
    parser.add_argument("--samples", type=int, default=150)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    program = os.path.join(build, "app", "orlanse_sensor.exe")
    launcher = os.path.join(build, "tests", "windows", "console_launcher.exe")

    work = tempfile.mkdtemp(prefix="orlanse-wine-bench-")
    session = wine.WineSession(work, os.path.abspath(args.sim))
    session.fake_ports = os.path.join(build, "tests", "windows", "fake_ports.exe")
    status = 0
    try:
        session.start()
        wine.stop_process(session.placeholder)
        session.placeholder = None
        wine.fake_ports(session, "install")
        print("orlanse_sensor.exe under Wine against the simulated module, 9600 baud 8N1 paced")
        print(f"wire limit                           {WIRE_LIMIT:.2f} samples/s "
              f"({BYTES_PER_SAMPLE} bytes a sample)")
        for name, options in SETTINGS:
            rate = measure(session, program, launcher, options, args.samples)
            if rate is None:
                print(f"{name:<36} failed")
                status = 1
            else:
                print(f"{name:<36} {rate:.2f} samples/s, ratio {rate / WIRE_LIMIT:.3f}")
            sys.stdout.flush()
    finally:
        session.stop()
        shutil.rmtree(work, ignore_errors=True)
    return status


if __name__ == "__main__":
    sys.exit(main())
