#!/usr/bin/env python3
"""Songs of several kinds for measuring the maps that --stars writes.

  python3 bench/play_songs.py OUT_DIR            writes the songs (.mid)
  python3 bench/play_songs.py OUT_DIR --measure  also runs onpu --stars on
      each and ../shared/tools/mapqual on every map (with the song's full
      map as its music), and prints the medians of the figures per band, the
      worst of a few of them, and every rule of play a map breaks (needs node
      and mapqual's npm packages). Exit status 1 if a map went unmeasured.
  options of --measure:
    --songs DIR    the .mid files of DIR instead of the songs made here
                   (copied into OUT_DIR first; files onpu rejects are listed
                   and skipped)
    --limit N      only the first N files of DIR (by name)
    --targets LIST the star ratings to ask for (default: TARGETS)
    --each         also one line of figures per map

The songs are made from a seed, so the same command gives the same files:
a legato melody over held chords, the same played by a pianist (rubato,
uneven timing, a placeholder tempo), a quantised arrangement with bass,
arpeggios and a long rest, a fast piece with sixteenth runs, a slow ballad
in 3/4, a piece with several tempo changes, and an etude (a melody over
running sixteenths), quantised and played; then a calm song with a few short
bursts of very fast notes, a song at 200 BPM with notes held long enough for
sliders, a 20-minute song of several sections and tempos, and a song played
with strong rubato.
"""
import argparse
import json
import os
import random
import re
import shutil
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


def song(rng, measures, beats, bpm, palette, legato=0.95, played=False, tempo_changes=None, long_rest_at=None,
         bend=0.35, bend_period=7.0):
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
        return midi_file(as_played(rng, [melody, chords], bend, bend_period, 0.03))
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


