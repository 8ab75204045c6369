#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Writes a long sigrok session of made-up I2C traffic, for the reader and monitor benchmarks.

A 100 kHz bus sampled at 8 MHz (80 samples a bit) on SCL (channel 0) and SDA (channel 1) of
eight: write transactions of 1 to 16 random data bytes to random addresses, now and then a
NAK, with idle gaps of 20 to 500 microseconds. With --idle-ms, the shape of a sensor polled
now and then instead: a read of 2 bytes from one address, then the bus idle for about that
many milliseconds (real recordings of such buses are mostly idle and inflate a thousandfold).
The layout is the newer sigrok one: `metadata` plus the samples in entries `logic-1-1`,
`logic-1-2`, ... of 4 MiB, one byte per sample.

    make_long_capture.py OUT.sr [--seconds 60] [--seed 1] [--idle-ms MS]
"""
import argparse
import random
import zipfile

RATE = 8_000_000
BIT = 80  # samples per bit at 100 kHz
ENTRY = 4 << 20

METADATA = """[global]
sigrok version=0.5.2

[device 1]
capturefile=logic-1
total probes=8
samplerate=8 MHz
total analog=0
probe1=SCL
probe2=SDA
probe3=D2
probe4=D3
probe5=D4
probe6=D5
probe7=D6
probe8=D7
unitsize=1
"""


def level(scl, sda, count):
    return bytes([scl | sda << 1]) * count


def bit(value):
    # SDA takes its new level in SCL's low half; the receiver samples it at the rise.
    return level(0, value, BIT // 2) + level(1, value, BIT // 2)


def byte_with_ack(value, ack):
    bits = b"".join(bit((value >> (7 - i)) & 1) for i in range(8))
    return bits + bit(0 if ack else 1)


# Every byte's waveform once: a transaction is then a join of cached pieces.
BYTES = {(v, ack): byte_with_ack(v, ack) for v in range(256) for ack in (True, False)}
START = level(1, 1, BIT) + level(1, 0, BIT // 2) + level(0, 0, BIT // 2)
STOP = level(0, 0, BIT // 2) + level(1, 0, BIT // 2) + level(1, 1, BIT // 2)


def sensor_read(rng, idle_ms):
    parts = [START, BYTES[(0x48 << 1 | 1, True)], BYTES[(rng.randrange(256), True)],
             BYTES[(rng.randrange(256), False)], STOP]
    gap = int(idle_ms * RATE / 1000 * rng.uniform(0.9, 1.1))
    parts.append(level(1, 1, gap))
    return b"".join(parts)


def transaction(rng):
    address = rng.randrange(0x08, 0x78) << 1
    parts = [START, BYTES[(address, True)]]
    count = rng.randrange(1, 17)
    for i in range(count):
        parts.append(BYTES[(rng.randrange(256), i + 1 < count or rng.random() < 0.9)])
    parts.append(STOP)
    parts.append(level(1, 1, rng.randrange(20, 501) * RATE // 1_000_000))
    return b"".join(parts)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("output")
    parser.add_argument("--seconds", type=float, default=60.0)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--idle-ms", type=float, default=0.0)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    total = int(args.seconds * RATE)
    written = 0
    pending = bytearray()
    with zipfile.ZipFile(args.output, "w", zipfile.ZIP_DEFLATED, compresslevel=6) as archive:
        archive.writestr("version", "2")
        archive.writestr("metadata", METADATA)
        part = 1
        while written < total:
            while len(pending) < ENTRY:
                pending += sensor_read(rng, args.idle_ms) if args.idle_ms else transaction(rng)
            size = min(ENTRY, total - written)
            archive.writestr(f"logic-1-{part}", bytes(pending[:size]))
            del pending[:size]
            written += size
            part += 1
    print(f"{args.output}: {written} samples at {RATE} Hz in {part - 1} entries")


if __name__ == "__main__":
    main()
