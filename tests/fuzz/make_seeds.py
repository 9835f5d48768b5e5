#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes the seed corpus of the fuzz targets (tests/fuzz/corpus/<target>/).

The seeds are checked in; run this again only to change them. Each seed is a
small well-formed script in the target's input format, so the fuzzer starts
from inputs that reach deep into the code instead of being refused early.
"""
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def text(data):
    """A literal text: length byte, then the bytes (at most 239)."""
    if isinstance(data, str):
        data = data.encode()
    assert len(data) < 0xF0
    return bytes([len(data)]) + data


def repeat(chunk, count):
    """A text made of chunk repeated count times (1..256)."""
    if isinstance(chunk, str):
        chunk = chunk.encode()
    return bytes([0xF0, count - 1]) + text(chunk)


def device(description, friendly, hardware_id, how=0):
    return bytes([how]) + description + friendly + hardware_id


def value(name, data, how=0):
    return bytes([how]) + name + data


def scan(devices, values, flags=0):
    return bytes([flags, len(devices)]) + b"".join(devices) + bytes([len(values)]) + b"".join(values)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


def scan_seeds():
    ftdi = device(text("USB Serial Port"), text("USB Serial Port (COM3)"),
                  text(b"FTDIBUS\\COMPORT&VID_0403&PID_6001\0USB\\VID_0403"))
    pnp = device(text("Communications Port"), text("Communications Port (COM1)"), text("ACPI\\PNP0501"))
    cp210x = device(text("CP210x USB to UART Bridge"), text("CP210x USB to UART Bridge (COM12)"),
                    text("USB\\VID_10C4&PID_EA60"))
    map_values = [value(text("/dev/ttyS0"), text("COM1")), value(text("/dev/ttyUSB0"), text("COM3")),
                  value(text("/dev/ttyUSB9"), text("COM7")), value(text("\\Device\\Other"), text("COM3"), how=4)]
    ops = bytes([0, 2, 1]) + text("COM") + bytes([3, 0, 0xFF, 2, 4]) + text("xCOM12") + text("COM")
    write("fuzz_scan", "typical", bytes([0]) + scan([ftdi, pnp, cp210x], map_values) + ops)

    # A full table: 101 devices, then a map value that no row has.
    many = [device(text("Port"), text("Port (COM%d)" % (k % 20)), text("USB\\VID_1234")) for k in range(101)]
    write("fuzz_scan", "full_table", bytes([0]) + scan(many, [value(text("/dev/x"), text("COM99"))]) + bytes([3]))

    # Texts longer than every buffer, multi-byte characters at the cuts,
    # texts without their NUL, odd COM numbers.
    long_desc = repeat("ポート", 12)
    long_id = repeat("FTDIBUS\\", 200)
    odd = [device(long_desc, text("USB COM Port (COM9)"), long_id, how=0b010101),
           device(text("a" * 30 + "é"), text("Telecom Port 2"), text("x")),
           device(text("b"), text("(COM1234567890)"), text("y"), how=0b100000),
           device(text("c"), text("(COMx) COM"), repeat("é", 200), how=0b010000)]
    odd_values = [value(repeat("/dev/ttyUSB", 30), text("COM0"), how=0),
                  value(text("n"), repeat("COM5", 70), how=0b01000),
                  value(text("m"), text("COM1234"), how=0b01000),
                  value(repeat("nn", 150), text("COM4"), how=1)]
    ops = bytes([1]) + repeat("PP", 150) + bytes([4]) + repeat("ab", 200) + repeat("ab", 130)
    write("fuzz_scan", "long_texts", bytes([0]) + scan(odd, odd_values) + ops)

    # A rescan whose device list is refused keeps the rows and merges again.
    write("fuzz_scan", "rescan", bytes([1]) + scan([ftdi, pnp], map_values, flags=4)
          + scan([cp210x], [value(text("/dev/ttyUSB1"), text("COM12"))], flags=1) + bytes([0, 1]))


OPENING = b"0F\r\n050027950000\r\n0DF3\r\n27\r\n21\r\n"
SILENCE = b"\xff\x00"
GONE = b"\xff\x01"


def sample_seeds():
    """Header byte (rs_puts calls that time out), then what the module sends."""
    samples = b"000100020003FFFF80008001\r\n21\r\n7FFF7FFF7FFF000000000000\r\n21\r\n"
    write("fuzz_sample", "typical", b"\0" + OPENING + samples)
    write("fuzz_sample", "lower_case_lf", b"\0" + OPENING.replace(b"\r", b"") +
          b"0001000200030000ffff8000\n\n21\n\n")
    write("fuzz_sample", "short_garbage_silence", b"\0" + OPENING + b"0001\r\n21\r\n" + SILENCE +
          b"zzzz" * 30 + b"\r\n" + b"0001 0002 0003-FFF+0010x12\r\n21" + SILENCE + b"\r\n" +
          b"\xff\x02\r\n" + b"000100020003FFFF80008001\r\n" + GONE)
    write("fuzz_sample", "late_and_failing_writes", b"\x05" + OPENING + SILENCE +
          b"000100020003FFFF80008001\r\n21\r\n" * 3 + b"00010002000300040005" + SILENCE + b"0006\r\n")
    # A prompt after each line end, chatter between the answers, a key, a
    # restart after a silence that answers ERR.
    prompted = b"\r\n>".join(OPENING.split(b"\r\n"))
    write("fuzz_sample", "prompt_chatter_restart", b"\0" + prompted +
          b"000100020003FFFF80008001\n\r\0STATUS\r\n21\r\n>" + b"\xff\x03" +
          b"7FFF7FFF7FFF000000000000\r\n>" + SILENCE * 3 + b"ERR\r\n" * 4 + OPENING + samples)


def line_reader_seeds():
    """Flags, operation count, operations, then what the module sends."""
    def seed(flags, operations, sent):
        return bytes([flags, len(operations)]) + bytes(operations) + sent
    write("fuzz_line_reader", "typical", seed(1, [9, 200, 0, 99, 4],
          b"hello\r\nworld, a line longer than ten bytes\n\rabc\r\n\r\nta"))
    write("fuzz_line_reader", "long_lines", seed(3, [83, 83, 200, 79],
          b"x" * 1500 + b"\r\n" + b"0001000200030000ffff8000\r\n" + b"y" * 200 + b"\n" + b"\xff\x00\x11\x13\x03\r"))
    write("fuzz_line_reader", "bytes_only", seed(0, [200, 201, 255], b"\r\n\x00\x7f"))


def main():
    targets = sys.argv[1:] or ["fuzz_scan", "fuzz_sample", "fuzz_line_reader"]
    for target in targets:
        globals()[target.replace("fuzz_", "") + "_seeds"]()


if __name__ == "__main__":
    main()
