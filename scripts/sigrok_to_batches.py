#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Turn a sigrok I2C event log into timed read batches for `wirelog-cli decode`.

The input is the output of sigrok-cli's i2c decoder with sample numbers, events only:

    sigrok-cli -i FILE.sr -P i2c:scl=SCL:sda=SDA --protocol-decoder-samplenum \\
      -A i2c=start:repeat-start:stop:ack:nack:address-read:address-write:data-read:data-write

one annotation per line, "<first>-<last> i2c-1: <text>". Each bus condition becomes the byte(s)
the capture module would have sent for it, and the events are grouped into reads the way the
module's USB latency timer groups them: every event completed within one read period lands in
the read stamped at the end of that period.

    python3 scripts/sigrok_to_batches.py --samplerate 2000000 events.txt > capture.txt
"""

import argparse
import re
import sys

LINE = re.compile(r"^\s*(\d+)-(\d+)\s+\S+:\s+(.*?)\s*$")
BYTE_EVENT = re.compile(r"^(Address|Data) (read|write): ([0-9A-Fa-f]{1,2})$")

# Module event codes.
START, STOP, BUS_IDLE, RESTART, MONITOR_ON = 0x01, 0x02, 0x05, 0x06, 0x00
ADDR_ACK, ADDR_NAK, DATA_ACK, DATA_NAK = 0x07, 0x08, 0x09, 0x0A
ADDR_STOP, ADDR_RESTART, DATA_RESTART, DATA_STOP = 0x0C, 0x0E, 0x0F, 0x10


class ConversionError(Exception):
    pass


def convert(lines, samplerate):
    """Yields (microseconds, [bytes]) per module event, in bus order."""
    pending = None  # ("Address" | "Data", value byte) waiting for its ACK/NACK
    for number, raw in enumerate(lines, 1):
        if not raw.strip() or raw.lstrip().startswith("#"):
            continue
        match = LINE.match(raw)
        if not match:
            raise ConversionError(f"line {number}: not a sigrok annotation: {raw.strip()!r}")
        micros = int(match.group(2)) * 1_000_000 // samplerate
        text = match.group(3)
        byte_event = BYTE_EVENT.match(text)
        if byte_event:
            kind, direction, value = byte_event.groups()
            value = int(value, 16)
            if kind == "Address":
                if value > 0x7F:
                    raise ConversionError(f"line {number}: address {value:#x} is not 7-bit")
                value = value << 1 | (direction == "read")
            pending = (kind, value)
        elif text in ("ACK", "NACK"):
            if pending is None:
                raise ConversionError(f"line {number}: {text} without a byte before it")
            kind, value = pending
            nak = text == "NACK"
            code = (ADDR_NAK if nak else ADDR_ACK) if kind == "Address" else (DATA_NAK if nak else DATA_ACK)
            yield micros, [code, value]
            pending = None
        elif text in ("Start", "Start repeat"):
            if pending is not None:
                # A byte cut short by a (repeated) START: the module reports both in one event.
                kind, value = pending
                yield micros, [ADDR_RESTART if kind == "Address" else DATA_RESTART, value]
                pending = None
            else:
                yield micros, [RESTART if text == "Start repeat" else START]
        elif text == "Stop":
            if pending is not None:
                kind, value = pending
                yield micros, [ADDR_STOP if kind == "Address" else DATA_STOP, value]
                pending = None
            else:
                yield micros, [STOP]
        elif text in ("Read", "Write"):
            continue  # the R/W bit on its own; the address event carries it
        else:
            raise ConversionError(f"line {number}: unexpected annotation {text!r}")


def batches(events, period_us):
    """Groups events into reads stamped at the end of their read period."""
    current_stamp, current_bytes = None, []
    for micros, data in events:
        stamp = -(-micros // period_us) * period_us
        if current_stamp is not None and stamp != current_stamp:
            yield current_stamp, current_bytes
            current_bytes = []
        current_stamp = stamp
        current_bytes.extend(data)
    if current_stamp is not None:
        yield current_stamp, current_bytes


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("events", help="sigrok-cli i2c event log ('-' for standard input)")
    parser.add_argument("--samplerate", type=int, required=True, help="capture sample rate in Hz")
    parser.add_argument("--read-period-us", type=int, default=2000,
                        help="microseconds of bus time per read (default 2000, the module's latency timer)")
    parser.add_argument("--no-preamble", action="store_true",
                        help="leave out the monitor-on and bus-idle events a capture begins with")
    args = parser.parse_args(argv)
    if args.samplerate <= 0 or args.read_period_us <= 0:
        parser.error("--samplerate and --read-period-us must be positive")

    source = sys.stdin if args.events == "-" else open(args.events, encoding="utf-8")
    with source:
        try:
            events = list(convert(source, args.samplerate))
        except ConversionError as error:
            print(f"sigrok_to_batches: {args.events}: {error}", file=sys.stderr)
            return 2

    out = sys.stdout
    out.write(f"# converted from {args.events} by scripts/sigrok_to_batches.py\n")
    if not args.no_preamble:
        # The module reports itself on, then the idle bus, within its first read period.
        first = events[0][0] if events else args.read_period_us
        out.write(f"{min(args.read_period_us, first)} {MONITOR_ON:02X} {BUS_IDLE:02X}\n")
    for stamp, data in batches(events, args.read_period_us):
        out.write(f"{stamp} " + " ".join(f"{b:02X}" for b in data) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
