#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The outside check of the bus monitor: what sigrok's I2C decoder sees in each test capture.

For every capture listed in tests/busmonitor/data/captures.tsv this runs Debian's sigrok-cli
with the I2C decoder's events-only annotations and writes the START/Sr/P/address/data/ACK-NAK
sequence it reports to tests/busmonitor/data/sigrok/<capture name>.txt as tokens separated by
blanks, a new line before each START:

    S W50 A 00 A Sr R50 A 3F N P

S (START), Sr (repeated START), P (STOP), Wxx / Rxx (7-bit address in hex, write/read), xx (a
data byte), A / N (ACK / NAK). The monitor's test maps its own events to the same tokens.

With --formats it also writes the VCD and CSV versions of the captures the manifest marks
'vcd-csv' (sigrok-cli -O vcd / -O csv), for the readers' equality test.

With --differences WIRELOG_CLI it prints, for authoring tests/busmonitor/data/differences.txt,
where wirelog-cli's decode of each capture departs from sigrok's sequence (in the differences
file's format, reason left as '?'). Each hunk must then be checked by hand and given its
reason; the test applies the committed list exactly.

Usage: scripts/sigrok_expected.py [--formats] [--differences PATH_TO_WIRELOG_CLI] [NAME ...]
"""
import argparse
import pathlib
import re
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
DATA = ROOT / "tests" / "busmonitor" / "data"
ANNOTATIONS = "start:repeat-start:stop:ack:nack:address-read:address-write:data-read:data-write"
LINE = re.compile(r"^(\d+)-(\d+) i2c-\d+: (.*)$")


def manifest():
    """(capture path relative to DATA, SCL name, SDA name, flags) per capture."""
    rows = []
    for line in (DATA / "captures.tsv").read_text().splitlines():
        if not line.strip() or line.startswith("#"):
            continue
        fields = line.split("\t")
        rows.append((fields[0], fields[1], fields[2], fields[3:] if len(fields) > 3 else []))
    return rows


def token(text):
    """sigrok's annotation text as a token, or None for the ones the check leaves out."""
    fixed = {"Start": "S", "Start repeat": "Sr", "Stop": "P", "ACK": "A", "NACK": "N"}
    if text in fixed:
        return fixed[text]
    for prefix, name in (("Address write: ", "W"), ("Address read: ", "R"),
                         ("Data write: ", ""), ("Data read: ", "")):
        if text.startswith(prefix):
            return name + text[len(prefix):].upper()
    if text in ("Read", "Write"):
        return None
    raise ValueError("unexpected annotation: " + text)


def sigrok_events(capture, scl, sda):
    out = subprocess.run(
        ["sigrok-cli", "-i", str(capture), "-P", "i2c:scl=%s:sda=%s" % (scl, sda),
         "--protocol-decoder-samplenum", "-A", "i2c=" + ANNOTATIONS],
        check=True, capture_output=True, text=True).stdout
    events = []
    for line in out.splitlines():
        match = LINE.match(line)
        if not match:
            raise ValueError("%s: unexpected line: %s" % (capture, line))
        tok = token(match.group(3))
        if tok is not None:
            events.append((int(match.group(1)), int(match.group(2)), tok))
    return events


def expected_path(name):
    return DATA / "sigrok" / (pathlib.Path(name).stem + ".txt")


def write_expected(name, scl, sda):
    tokens = [e[2] for e in sigrok_events(DATA / name, scl, sda)]
    path = expected_path(name)
    path.parent.mkdir(exist_ok=True)
    text = " ".join(tokens).replace(" S ", "\nS ")
    path.write_text(text + "\n" if text else "")
    print("%s: %d tokens" % (path.relative_to(ROOT), len(tokens)))


def write_formats(name):
    capture = DATA / name
    stem = DATA / "formats" / pathlib.Path(name).stem
    stem.parent.mkdir(exist_ok=True)
    vcd = subprocess.run(["sigrok-cli", "-i", str(capture), "-O", "vcd"], check=True,
                         capture_output=True).stdout
    stem.with_suffix(".vcd").write_bytes(vcd)
    csv = subprocess.run(["sigrok-cli", "-i", str(capture), "-O", "csv:time=true:dedup=true"],
                         check=True, capture_output=True).stdout
    stem.with_suffix(".csv").write_bytes(csv)
    print("%s.vcd/.csv" % stem.relative_to(ROOT))


# wirelog-cli's log lines as the check's tokens (the test does the same from the monitor's
# events; this copy only helps to author the list of differences).
LOG_TOKENS = [
    (re.compile(r"^START \(valid\)"), lambda m: ["S"]),
    (re.compile(r"^Repeated START"), lambda m: ["Sr"]),
    (re.compile(r"^STOP \("), lambda m: ["P"]),
    (re.compile(r"^Address \+ (Read |Write) \+ (ACK|NAK), addr = 0x(..)"),
     lambda m: [m.group(1)[0] + m.group(3), m.group(2)[0]]),
    (re.compile(r"^Data \+ (ACK|NAK), +data = 0x(..)"), lambda m: [m.group(2), m.group(1)[0]]),
    (re.compile(r"^Error: Data seen after a NAK"), lambda m: ["??", "?"]),
    (re.compile(r"^Error: STOP detected"), lambda m: ["P"]),
    (re.compile(r"^Error: START detected"), lambda m: ["Sr"]),
    (re.compile(r"^Error: Address \+ (Read |Write) \+ STOP .*addr = 0x(..)"),
     lambda m: [m.group(1)[0] + m.group(2), "P"]),
    (re.compile(r"^Error: Address \+ (Read |Write) \+ RESTART.*addr = 0x(..)"),
     lambda m: [m.group(1)[0] + m.group(2), "Sr"]),
    (re.compile(r"^Error: Data \+ STOP.*data = 0x(..)"), lambda m: [m.group(1), "P"]),
    (re.compile(r"^Error: Data \+ RESTART.*data = 0x(..)"), lambda m: [m.group(1), "Sr"]),
]


def monitor_tokens(cli, name, scl, sda):
    log = subprocess.run([cli, "decode", "--scl", scl, "--sda", sda,
                          str(DATA / name)],
                         check=True, capture_output=True, text=True).stdout
    tokens = []
    for line in log.splitlines():
        for pattern, make in LOG_TOKENS:
            match = pattern.match(line)
            if match:
                tokens += make(match)
                break
    return tokens


def hunks(a, b):
    """(start in a, removed from a, inserted from b) where b departs from a, by GNU diff (fast
    on long, mostly equal sequences)."""
    with tempfile.TemporaryDirectory() as tmp:
        left, right = pathlib.Path(tmp, "a"), pathlib.Path(tmp, "b")
        left.write_text("".join(t + "\n" for t in a))
        right.write_text("".join(t + "\n" for t in b))
        out = subprocess.run(["diff", str(left), str(right)], capture_output=True,
                             text=True).stdout
    found = []
    for line in out.splitlines():
        match = re.match(r"^(\d+)(?:,(\d+))?([acd])(\d+)(?:,(\d+))?$", line)
        if not match:
            continue
        a1, a2, kind, b1, b2 = match.groups()
        a1, b1 = int(a1), int(b1)
        a2 = int(a2) if a2 else a1
        b2 = int(b2) if b2 else b1
        if kind == "a":  # after line a1 of a
            found.append((a1, [], b[b1 - 1:b2]))
        elif kind == "d":
            found.append((a1 - 1, a[a1 - 1:a2], []))
        else:
            found.append((a1 - 1, a[a1 - 1:a2], b[b1 - 1:b2]))
    return found


def print_differences(cli, name, scl, sda):
    expected = [e[2] for e in sigrok_events(DATA / name, scl, sda)]
    actual = monitor_tokens(cli, name, scl, sda)
    for start, removed, inserted in hunks(expected, actual):
        print("%s\t%d\t%s\t%s\t?" % (name, start, " ".join(removed), " ".join(inserted)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--formats", action="store_true")
    parser.add_argument("--differences", metavar="WIRELOG_CLI")
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    for name, scl, sda, flags in manifest():
        if args.names and name not in args.names:
            continue
        if args.differences:
            print_differences(args.differences, name, scl, sda)
            continue
        write_expected(name, scl, sda)
        if args.formats and "vcd-csv" in flags:
            write_formats(name)
    return 0


if __name__ == "__main__":
    sys.exit(main())
