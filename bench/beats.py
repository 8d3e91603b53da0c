#!/usr/bin/env python3
"""How well onpu infers beats, bar lines and meter from a performance.

    bench/beats.py [--build build] [--seeds 10] [--annotated DIR] [FOLDER...]

Runs build/onpu_beats_bench: per kind of synthetic performance, the mean and
median beat and downbeat F-measure (70 ms, one to one, the first 5 s left
out: the rule of the standard evaluation), the keep-or-infer decisions on the
performances and their quantised scores, the tracker's time per minute of
music, and the decisions on every .mid of each FOLDER (the shared corpus by
default).

With --annotated DIR, also runs build/onpu_beats on every NAME.mid of DIR
that has annotations beside it (NAME_annotations.txt, NAME.txt or
NAME.beats: one beat a line, seconds first, "db" or a beat number of 1 for a
bar line) and scores it with /work/shared/tools/beats/beat_eval.py (or
--eval PATH), printing each file's F-measures, the keep-or-infer decision,
the median of each and the time per minute of music.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def annotated_pairs(folder):
    for name in sorted(os.listdir(folder)):
        if not name.lower().endswith(".mid"):
            continue
        base = os.path.join(folder, name[:-4])
        for suffix in ("_annotations.txt", ".txt", ".beats"):
            if os.path.exists(base + suffix):
                yield os.path.join(folder, name), base + suffix
                break


SECTION_SPREAD = 1.7


def annotated_spread(annotated, stretch=30.0):
    """The slowest 30 s stretch's median annotated beat over the fastest's."""
    medians = []
    start = annotated[0] if annotated else 0.0
    while annotated and start < annotated[-1]:
        gaps = sorted(b - a for a, b in zip(annotated, annotated[1:]) if start <= a < start + stretch)
        if len(gaps) >= 5:
            medians.append(gaps[len(gaps) // 2])
        start += stretch
    return max(medians) / min(medians) if medians and min(medians) > 0 else 1.0


def score_annotated(build, folder, evaluator):
    rows = []
    total_seconds = total_minutes = 0.0
    kept = 0
    with tempfile.TemporaryDirectory() as tmp:
        for midi, annotations in annotated_pairs(folder):
            run = subprocess.run([os.path.join(build, "onpu_beats"), midi], capture_output=True, text=True)
            if run.returncode != 0:
                print("%s: %s" % (os.path.basename(midi), run.stderr.strip()))
                continue
            beats = os.path.join(tmp, "beats.txt")
            with open(beats, "w") as out:
                out.write(run.stdout)
            result = subprocess.run([sys.executable, evaluator, "--annotations", annotations, "--beats", beats],
                                    capture_output=True, text=True).stdout
            beat_f = float(re.search(r"beat_f=([0-9.]+)", result).group(1))
            down = re.search(r"downbeat_f=([0-9.]+)", result)
            down_f = float(down.group(1)) if down else 0.0
            fits = " fits" in run.stderr
            kept += fits
            seconds = float(re.search(r"([0-9.]+) s$", run.stderr.strip()).group(1))
            lines = run.stdout.strip().splitlines()
            minutes = float(lines[-1].split()[0]) / 60 if lines else 0
            # The level: the beats found over the annotated span against the
            # beats annotated (within 15 %: the level a pianist counts).
            annotated = [float(l.split()[0]) for l in open(annotations) if l.strip() and l[0] in "0123456789."]
            found = [float(l.split()[0]) for l in lines]
            level = (sum(1 for t in found if annotated[0] - 0.1 <= t <= annotated[-1] + 0.1) / len(annotated)
                     if annotated else 0.0)
            total_seconds += seconds
            total_minutes += minutes
            rows.append((os.path.basename(midi), beat_f, down_f, fits, level, annotated_spread(annotated)))
            print("%-40s beat %.3f  downbeat %.3f  beats found/annotated %.2f  %s"
                  % (os.path.basename(midi)[:40], beat_f, down_f, level, "grid kept" if fits else "inferred"))
    if not rows:
        print("%s: no annotated MIDI files" % folder)
        return

    def median(values):
        values = sorted(values)
        n = len(values)
        return values[n // 2] if n % 2 else (values[n // 2 - 1] + values[n // 2]) / 2

    print("%d files: median beat F %.3f, median downbeat F %.3f; %d keep their grid, %d inferred"
          % (len(rows), median([r[1] for r in rows]), median([r[2] for r in rows]), kept, len(rows) - kept))
    print("right level (beats found within 15 %% of those annotated): %d of %d"
          % (sum(1 for r in rows if 0.85 <= r[4] <= 1.15), len(rows)))
    # A tracker that keeps one level cannot match annotations that change
    # level or tempo by nearly an octave between sections: counted apart.
    changing = [r for r in rows if r[5] > SECTION_SPREAD]
    steady = [r for r in rows if r[5] <= SECTION_SPREAD]
    print("  of which where the annotated beat changes less than %.1f times between 30 s stretches: %d of %d;"
          " where it changes more: %d of %d" % (SECTION_SPREAD, sum(1 for r in steady if 0.85 <= r[4] <= 1.15),
                                                 len(steady), sum(1 for r in changing if 0.85 <= r[4] <= 1.15),
                                                 len(changing)))
    if total_minutes > 0:
        print("tracking: %.4f s per minute of music" % (total_seconds / total_minutes))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--seeds", type=int, default=10)
    ap.add_argument("--annotated")
    ap.add_argument("--eval", default=os.path.join(ROOT, "..", "shared", "tools", "beats", "beat_eval.py"))
    ap.add_argument("folders", nargs="*")
    a = ap.parse_args()
    folders = a.folders or [os.path.join(ROOT, "..", "shared", "corpus", "smf-test-files")]
    for tool in ("onpu_beats_bench", "onpu_beats"):
        if not os.path.exists(os.path.join(a.build, tool)):
            sys.exit("no %s in %s: cmake --build %s --target onpu_beats_bench onpu_beats" % (tool, a.build, a.build))
    subprocess.run([os.path.join(a.build, "onpu_beats_bench"), "--seeds", str(a.seeds)] + folders, check=True)
    if a.annotated:
        score_annotated(a.build, a.annotated, a.eval)


if __name__ == "__main__":
    main()