def calm_with_bursts(rng, measures, bpm, bursts):
    """Quarter and half notes over chords held a measure each, but for the
    bursts, (first measure, measures, notes per beat): loud runs up and down
    the scale, a few measures long."""
    melody, chords, meta = [], [], [tempo_event(0, bpm), meter_event(0, 4)]
    in_burst = {}
    for first, length, per_beat in bursts:
        for m in range(first, first + length):
            in_burst[m] = per_beat
    beat = 0.0
    lengths = rhythm(rng, measures, 4, [1, 1, 2, 2])
    keys = melody_keys(rng, len(lengths), 60, 79)
    for (length, rest), key in zip(lengths, keys):
        if int(beat // 4) not in in_burst and not rest:
            note(melody, int(beat * DIVISION), int((beat + length * 0.95) * DIVISION), key, 70 + rng.randint(-8, 8))
        beat += length
    for m, per_beat in sorted(in_burst.items()):
        degree = rng.randint(7, 10)
        way = 1
        for i in range(4 * per_beat):
            start = (m * 4 + i / per_beat) * DIVISION
            key = 12 * (degree // 7) + SCALE[degree % 7] + 48
            note(melody, int(start), int(start + DIVISION / per_beat * 0.9), key, rng.randint(110, 124))
            if not 7 <= degree + way <= 20:
                way = -way
            degree += way
    for m in range(measures):
        root = 36 + rng.choice([0, 5, 7, 9, 2])
        for i, k in enumerate([root, root + 7, root + 12 + 4]):
            note(chords, m * 4 * DIVISION + i * 8, (m + 1) * 4 * DIVISION - 20, k, 55, channel=1)
    return midi_file([meta, melody, chords])


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
        # Each of these has its own seed, so the songs above stay the same.
        "calm-bursts": calm_with_bursts(random.Random(20261210), 76, 100,
                                        [(12, 2, 8), (30, 4, 4), (47, 3, 8), (64, 2, 4)]),
        "fast200": song(random.Random(20261211), 126, 4, 200, [0.5, 0.5, 1, 1, 2, 3]),
        "long20": song(random.Random(20261212), 560, 4, 112, [1, 1, 0.5, 0.5, 2, 0.25, 0.25],
                       tempo_changes=[(80, 132), (160, 96), (240, 120), (320, 88), (400, 144), (480, 108)],
                       long_rest_at=300),
        "rubato": song(random.Random(20261213), 90, 4, 80, [1, 1, 0.5, 0.5, 2, 1.5], played=True,
                       bend=1.0, bend_period=8.0),
    }


TARGETS = "1.5,2.3,3.3,4.6,5.8,7"
FIGURES = ["stars", "objects", "slider_share", "combo_max", "grid_share", "dir_entropy", "pitch_dir_agree",
           "turn_back_share", "crowd_share", "tde_flag_share", "overlap_far_share", "v_max", "ds_cv",
           "longest_unbroken_gap_ms", "concurrent_pairs", "offscreen"]
# Figures whose worst map per band is printed too, with whether the lowest
# value is the worst (a map that leaves most of the song out) or the highest.
WORST = {"objects_per_min": min, "gap_ms_p10": max, "slider_speed_max": max, "unmapped_music_share": max,
         "unmapped_longest_s": max}
LABELS = {"objects_per_min": "obj/min", "gap_ms_p10": "gap_p10", "slider_speed_max": "slider_vx",
          "unmapped_music_share": "unmap_shr", "unmapped_longest_s": "unmap_s"}


BANDS = ["Easy", "Normal", "Hard", "Insane", "Expert", "Expert+"]
# Per band, Easy to Expert+: what a map for play keeps.
LIMITS = {
    "combo_max": [10, 12, 12, 16, 20, 20],
    "v_max": [0.40, 0.70, 1.60, 3.00, 3.70, 5.00],
    "crowd_share": [0.03, 0.05, 0.05, 0.10, 0.15, 0.20],
    "tde_flag_share": [0.02, 0.05, None, None, None, None],
    "overlap_far_share": [0.01, 0.01, 0.02, 0.02, 0.02, 0.02],
    "ds_cv": [None, None, 0.30, None, None, None],
    "slider_speed_max": [0.30, 0.38, 0.55, 0.65, 0.75, 1.10],
}
LEAST_GRID = [0.45, 0.5, 0.5, 0.5, 0.85, 0.85]
# A map may leave the player without objects for at most this much longer
# than the song's own longest rest.
SILENCE_MARGIN_MS = 2000


def longest_rest_ms(full_map):
    """The song's longest rest: the longest time between two consecutive
    distinct object start times of its full map (the file at full_map, where
    every note is a circle), in ms; 0 if it has fewer than two."""
    times = set()
    in_objects = False
    with open(full_map, encoding="utf-8-sig", errors="replace") as f:
        for line in f:
            line = line.strip()
            if line.startswith("["):
                in_objects = line == "[HitObjects]"
            elif in_objects and line and not line.startswith("//"):
                times.add(float(line.split(",")[2]))
    times = sorted(times)
    return max((b - a for a, b in zip(times, times[1:])), default=0)


def rules_broken(band, r, song_rest_ms=None):
    """The rules of a map for play that the map r (mapqual's figures) breaks;
    song_rest_ms: the song's longest rest (longest_rest_ms), if known."""
    b = BANDS.index(band)
    out = []
    for figure, limits in LIMITS.items():
        if limits[b] is not None and isinstance(r.get(figure), (int, float)) and r[figure] > limits[b]:
            out.append(f"{figure} {r[figure]} > {limits[b]}")
    if r["objects"] >= 150 and r["grid_share"] < LEAST_GRID[b]:
        out.append(f"grid_share {r['grid_share']} < {LEAST_GRID[b]}")
    checks = [("dir_entropy", 0.90, False), ("pitch_dir_agree", 0.75, False), ("turn_back_share", 0.30, True),
              ("slider_share", 0.85, True), ("longest_unbroken_gap_ms", 4000, True),
              ("concurrent_pairs", 0, True), ("offscreen", 0, True), ("unmapped_music_share", 0.02, True)]
    for figure, limit, most in checks:
        value = r.get(figure)
        if isinstance(value, (int, float)) and (value > limit if most else value < limit):
            out.append(f"{figure} {value} {'>' if most else '<'} {limit}")
    gap = r.get("longest_gap_ms")
    if song_rest_ms is not None and isinstance(gap, (int, float)) and gap > song_rest_ms + SILENCE_MARGIN_MS:
        out.append(f"longest_gap_ms {gap} > the song's longest rest {song_rest_ms:.0f} + {SILENCE_MARGIN_MS}")
    return out


def label(figure):
    return LABELS.get(figure, figure[:9])


def print_table(by_band, figures, summary):
    """One row per band: the number of maps and summary(values) of each figure."""
    print("band     maps " + " ".join(f"{label(f):>9}" for f in figures))
    for band in BANDS:
        rows = by_band.get(band, [])
        if not rows:
            continue
        cells = []
        for f in figures:
            values = [r[f] for r in rows if isinstance(r.get(f), (int, float))]
            cells.append(f"{summary(f, values):9.3f}" if values else f"{'-':>9}")
        print(f"{band:8} {len(rows):4} " + " ".join(cells))


class Arguments(argparse.ArgumentParser):
    def error(self, message):
        """Bad arguments: the usage and what is wrong, exit status 1."""
        self.print_usage(sys.stderr)
        self.exit(1, f"{self.prog}: {message}\n")


def arguments():
    parser = Arguments(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter,
                                     usage="%(prog)s OUT_DIR [--measure [--songs DIR] [--limit N] "
                                           "[--targets LIST] [--each]]")
    parser.add_argument("out", metavar="OUT_DIR")
    parser.add_argument("--measure", action="store_true")
    parser.add_argument("--songs", metavar="DIR")
    parser.add_argument("--limit", type=int, metavar="N")
    parser.add_argument("--targets", default=TARGETS, metavar="LIST")
    parser.add_argument("--each", action="store_true")
    args = parser.parse_args()
    if (args.songs or args.limit is not None) and not args.measure:
        parser.error("--songs and --limit go with --measure")
    if args.limit is not None and (not args.songs or args.limit < 1):
        parser.error("--limit N (N at least 1) goes with --songs")
    if args.songs and not os.path.isdir(args.songs):
        parser.error(f"--songs {args.songs}: no such folder")
    if os.path.abspath(args.songs or "") == os.path.abspath(args.out):
        parser.error("--songs DIR must not be OUT_DIR: the maps would land beside the songs")
    return args


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    args = arguments()
    out = args.out
    os.makedirs(out, exist_ok=True)
    if args.songs:
        files = sorted(f for f in os.listdir(args.songs) if f.lower().endswith(".mid"))[:args.limit]
        if not files:
            print(f"no .mid file in {args.songs}", file=sys.stderr)
            return 1
        names = [f[:-4] for f in files]
        for f in files:
            shutil.copyfile(os.path.join(args.songs, f), os.path.join(out, f[:-4] + ".mid"))
    else:
        names = list(songs())
        for name, data in songs().items():
            with open(os.path.join(out, name + ".mid"), "wb") as f:
                f.write(data)
    if not args.measure:
        return 0
    here = os.path.dirname(os.path.abspath(__file__))
    onpu = os.environ.get("ONPU", os.path.join(here, "..", "build", "onpu"))
    mapqual = os.path.join(here, "..", "..", "shared", "tools", "mapqual", "mapqual.mjs")
    for old in os.listdir(out):
        if old.endswith(".osu"):
            os.remove(os.path.join(out, old))
    by_band = {}
    broken = []
    rejected = []  # (song, onpu's message): files onpu refuses, with exit status 1
    failed = []  # what went wrong otherwise: onpu crashed, maps mapqual could not measure
    measured_maps = 0
    for name in names:
        run = subprocess.run([onpu, name + ".mid", "--stars", args.targets], cwd=out, capture_output=True, text=True)
        if run.returncode == 1 and args.songs:
            rejected.append((name, run.stderr.strip().splitlines()[-1:] or ["(no message)"]))
            continue
        if run.returncode != 0:
            print(run.stderr, file=sys.stderr)
            if not args.songs:
                return 1
            failed.append(f"{name}.mid: onpu exit status {run.returncode}")
            continue
        pattern = re.compile(re.escape(name) + r"-[0-9.]+stars\.osu")
        maps = [os.path.join(out, f) for f in sorted(os.listdir(out)) if pattern.fullmatch(f)]
        full = os.path.join(out, name + ".osu")
        rest = longest_rest_ms(full)
        measured = subprocess.run(["node", mapqual, "--music", full] + maps, capture_output=True, text=True)
        lines = measured.stdout.splitlines()
        if len(lines) != len(maps) or not maps:
            # No figures must not read as no rule broken.
            print(measured.stderr, file=sys.stderr)
            print(f"{name}: mapqual measured {len(lines)} of {len(maps)} maps (exit status {measured.returncode}); "
                  f"run npm ci in {os.path.dirname(mapqual)} if its packages are missing", file=sys.stderr)
            return 1
        for line in lines:
            figures = json.loads(line)
            if figures.get("error"):
                failed.append(f"{os.path.basename(figures['file'])}: mapqual: {figures['error']}")
                continue
            measured_maps += 1
            band = figures["version"].split(" ")[0]
            by_band.setdefault(band, []).append(figures)
            broken += [f"{os.path.basename(figures['file'])}: {what}"
                       for what in rules_broken(band, figures, rest)]
            if args.each:
                print(" ".join(f"{k}={figures.get(k)}" for k in ["file"] + FIGURES + list(WORST) + ["longest_gap_ms"])
                      + f" song_rest_ms={rest:.0f}")
    print("medians")
    print_table(by_band, FIGURES + list(WORST), lambda f, values: statistics.median(values))
    print("worst (" + ", ".join(f"{label(f)}: {'lowest' if worst is min else 'highest'}"
                               for f, worst in WORST.items()) + ")")
    print_table(by_band, list(WORST), lambda f, values: WORST[f](values))
    print(f"{len(broken)} rules broken in {measured_maps} maps")
    for line in broken:
        print("  " + line)
    if rejected:
        print(f"{len(rejected)} songs rejected by onpu (skipped):")
        for name, message in rejected:
            print(f"  {name}.mid: {message[0]}")
    if failed or not measured_maps:
        print(f"{len(failed)} failures" + ("" if measured_maps else ", and no map measured") + ":", file=sys.stderr)
        for line in failed:
            print("  " + line, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
