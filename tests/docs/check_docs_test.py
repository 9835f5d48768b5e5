#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""check_docs_test.py CHECK-DOCS PROGRAM-OPTIONS...: runs scripts/check-docs
on small pages, each with what it must report (a text every finding line
holds, one per finding) or nothing; exits 1 when a case fails."""
import os
import subprocess
import sys
import tempfile

# (page, the findings it must give, in order)
CASES = [
    ("Build with `cmake --preset default`; see `port_device/port_device.h`.\n", []),
    ("The header `port_device/port_devices.h`.\n", ["no such repository path: port_device/port_devices.h"]),
    ("```sh\ncc ./examples/list_ports_example.c\n```\n", []),
    ("```sh\ncc examples/list_port_example.c -o x\n```\n", ["examples/list_port_example.c"]),
    ("Globs: `tests/sim/ftdi_release.*`, `sensor/{rs232.h,sensor_link.h}`.\n", []),
    ("Globs: `tests/sim/ftdi_relase.*`, `sensor/{rs232.h,sensor_lnk.h}`.\n",
     ["tests/sim/ftdi_relase.*", "sensor/{rs232.h,sensor_lnk.h}"]),
    # Build outputs, system paths and placeholders are no repository paths.
    ("`build/default/app/orlanse_sensor`, `/usr/lib/<triplet>/`, `tests/<area>/`, `$HOME/x/y`.\n", []),
    ("Trailing punctuation: (`docs/man/list_ports.1`), `scripts/demo`.\n", []),
    ("A [page](missing-page.md) and a [site](https://example.org/x).\n",
     ["link to a missing file: missing-page.md"]),
    # Anchors are headings as GitHub names them.
    ("# Which port: list_ports\n[here](#which-port-list_ports), [there](#which-port)\n",
     ["link to a missing heading: #which-port"]),
    ("```\n# not a heading\n```\n[x](#not-a-heading)\n", ["link to a missing heading"]),
    ("Code spans hide links: `[page](missing-page.md)`.\n", []),
    # A code span may go on over a line break, never over a paragraph's end.
    ("Run `list_ports\n--jsn` now.\n", ["no option --jsn"]),
    ("`scripts/demo` and `scripts/run --port\n/dev/ttyUSB1`, `docs/nothing/x`\n", ["docs/nothing/x"]),
    ("One ` tick.\n\nThen `examples/` and `port_device/`.\n", []),
    # Command lines: every program, any path to it, options with values.
    ("```\n$ build/default/app/orlanse_sensor --port=COM3 --view --ascii\n```\n", []),
    ("`orlanse_sensor --csv > log.csv`, `scripts/demo --view`, `list_ports -i ftdibus`\n", []),
    ("`scripts/run --cvs`\n", ["orlanse_sensor --help lists no option --cvs"]),
    ("```\n$ /usr/bin/orlanse_sensor --csv --rate 10 | tee x\n```\n", ["no option --rate"]),
    ("`orlanse_sensor.exe --porrt COM3`\n", ["no option --porrt"]),
    ("`list_ports --yaml`\n", ["list_ports --help lists no option --yaml"]),
    # Options stop at a shell operator, and list_ports' -- ends them.
    ("`list_ports 2 | grep -v x`, `orlanse_sensor --csv; ls -l`, `list_ports -- -x`\n", []),
    ("`list_ports --help; list_ports -x`\n", ["no option -x"]),
    # A program's name in its own messages is no command line.
    ("```\norlanse_sensor: unknown option --bogus\n```\n", []),
]


def main():
    check, programs = sys.argv[1], sys.argv[2:]
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        for number, (page, expected) in enumerate(CASES):
            path = os.path.join(work, f"case{number}.md")
            with open(path, "w", encoding="utf-8") as handle:
                handle.write(page)
            result = subprocess.run([sys.executable, check, *programs, path], capture_output=True,
                                    text=True, check=False)
            findings = result.stderr.splitlines()
            ok = (result.returncode == (1 if expected else 0) and len(findings) == len(expected) and
                  all(want in got for want, got in zip(expected, findings)))
            if not ok:
                failures += 1
                print(f"case {number}: {page!r}\n  expected {expected}, status {1 if expected else 0}\n"
                      f"  got status {result.returncode}: {findings}")
    print(f"{len(CASES) - failures} of {len(CASES)} cases hold")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
