#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Every export format of wirelog-cli decode against the others and against outside readers.

For the module recording data/demo.txt and every capture in tests/busmonitor/data/captures.tsv:
  - tshark reads the pcap; its I2C packets (address, direction, data) are the transactions
    output's transactions with an address, one for one, and its event packets its errors;
  - Python's csv module reads the CSV: one row per event, whose text column is the log's lines
    without the separators, and whose code, name, value, address and direction agree;
  - Python's json module reads the JSON lines: one object per transactions line, the same times,
    address, direction, bytes, ACK bits and errors;
  - --address with one device's address keeps exactly that device's transactions and every
    error line, on the captures with more than one device.

Usage: check_exports.py WIRELOG_CLI REPO_ROOT [TSHARK]
Exit status 0 when all agree; the first disagreements are printed otherwise.
"""
import csv
import io
import json
import pathlib
import subprocess
import sys
import tempfile

NAMES = ["TWI_MONITOR_ON", "TWI_START", "TWI_STOP", "TWI_MISSING_START", "TWI_DATA_AFTER_NAK",
         "TWI_BUS_IDLE", "TWI_RESTART", "TWI_ADDR_ACK", "TWI_ADDR_NAK", "TWI_DATA_ACK",
         "TWI_DATA_NAK", "TWI_BAD_STOP", "TWI_ADDR_STOP", "TWI_BAD_START", "TWI_ADDR_RESTART",
         "TWI_DATA_RESTART", "TWI_DATA_STOP", "TWI_BUFFER_ERROR"]
ADDRESS_CODES = {7, 8, 12, 14}
ACK_WORDS = {"ACK": True, "NAK": False, "-": None}


class Mismatch(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise Mismatch(what)


def decode(cli, args, fmt, extra=()):
    run = subprocess.run([cli, "decode", "--output-format", fmt, *extra, *args],
                         capture_output=True, check=False)
    if run.returncode != 0:
        raise Mismatch(f"decode {fmt} failed: {run.stderr.decode(errors='replace')}")
    return run.stdout


def parse_transactions(text):
    """Transaction lines as dicts; error lines as dicts with only time and errors."""
    parsed = []
    for line in text.splitlines():
        words = line.split(" ")
        if words[1] == "error":
            expect(len(words) == 3, f"error line with more than one error: {line}")
            parsed.append({"time": words[0], "errors": [words[2]], "runs": [(words[2], 1)]})
            continue
        item = {"time": words[0], "duration": words[1], "address": None, "read": False,
                "data": [], "ack": [], "errors": [], "runs": []}
        if words[2] != "--":
            item["address"] = int(words[2], 16)
            item["read"] = words[3] == "R"
            item["ack"].append(ACK_WORDS[words[4]])
        rest = words[5:]
        while rest and rest[0].startswith("0x"):
            item["data"].append(int(rest[0], 16))
            item["ack"].append(ACK_WORDS[rest[1]])
            rest = rest[2:]
        while rest:
            expect(rest[0] == "error", f"unexpected word {rest[0]!r} in {line}")
            count = int(rest[2][1:]) if len(rest) > 2 and rest[2].startswith("x") else 1
            item["runs"].append((rest[1], count))
            item["errors"] += [rest[1]] * count
            rest = rest[3 if count > 1 else 2:]
        parsed.append(item)
    return parsed


def check_pcap(tshark, pcap, transactions):
    with tempfile.NamedTemporaryFile(suffix=".pcap") as file:
        file.write(pcap)
        file.flush()
        run = subprocess.run([tshark, "-r", file.name, "-T", "fields", "-E", "separator=/t",
                              "-e", "i2c.addr", "-e", "i2c.flags", "-e", "i2c.event",
                              "-e", "data.data"], capture_output=True, text=True, check=False)
    expect(run.returncode == 0, f"tshark failed: {run.stderr}")
    packets, events = [], []
    for row in run.stdout.splitlines():
        addr, flags, event, data = (row.split("\t") + [""] * 4)[:4]
        if event:
            flags = int(event, 16)
            events.append((flags >> 24, flags >> 16 & 0xFF))
        else:
            payload = bytes.fromhex(data)
            expect(payload[0] >> 1 == int(addr, 16), f"tshark's address {addr} is not {data}")
            packets.append((int(addr, 16), int(flags, 16) & 1 == 1, list(payload[1:])))
    expected = [(t["address"], t["read"], t["data"]) for t in transactions
                if t.get("address") is not None]
    expect(packets == expected, first_difference("pcap packets", packets, expected))
    runs = [(NAMES.index(name), min(count, 255)) for t in transactions for name, count in t["runs"]]
    expect([e for e in events if e[0] != 0] == runs, first_difference("pcap events", events, runs))


def check_csv(data, log_lines):
    rows = list(csv.reader(io.StringIO(data.decode("ascii"), newline="")))
    expect(rows[0] == ["time", "code", "name", "value", "address", "direction", "ack", "text"],
           f"csv header {rows[0]}")
    rows = rows[1:]
    expect([r[7] for r in rows] == log_lines,
           first_difference("csv text", [r[7] for r in rows], log_lines))
    for r in rows:
        code = int(r[1])
        expect(r[2] == NAMES[code], f"csv name {r[2]} for code {code}")
        if code in ADDRESS_CODES:
            expect(int(r[4], 16) == int(r[3], 16) >> 1 and r[5] == "RW"[1 - int(r[3], 16) % 2],
                   f"csv address of {r}")
        else:
            expect(r[4] == "" and r[5] == "", f"csv address where there is none: {r}")
    return rows


def check_jsonl(data, transactions):
    objects = [json.loads(line) for line in data.decode("ascii").splitlines()]
    expect(len(objects) == len(transactions),
           f"{len(objects)} JSON objects for {len(transactions)} transactions")
    for obj, t in zip(objects, transactions):
        listed = t["errors"][:1024]
        expect(abs(obj["time"] - float(t["time"])) < 1e-12 and obj["errors"] == listed and
               obj.get("errors_not_held", 0) == len(t["errors"]) - len(listed),
               f"json {obj} against {t}")
        if "duration" in t:
            expect(obj.get("address") == t["address"] and obj["read"] == t["read"] and
                   obj["data"] == t["data"] and obj["ack"] == t["ack"] and
                   abs(obj["duration"] - float(t["duration"])) < 1e-12,
                   f"json {obj} against {t}")


def check_filter(cli, args, transactions):
    addresses = sorted({t["address"] for t in transactions if t.get("address") is not None})
    if len(addresses) < 2:
        return 0
    keep = addresses[len(addresses) // 2]
    got = parse_transactions(decode(cli, args, "transactions",
                                    ["--address", f"0x{keep:02X}"]).decode("ascii"))
    expected = [t for t in transactions if t.get("address") == keep or "duration" not in t or
                (t["address"] is None and t["errors"])]
    expect(got == expected, first_difference(f"--address 0x{keep:02X}", got, expected))
    return 1


def first_difference(what, got, expected):
    for i, (g, e) in enumerate(zip(got, expected)):
        if g != e:
            return f"{what} differ at {i}: {g} against {e}"
    return f"{what}: {len(got)} items against {len(expected)}"


def check(cli, tshark, args):
    transactions = parse_transactions(decode(cli, args, "transactions").decode("ascii"))
    log_lines = [l for l in decode(cli, args, "log").decode("ascii").split("\r\n") if l]
    check_csv(decode(cli, args, "csv"), log_lines)
    check_jsonl(decode(cli, args, "jsonl"), transactions)
    check_pcap(tshark, decode(cli, args, "pcap"), transactions)
    return len(transactions), check_filter(cli, args, transactions)


def main():
    cli, root = sys.argv[1], pathlib.Path(sys.argv[2])
    tshark = sys.argv[3] if len(sys.argv) > 3 else "tshark"
    data = root / "tests/busmonitor/data"
    runs = [[str(root / "data/demo.txt")]]
    for line in (data / "captures.tsv").read_text().splitlines():
        if line and not line.startswith("#"):
            name, scl, sda = line.split("\t")[:3]
            runs.append(["--scl", scl, "--sda", sda, str(data / name)])
    failures, total, filtered = 0, 0, 0
    for args in runs:
        try:
            transactions, with_filter = check(cli, tshark, args)
            total += transactions
            filtered += with_filter
        except Mismatch as problem:
            failures += 1
            print(f"{args[-1]}: {problem}")
    print(f"{len(runs)} recordings, {total} transactions, {filtered} filtered by one of several "
          f"devices, {failures} disagreeing")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
