#!/usr/bin/env python3
"""Writes the seed inputs of fuzz/corpus/: small MIDI files, each one a
corner of the format the converter has to get through. Run it from the
repository's root; it rewrites the seeds it names and leaves other files
(regression inputs the fuzzer found) alone."""

import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def header(fmt, tracks, division, length=6, extra=b""):
    return b"MThd" + struct.pack(">IHHH", length, fmt, tracks, division) + extra


def chunk(events, tag=b"MTrk", length=None):
    return tag + struct.pack(">I", len(events) if length is None else length) + events


def ev(delta, *data):
    return vlq(delta) + bytes(data)


def meta(delta, kind, data):
    return vlq(delta) + bytes([0xFF, kind]) + vlq(len(data)) + bytes(data)


def tempo(delta, us):
    return meta(delta, 0x51, [us >> 16 & 0xFF, us >> 8 & 0xFF, us & 0xFF])


def timesig(delta, num, exp, clocks=24, q=8):
    return meta(delta, 0x58, [num, exp, clocks, q])


EOT = meta(0, 0x2F, [])


def scale(channel=0, start=60, count=8, step=240):
    return b"".join(ev(0 if i == 0 else step, 0x90 | channel, start + i, 100) +
                    ev(step // 2, 0x80 | channel, start + i, 0) for i in range(count))


SEEDS = {
    "format0-scale.mid": header(0, 1, 480) + chunk(
        tempo(0, 500000) + timesig(0, 4, 2) + scale() + EOT),
    "format1-tempo-in-later-track.mid": header(1, 3, 96) + chunk(
        timesig(0, 3, 2) + tempo(0, 600000) + EOT) + chunk(
        scale(0, 48, 12, 48) + EOT) + chunk(
        tempo(200, 250000) + ev(0, 0x91, 70, 90) + ev(10, 0x91, 72, 31) +
        ev(0, 0x91, 74, 30) + tempo(100, 1000000) + EOT),
    "smpte-25fps.mid": header(0, 1, 0xE728) + chunk(
        tempo(0, 400000) + scale(3, 30, 6, 40) + EOT),
    "running-status-across-meta-sysex.mid": header(0, 1, 480) + chunk(
        ev(0, 0x90, 60, 100) + ev(10, 61, 100) + meta(0, 0x01, list(b"text")) +
        ev(10, 62, 100) + ev(0, 0xF0) + vlq(3) + bytes([1, 2, 0xF7]) +
        ev(10, 63, 100) + ev(0, 0xF1, 5) + ev(0, 0xF2, 1, 2) + ev(0, 0xF3, 3) +
        ev(0, 0xF6) + ev(10, 64, 100) + EOT),
    "sysex-long-length.mid": header(0, 1, 480) + chunk(
        ev(0, 0xF0) + vlq(300) + bytes(range(256)) + bytes(44) +
        ev(0, 0xF7) + vlq(2) + bytes([0x7F, 0x7F]) + ev(5, 0x90, 40, 80) + EOT),
    "alien-chunk-between-tracks.mid": header(1, 2, 480) + chunk(
        tempo(0, 500000) + EOT) + chunk(b"hello", tag=b"XFIH") + chunk(
        scale(9, 35, 5) + EOT),
    "meta-long-vlq-length.mid": header(0, 1, 480) + chunk(
        meta(0, 0x03, list(range(200))) + meta(0, 0x7F, [0] * 130) +
        ev(1, 0x90, 60, 64) + EOT),
    "no-end-of-track.mid": header(0, 1, 480) + chunk(scale(2, 60, 3)),
    "bytes-after-end-of-track.mid": header(1, 2, 480) + chunk(
        ev(0, 0x90, 50, 90) + EOT + b"\x00\x90\x51\x5a") + chunk(
        ev(0, 0x90, 52, 90) + EOT),
    "tempo-zero-and-odd-lengths.mid": header(0, 1, 480) + chunk(
        tempo(0, 0) + meta(0, 0x51, [7, 0xA1, 0x20, 0]) + meta(0, 0x58, [4, 2]) +
        tempo(10, 1) + ev(0, 0x90, 60, 100) + EOT),
    "huge-delta-tiny-tempo.mid": header(0, 1, 1) + chunk(
        tempo(0, 1) + ev(0x0FFFFFFF, 0x90, 60, 100) + ev(0x0FFFFFFF, 0x90, 61, 100) + EOT),
    "slow-tempo-many-measures.mid": header(0, 1, 0x7FFF) + chunk(
        tempo(0, 0xFFFFFF) + timesig(0, 1, 6) + ev(0, 0x90, 60, 100) +
        ev(0x0FFFFFFF, 0x90, 61, 100) + EOT),
    "odd-time-signatures.mid": header(0, 1, 480) + chunk(
        timesig(0, 0, 31) + timesig(0, 255, 0) + tempo(480, 300000) +
        timesig(480, 7, 3) + scale(1, 20, 4) + EOT),
    "tempo-changes-same-tick.mid": header(1, 2, 480) + chunk(
        tempo(0, 500000) + tempo(0, 400000) + tempo(960, 300000) +
        tempo(0, 200000) + tempo(0, 700000) + EOT) + chunk(scale(4, 60, 10) + EOT),
    "header-length-8.mid": header(0, 1, 480, length=8, extra=b"\x00\x00") + chunk(
        ev(0, 0x90, 60, 100) + EOT),
    "track-count-too-high.mid": header(1, 5, 480) + chunk(ev(0, 0x90, 60, 100) + EOT),
    "many-tiny-tracks.mid": header(1, 64, 480) + b"".join(
        chunk(ev(i, 0x90 | (i % 16), i + 30, 31 + i) + EOT) for i in range(64)),
    "data-before-status.mid": header(0, 1, 480) + chunk(
        ev(0, 0x40, 0x40) + ev(0, 0xC0, 5) + ev(0, 0xD0, 9) + ev(0, 0xE0, 0, 64) +
        ev(0, 0xA0, 60, 1) + ev(0, 0x90, 0xC8 & 0x7F, 0x7F) + EOT),
    "chunk-length-past-file-end.mid": header(0, 1, 480) + chunk(
        ev(0, 0x90, 60, 100) + ev(10, 0x90, 62, 100), length=0x00FFFFFF),
    "note-on-cut-in-chunk.mid": header(1, 2, 480) + chunk(
        ev(0, 0x90, 60, 100) + ev(0, 0x90, 61)) + chunk(ev(5, 0x90, 62, 100) + EOT),
    "meta-cut-in-chunk.mid": header(1, 2, 480) + chunk(
        ev(0, 0x90, 60, 100) + ev(0, 0xFF)) + chunk(ev(5, 0x90, 62, 100) + EOT),
    "zero-tracks.mid": header(0, 0, 480),
    "meta-length-4gb.mid": header(1, 2, 480) + chunk(
        ev(0, 0x90, 60, 100) + ev(0, 0xFF, 0x01) + vlq(0xFFFFFFFF) + b"abc") + chunk(
        ev(480, 0x91, 64, 100) + EOT),
    "sysex-length-4gb.mid": header(1, 2, 480) + chunk(
        ev(0, 0x90, 60, 100) + ev(0, 0xF0) + vlq(0xFFFFFFFF) + b"abc") + chunk(
        ev(480, 0x91, 64, 100) + EOT),
    "track-length-4gb.mid": header(1, 2, 480) + chunk(
        ev(0, 0x90, 60, 100) + EOT, length=0xFFFFFFFF) + chunk(ev(0, 0x91, 64, 100) + EOT),
    "delta-six-bytes.mid": header(0, 1, 480) + chunk(
        bytes([0x81, 0x80, 0x80, 0x80, 0x83, 0x60, 0x90, 60, 100]) + EOT),
    "million-bars.mid": header(0, 1, 1) + chunk(
        meta(0, 0x01, b"x" * 957) + ev(3998, 0x90, 60, 100) + ev(4, 0x90, 62, 100) +
        meta(0x0FFFFFFF, 0x2F, [])),
    "tracks-crossing-tempo-changes.mid": header(1, 201, 480) + chunk(
        b"".join(tempo(1, 500000 + i % 2) for i in range(200)) + EOT) + b"".join(
        chunk(ev(205, 0x90 | (i % 16), 60, 100) + EOT) for i in range(200)),
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    print(f"{len(SEEDS)} seeds in {OUT}")


if __name__ == "__main__":
    main()
