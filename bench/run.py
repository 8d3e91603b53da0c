#!/usr/bin/env python3
"""Benchmark of onpu on large generated "black MIDI" files.

Builds Release (unless --build-dir points at a build), generates the input
files with onpu_bench_gen, runs onpu on each case several times and prints,
per case: the median wall seconds, hit objects per second, output MB/s, peak
RSS, and the floor: the median time `cat` takes to copy a file of the
output's size in the same run, with the ratio onpu / floor, and the synced
floor: the same copy with the copy synced to disk before the clock stops, as
onpu syncs its output before putting it in place.

  bench/run.py                 all cases (needs about 2 GB of disk)
  bench/run.py --smoke         tiny files, one run each (CI)
  bench/run.py --osz           the .osz cases instead (minutes each; about 15 GB
                               of disk for the 3-hour song's temporary files)
  bench/run.py --stars         the --stars cases instead: each file converted
                               plainly and with --stars 5, runs alternating

The --osz cases print, per case, the wall seconds of `onpu FILE --osz`, the
seconds per minute of rendered audio and the peak RSS; with --old-build-dir
(a build of an older onpu) the older build runs each case in the same run and
its seconds, RSS and the ratio new / old are printed beside. With
--soundfont PATH, given once or more, each case runs with each SoundFont in
turn (runs alternating), one line each: for comparing what one costs against
another.

The --stars cases print, per case, the median wall seconds and the peak RSS
of the plain conversion and of the same conversion with --stars 5 (a map
thinned to 5 stars beside each full map), the ratio of the two times, and
the ratings onpu printed for the thinned maps.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (name, notes, tracks, tempo changes, mode)
CASES = [
    ("1M/64/200", 1_000_000, 64, 200, "circle"),
    ("10M/64/200", 10_000_000, 64, 200, "circle"),
    ("10M/2000/200", 10_000_000, 2000, 200, "circle"),
    ("10M/64/20000", 10_000_000, 64, 20000, "circle"),
    ("10M/64/200 both", 10_000_000, 64, 200, "both"),
    ("1M/64/200 vertical", 1_000_000, 64, 200, "slider-vertical"),
    ("1M/64/200 horizontal", 1_000_000, 64, 200, "slider-horizontal"),
]
SMOKE_CASES = [
    ("20k/16/50", 20_000, 16, 50, "circle"),
    ("20k/16/50 both", 20_000, 16, 50, "both"),
    ("20k/300/5000", 20_000, 300, 5000, "slider-horizontal"),
]
# (name, notes, tracks, tempo changes, minutes, piano-like)
OSZ_CASES = [
    ("1M-note bench (4 min)", 1_000_000, 64, 200, 4, False),
    ("piano 10 min", 11_000, 1, 20, 10, True),
    ("16 tracks 55 min", 152_000, 16, 200, 55, False),
    ("16 tracks 60 min", 166_000, 16, 200, 60, False),
    ("16 tracks 3 h", 498_000, 16, 200, 180, False),
]

# (name, notes, tracks, tempo changes, minutes, piano-like, mode)
STARS_CASES = [
    ("10M/64/200", 10_000_000, 64, 200, 4, False, "circle"),
    ("10M/64/200 both", 10_000_000, 64, 200, 4, False, "both"),
    ("piano 10 min", 11_000, 1, 20, 10, True, "circle"),
]
STARS_SMOKE_CASES = [
    ("20k/16/50 both", 20_000, 16, 50, 4, False, "both"),
]


TIME = "/usr/bin/time"


def run_measured(args, cwd, allow_failure=False):
    """Runs a command; returns (wall seconds, peak RSS in KiB, stdout).

    The peak RSS comes from GNU time where it is installed: a child forked
    straight from this Python process would report Python's own memory as its
    peak when that is the larger."""
    report = os.path.join(cwd, "..", "rss.txt")
    wrapped = [TIME, "-f", "%M", "-o", report] + args if os.access(TIME, os.X_OK) else args
    start = time.perf_counter()
    proc = subprocess.Popen(wrapped, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0 and not allow_failure:
        sys.exit(f"{' '.join(args)} failed with status {proc.returncode}")
    peak = usage.ru_maxrss
    if wrapped is not args:
        with open(report) as f:
            peak = int(f.read().split()[-1])
        os.remove(report)
    if proc.returncode != 0:
        return None, peak, out.decode("utf-8", "replace")
    return wall, peak, out.decode("utf-8", "replace")


def build_onpu(build, targets):
    subprocess.run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DONPU_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target"] + targets, check=True, stdout=subprocess.DEVNULL)


def osz_once(onpu, midi, out_dir, soundfont=None):
    """One `onpu MIDI --osz` in an empty out_dir: (wall or None when refused,
    peak RSS KiB, audio minutes)."""
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    os.sync()
    extra = ["--soundfont", soundfont] if soundfont else []
    wall, peak, text = run_measured([onpu, midi, "--osz"] + extra, out_dir, allow_failure=True)
    found = re.search(r"曲を合成しました: (\d+) 分 (\d+) 秒", text)
    minutes = int(found.group(1)) + int(found.group(2)) / 60 if found else None
    if wall is not None and sorted(os.listdir(out_dir)) != sorted(
            f for f in os.listdir(out_dir) if f.endswith((".osu", ".osz"))):
        sys.exit(f"{onpu} left temporary files in {out_dir}: {os.listdir(out_dir)}")
    return wall, peak, minutes


def run_osz(options, work):
    cases = [c for c in OSZ_CASES if not options.only or options.only in c[0]]
    runs = options.runs or 1
    build = os.path.abspath(options.build_dir)
    build_onpu(build, ["onpu", "onpu_osz", "onpu_bench_gen"])
    onpu = os.path.join(build, "onpu")
    generator = os.path.join(build, "onpu_bench_gen")
    old = None
    if options.old_build_dir:
        old_build = os.path.abspath(options.old_build_dir)
        subprocess.run(["cmake", "--build", old_build, "--target", "onpu", "onpu_osz"], check=True,
                       stdout=subprocess.DEVNULL)
        old = os.path.join(old_build, "onpu")
    print(f"{'case':36} {'audio min':>9} {'seconds':>8} {'s/min':>6} {'RSS MB':>7}"
          + (f" {'old s':>8} {'old RSS':>7} {'new/old s':>9}" if old else ""), flush=True)
    soundfonts = options.soundfont or [None]
    for name, notes, tracks, tempos, minutes, piano in cases:
        midi = os.path.join(work, f"osz-{notes}-{tracks}-{tempos}-{minutes}.mid")
        subprocess.run([generator, midi, str(notes), str(tracks), str(tempos), "1", str(minutes)]
                       + (["piano"] if piano else []), check=True)
        walls = {sf: [] for sf in soundfonts}
        rss = {sf: 0 for sf in soundfonts}
        audio = None
        old_walls, old_rss = [], 0
        for _ in range(runs):
            for soundfont in soundfonts:
                wall, peak, audio = osz_once(onpu, midi, os.path.join(work, "out"), soundfont)
                if wall is None:
                    sys.exit(f"onpu refused {name}")
                walls[soundfont].append(wall)
                rss[soundfont] = max(rss[soundfont], peak)
            if old:
                wall, peak, _ = osz_once(old, midi, os.path.join(work, "out"))
                old_walls.append(wall)
                old_rss = max(old_rss, peak)
        for soundfont in soundfonts:
            seconds = statistics.median(walls[soundfont])
            label = name if soundfont is None else f"{name} {os.path.basename(soundfont)}"
            line = f"{label:36} {audio:9.1f} {seconds:8.1f} {seconds / audio:6.2f} {rss[soundfont] / 1024:7.1f}"
            if old and None in old_walls:
                line += f" {'refused':>8} {'':>7} {'':>9}"
            elif old:
                old_seconds = statistics.median(old_walls)
                line += f" {old_seconds:8.1f} {old_rss / 1024:7.1f} {seconds / old_seconds:9.2f}"
            print(line, flush=True)
        os.remove(midi)
    shutil.rmtree(os.path.join(work, "out"), ignore_errors=True)


def run_stars(options, work):
    cases = STARS_SMOKE_CASES if options.smoke else STARS_CASES
    cases = [c for c in cases if not options.only or options.only in c[0]]
    runs = 1 if options.smoke else (options.runs or 5)
    build = os.path.abspath(options.build_dir)
    build_onpu(build, ["onpu", "onpu_bench_gen"])
    onpu = os.path.join(build, "onpu")
    generator = os.path.join(build, "onpu_bench_gen")
    print(f"{'case':20} {'plain s':>8} {'RSS MB':>7} {'stars s':>8} {'RSS MB':>7} {'ratio':>6}  ratings", flush=True)
    out_dir = os.path.join(work, "out")
    for name, notes, tracks, tempos, minutes, piano, mode in cases:
        midi = os.path.join(work, f"stars-{notes}-{tracks}-{tempos}-{minutes}.mid")
        subprocess.run([generator, midi, str(notes), str(tracks), str(tempos), "1", str(minutes)]
                       + (["piano"] if piano else []), check=True)
        plain, stars, plain_rss, stars_rss, ratings = [], [], 0, 0, []
        for _ in range(runs):
            for extra, walls in (([], plain), (["--stars", "5"], stars)):
                shutil.rmtree(out_dir, ignore_errors=True)
                os.makedirs(out_dir)
                os.sync()
                wall, peak, text = run_measured([onpu, midi, mode] + extra, out_dir)
                walls.append(wall)
                if extra:
                    stars_rss = max(stars_rss, peak)
                    ratings = re.findall(r"→ ([0-9.]+★(?: \(この曲の最高\))?)", text)
                else:
                    plain_rss = max(plain_rss, peak)
        plain_s, stars_s = statistics.median(plain), statistics.median(stars)
        print(f"{name:20} {plain_s:8.3f} {plain_rss / 1024:7.1f} {stars_s:8.3f} {stars_rss / 1024:7.1f} "
              f"{stars_s / plain_s:6.2f}  {', '.join(ratings)}", flush=True)
        os.remove(midi)
    shutil.rmtree(out_dir, ignore_errors=True)


def cat_seconds(path, cwd, durable=False):
    """Seconds `cat` takes to copy path; with durable, until the copy is also
    synced to disk, as onpu syncs its output before putting it in place."""
    target = os.path.join(cwd, "floor-copy")
    os.sync()
    start = time.perf_counter()
    with open(target, "wb") as out:
        subprocess.run(["cat", path], stdout=out, check=True)
        if durable:
            os.fsync(out.fileno())
    wall = time.perf_counter() - start
    os.remove(target)
    return wall


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--smoke", action="store_true", help="tiny inputs, one run each")
    parser.add_argument("--runs", type=int, default=None, help="runs per case (5; 1 with --osz)")
    parser.add_argument("--osz", action="store_true", help="the .osz cases instead of the default ones")
    parser.add_argument("--stars", action="store_true", help="the --stars cases instead of the default ones")
    parser.add_argument("--old-build-dir", default=None, help="with --osz: also run this build's onpu")
    parser.add_argument("--soundfont", action="append", default=None,
                        help="with --osz: run each case with this SoundFont (repeat for several)")
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build-bench"))
    parser.add_argument("--work-dir", default=None, help="where inputs and outputs go")
    parser.add_argument("--only", default=None, help="run only cases whose name contains this")
    options = parser.parse_args()
    if options.osz or options.stars:
        work = options.work_dir or tempfile.mkdtemp(prefix="onpu-bench-")
        os.makedirs(work, exist_ok=True)
        try:
            (run_osz if options.osz else run_stars)(options, work)
        finally:
            if not options.work_dir:
                shutil.rmtree(work, ignore_errors=True)
        return
    runs = 1 if options.smoke else (options.runs or 5)
    cases = SMOKE_CASES if options.smoke else CASES
    if options.only:
        cases = [c for c in cases if options.only in c[0]]

    build = os.path.abspath(options.build_dir)
    build_onpu(build, ["onpu", "onpu_bench_gen"])
    onpu = os.path.join(build, "onpu")
    generator = os.path.join(build, "onpu_bench_gen")

    work = options.work_dir or tempfile.mkdtemp(prefix="onpu-bench-")
    os.makedirs(work, exist_ok=True)
    print(f"{'case':24} {'seconds':>8} {'objects/s':>12} {'out MB/s':>9} {'RSS MB':>7} "
          f"{'out MB':>7} {'floor s':>8} {'ratio':>6} {'synced floor s':>14} {'ratio':>6}")
    inputs = {}
    try:
        for name, notes, tracks, tempos, mode in cases:
            key = (notes, tracks, tempos)
            if key not in inputs:
                path = os.path.join(work, f"bench-{notes}-{tracks}-{tempos}.mid")
                subprocess.run([generator, path, str(notes), str(tracks), str(tempos)], check=True)
                inputs[key] = path
            midi = inputs[key]
            out_dir = os.path.join(work, "out")
            os.makedirs(out_dir, exist_ok=True)
            walls, rss, objects = [], 0, 0
            for _ in range(runs):
                # Every run writes new files, as the floor's copy does:
                # replacing the last run's output would add its deletion.
                for old in os.listdir(out_dir):
                    os.remove(os.path.join(out_dir, old))
                # The file system frees (and the disk discards) the deleted
                # blocks at its next commit, which onpu's sync would otherwise
                # wait for: that is the benchmark's cleaning, not onpu's work.
                os.sync()
                wall, peak, text = run_measured([onpu, midi, mode], out_dir)
                walls.append(wall)
                rss = max(rss, peak)
                objects = sum(int(n) for n in re.findall(r"合計 (\d+) ノート", text))
            outputs = [os.path.join(out_dir, f) for f in os.listdir(out_dir) if f.endswith(".osu")]
            out_bytes = sum(os.path.getsize(f) for f in outputs)
            floor = statistics.median(sum(cat_seconds(f, out_dir) for f in outputs) for _ in range(runs))
            synced = statistics.median(sum(cat_seconds(f, out_dir, True) for f in outputs) for _ in range(runs))
            seconds = statistics.median(walls)
            print(f"{name:24} {seconds:8.3f} {objects / seconds:12.0f} {out_bytes / 1e6 / seconds:9.1f} "
                  f"{rss / 1024:7.1f} {out_bytes / 1e6:7.1f} {floor:8.3f} {seconds / floor:6.2f} "
                  f"{synced:14.3f} {seconds / synced:6.2f}", flush=True)
            shutil.rmtree(out_dir)
    finally:
        if not options.work_dir:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
