#!/usr/bin/env python3
"""Songs of several kinds for measuring the maps that --stars writes.

  python3 bench/play_songs.py OUT_DIR            writes the songs (.mid)
  python3 bench/play_songs.py OUT_DIR --measure  also runs onpu --stars on
      each and ../shared/tools/mapqual on every map, and prints the medians
      of the figures per band (needs node and mapqual's npm packages).

The songs are made from a seed, so the same command gives the same files:
a legato melody over held chords, the same played by a pianist (rubato,
uneven timing, a placeholder tempo), a quantised arrangement with bass,
arpeggios and a long rest, a fast piece with sixteenth runs, a slow ballad
in 3/4, a piece with several tempo changes, and an etude (a melody over
running sixteenths), quantised and played.
"""
import json
import os
import random
import statistics
import subprocess
import sys

DIVISION = 480


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def track_bytes(events):
    """events: (tick, order, bytes) in any order; returns an MTrk chunk."""
    events = sorted(events, key=lambda e: (e[0], e[1]))
    data = bytearray()
    now = 0
    for tick, _, body in events:
        data += vlq(tick - now) + body
        now = tick
    data += vlq(0) + b"\xff\x2f\x00"
    return b"MTrk" + len(data).to_bytes(4, "big") + bytes(data)


def midi_file(tracks):
    header = b"MThd" + (6).to_bytes(4, "big") + (1).to_bytes(2, "big") + len(tracks).to_bytes(2, "big")
    return header + DIVISION.to_bytes(2, "big") + b"".join(track_bytes(t) for t in tracks)


def tempo_event(tick, bpm):
    us = int(60000000 / bpm)
    return (tick, 0, b"\xff\x51\x03" + us.to_bytes(3, "big"))


def meter_event(tick, numerator):
    return (tick, 0, bytes([0xFF, 0x58, 0x04, numerator, 2, 24, 8]))


def note(events, start, end, key, velocity, channel=0):
    events.append((max(0, start), 2, bytes([0x90 | channel, key, velocity])))
    events.append((max(start + 1, end), 1, bytes([0x80 | channel, key, 0])))


SCALE = [0, 2, 4, 5, 7, 9, 11]


