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


TIME = "/usr/bin/time"


def run_measured(args, cwd):
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
    if proc.returncode != 0:
        sys.exit(f"{' '.join(args)} failed with status {proc.returncode}")
    peak = usage.ru_maxrss
    if wrapped is not args:
        with open(report) as f:
            peak = int(f.read().split()[-1])
        os.remove(report)
    return wall, peak, out.decode("utf-8", "replace")


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
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--build-dir", default=os.path.join(ROOT, "build-bench"))
    parser.add_argument("--work-dir", default=None, help="where inputs and outputs go")
    parser.add_argument("--only", default=None, help="run only cases whose name contains this")
    options = parser.parse_args()
    runs = 1 if options.smoke else options.runs
    cases = SMOKE_CASES if options.smoke else CASES
    if options.only:
        cases = [c for c in cases if options.only in c[0]]

    build = os.path.abspath(options.build_dir)
    subprocess.run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DONPU_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "--target", "onpu", "onpu_bench_gen"], check=True,
                   stdout=subprocess.DEVNULL)
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