def melody_keys(rng, count, low=60, high=84):
    """A melody that moves mostly by step, now and then by a leap."""
    degree = 7
    keys = []
    for _ in range(count):
        r = rng.random()
        step = rng.choice([-1, 1]) if r < 0.6 else rng.choice([-2, 2, -3, 3]) if r < 0.85 else rng.choice([-5, 4, 5, -4, 0])
        degree += step
        key = 12 * (degree // 7) + SCALE[degree % 7] + 48
        if key < low or key > high:
            degree -= 2 * step
            key = 12 * (degree // 7) + SCALE[degree % 7] + 48
        keys.append(key)
    return keys


def rhythm(rng, measures, beats, palette):
    """Note lengths in beats filling each measure, a rest now and then."""
    out = []
    for m in range(measures):
        left = beats
        while left > 1e-9:
            length = rng.choice([p for p in palette if p <= left + 1e-9] or [left])
            rest = rng.random() < 0.08
            out.append((length, rest))
            left -= length
    return out


def as_played(rng, tracks, bend, period_beats, jitter_beats):
    """The tracks as a pianist plays them, behind a placeholder tempo (120
    BPM in 4/4): the time bends slowly (by up to `bend` beats over every
    `period_beats`) and every note lands a little early or late."""
    def warp(tick):
        t = tick / DIVISION
        return int(DIVISION * (t + bend * (t / period_beats % 1.0 - 0.5) ** 2 * 4 + rng.gauss(0, jitter_beats)))
    return [[tempo_event(0, 120), meter_event(0, 4)]] + [[(warp(t), o, b) for t, o, b in track] for track in tracks]


def song(rng, measures, beats, bpm, palette, legato=0.95, played=False, tempo_changes=None, long_rest_at=None):
    melody, chords, meta = [], [], [tempo_event(0, bpm), meter_event(0, beats)]
    for at, new_bpm in tempo_changes or []:
        meta.append(tempo_event(at * beats * DIVISION, new_bpm))
    lengths = rhythm(rng, measures, beats, palette)
    keys = melody_keys(rng, len(lengths))
    beat = 0.0
    for (length, rest), key in zip(lengths, keys):
        measure = int(beat // beats)
        if long_rest_at is not None and measure in range(long_rest_at, long_rest_at + 3):
            beat += length
            continue
        if not rest:
            start = beat * DIVISION
            end = (beat + length * legato) * DIVISION
            accent = 100 if abs(beat % beats) < 1e-9 else 85
            note(melody, int(start), int(end), key, min(127, accent + rng.randint(-10, 10)))
        beat += length
    for m in range(measures):
        if long_rest_at is not None and m in range(long_rest_at, long_rest_at + 3):
            continue
        root = 36 + rng.choice([0, 5, 7, 9, 2])
        for i, k in enumerate([root, root + 7, root + 12 + 4]):
            note(chords, (m * beats) * DIVISION + i * 8, ((m + 1) * beats) * DIVISION - 20, k, 60, channel=1)
    if played:
        return midi_file(as_played(rng, [melody, chords], 0.35, 7.0, 0.03))
    return midi_file([meta, melody, chords])


def etude(rng, measures, bpm, played):
    """A melody in eighths and sixteenths over running sixteenth arpeggios."""
    melody, left, meta = [], [], [tempo_event(0, bpm), meter_event(0, 4)]
    lengths = rhythm(rng, measures, 4, [0.5, 0.5, 0.25, 0.25, 1])
    keys = melody_keys(rng, len(lengths), 64, 88)
    beat = 0.0
    for (length, rest), key in zip(lengths, keys):
        if not rest:
            note(melody, int(beat * DIVISION), int((beat + length * 0.9) * DIVISION), key, rng.randint(70, 105))
        beat += length
    for m in range(measures):
        root = 36 + rng.choice([0, 5, 7, 9, 2])
        pattern = [root, root + 7, root + 12, root + 16, root + 19, root + 16, root + 12, root + 7]
        for i in range(16):
            start = (m * 4 + i / 4) * DIVISION
            note(left, int(start), int(start + DIVISION / 4 * 0.95), pattern[i % 8], rng.randint(45, 70), channel=1)
    if played:
        return midi_file(as_played(rng, [melody, left], 0.5, 9.0, 0.02))
    return midi_file([meta, melody, left])


def songs():
    rng = random.Random(20261209)
    return {
        "legato": song(rng, 64, 4, 112, [1, 1, 0.5, 0.5, 2]),
        "played": song(rng, 64, 4, 92, [1, 1, 0.5, 0.5, 2, 1.5], played=True),
        "arrangement": song(rng, 72, 4, 128, [0.5, 0.5, 1, 0.25, 0.25], legato=0.6, long_rest_at=30),
        "fast": song(rng, 80, 4, 170, [0.25, 0.25, 0.5, 0.5, 1], legato=0.8),
        "ballad": song(rng, 56, 3, 66, [1, 2, 3, 0.5], legato=1.0),
        "tempos": song(rng, 64, 4, 100, [1, 0.5, 0.5, 2], tempo_changes=[(16, 140), (32, 84), (48, 120)]),
        "etude": etude(rng, 64, 104, False),
        "etude-played": etude(rng, 64, 96, True),
    }


TARGETS = "1.5,2.3,3.3,4.6,5.8,7"
FIGURES = ["stars", "objects", "slider_share", "combo_max", "grid_share", "dir_entropy", "pitch_dir_agree",
           "turn_back_share", "crowd_share", "tde_flag_share", "overlap_far_share", "v_max", "ds_cv",
           "longest_unbroken_gap_ms", "concurrent_pairs", "offscreen"]


BANDS = ["Easy", "Normal", "Hard", "Insane", "Expert", "Expert+"]
# Per band, Easy to Expert+: what a map for play keeps.
LIMITS = {
    "combo_max": [10, 12, 12, 16, 20, 20],
    "v_max": [0.40, 0.70, 1.60, 3.00, 3.70, 5.00],
    "crowd_share": [0.03, 0.05, 0.05, 0.10, 0.15, 0.20],
    "tde_flag_share": [0.02, 0.05, None, None, None, None],
    "overlap_far_share": [0.01, 0.01, 0.02, 0.02, 0.02, 0.02],
    "ds_cv": [None, None, 0.30, None, None, None],
}
LEAST_GRID = [0.45, 0.5, 0.5, 0.5, 0.85, 0.85]


def rules_broken(band, r):
    """The rules of a map for play that the map r (mapqual's figures) breaks."""
    b = BANDS.index(band)
    out = []
    for figure, limits in LIMITS.items():
        if limits[b] is not None and isinstance(r.get(figure), (int, float)) and r[figure] > limits[b]:
            out.append(f"{figure} {r[figure]} > {limits[b]}")
    if r["objects"] >= 150 and r["grid_share"] < LEAST_GRID[b]:
        out.append(f"grid_share {r['grid_share']} < {LEAST_GRID[b]}")
    checks = [("dir_entropy", 0.90, False), ("pitch_dir_agree", 0.75, False), ("turn_back_share", 0.30, True),
              ("slider_share", 0.85, True), ("longest_unbroken_gap_ms", 4000, True),
              ("concurrent_pairs", 0, True), ("offscreen", 0, True)]
    for figure, limit, most in checks:
        value = r.get(figure)
        if isinstance(value, (int, float)) and (value > limit if most else value < limit):
            out.append(f"{figure} {value} {'>' if most else '<'} {limit}")
    return out


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, data in songs().items():
        with open(os.path.join(out, name + ".mid"), "wb") as f:
            f.write(data)
    if "--measure" not in sys.argv:
        return 0
    here = os.path.dirname(os.path.abspath(__file__))
    onpu = os.environ.get("ONPU", os.path.join(here, "..", "build", "onpu"))
    mapqual = os.path.join(here, "..", "..", "shared", "tools", "mapqual", "mapqual.mjs")
    for old in os.listdir(out):
        if old.endswith(".osu"):
            os.remove(os.path.join(out, old))
    maps = []
    for name in songs():
        run = subprocess.run([onpu, name + ".mid", "--stars", TARGETS], cwd=out, capture_output=True, text=True)
        if run.returncode != 0:
            print(run.stderr)
            return 1
        maps += [os.path.join(out, f) for f in sorted(os.listdir(out)) if f.startswith(name + "-") and f.endswith("stars.osu")]
    measured = subprocess.run(["node", mapqual] + maps, capture_output=True, text=True)
    lines = measured.stdout.splitlines()
    if measured.returncode != 0 or len(lines) != len(maps):
        # No figures must not read as no rule broken.
        print(measured.stderr, file=sys.stderr)
        print(f"mapqual measured {len(lines)} of {len(maps)} maps (exit status {measured.returncode}); "
              f"run npm ci in {os.path.dirname(mapqual)} if its packages are missing", file=sys.stderr)
        return 1
    by_band = {}
    for line in lines:
        figures = json.loads(line)
        by_band.setdefault(figures["version"].split(" ")[0], []).append(figures)
        if "--each" in sys.argv:
            print(" ".join(f"{k}={figures.get(k)}" for k in ["file"] + FIGURES))
    broken = []
    for band, rows in by_band.items():
        for r in rows:
            broken += [f"{os.path.basename(r['file'])}: {what}" for what in rules_broken(band, r)]
    print("band     maps " + " ".join(f"{f[:9]:>9}" for f in FIGURES))
    for band in ["Easy", "Normal", "Hard", "Insane", "Expert", "Expert+"]:
        rows = by_band.get(band, [])
        if not rows:
            continue
        cells = []
        for f in FIGURES:
            values = [r[f] for r in rows if isinstance(r.get(f), (int, float))]
            cells.append(f"{statistics.median(values):9.3f}" if values else f"{'-':>9}")
        print(f"{band:8} {len(rows):4} " + " ".join(cells))
    print(f"{len(broken)} rules broken in {len(maps)} maps")
    for line in broken:
        print("  " + line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
