// The beat tracker against synthetic performances, and the keep-or-infer
// test against them and against folders of MIDI files:
//
//   onpu_beats_bench [--seeds N] [FOLDER...]
//   onpu_beats_bench --write FOLDER     (the performances as MIDI files)
//   onpu_beats_bench --show KIND SEED   (the beats found beside the reference)
//
// Prints, per kind of synthetic performance, the mean and median beat and
// downbeat F-measure over N seeds (the rule of the standard evaluation:
// 70 ms, one to one, the first 5 s left out), the decisions on the
// performances (placeholder tempo: should be inferred) and on their
// quantised scores (should keep their grid), the decisions on every .mid in
// each folder, and the tracker's time per minute of music.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <string>
#include <vector>

#include "common/byte_source.h"
#include "beats/beat_tracker.h"
#include "beats/performance_check.h"
#include "beats/performed_notes.h"
#include "support/smf_builder.h"
#include "support/synthetic_performance.h"

namespace {

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double mean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return v.empty() ? 0 : s / v.size();
}

void decide_folder(const std::string& folder) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    std::printf("%s: no such folder\n", folder.c_str());
    return;
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > 4 && (name.substr(name.size() - 4) == ".mid" || name.substr(name.size() - 4) == ".MID")) {
      names.push_back(name);
    }
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  int keep = 0, infer = 0, unreadable = 0;
  std::string inferred;
  for (const std::string& name : names) {
    std::FILE* file = std::fopen((folder + "/" + name).c_str(), "rb");
    if (file == nullptr) continue;
    onpu::FileSource source(file);
    onpu::PerformedSong song;
    const bool ok = onpu::read_performed_song(source, &song);
    std::fclose(file);
    if (!ok) {
      ++unreadable;
      continue;
    }
    if (onpu::file_grid_fits(song.ticks, song.division)) {
      ++keep;
    } else {
      ++infer;
      inferred += " " + name;
    }
  }
  std::printf("%s: %zu files: %d keep their grid, %d inferred, %d unreadable%s%s\n", folder.c_str(), names.size(), keep,
              infer, unreadable, infer ? "; inferred:" : "", inferred.c_str());
}

// Writes each kind's performance (seed 1) as NN-KIND.mid under a placeholder
// tempo of 120 BPM at 480 ticks a quarter, with NN-KIND_annotations.txt
// beside it (the score's beats, "db" at bar lines), for bench/beats.py
// --annotated and for trying the whole program on a performance.
void write_performances(const std::string& folder) {
  int number = 0;
  for (onpu::test::PerformanceKind kind : onpu::test::kAllPerformanceKinds) {
    const onpu::test::SyntheticPerformance p = onpu::test::synthetic_performance(kind, 1);
    const onpu::test::Bytes bytes = onpu::test::performance_midi(p);
    std::string name = onpu::test::kind_name(kind);
    for (char& c : name) c = (c == ' ' || c == '/') ? '-' : c;
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%02d-", ++number);
    const std::string base = folder + "/" + prefix + name;
    std::FILE* out = std::fopen((base + ".mid").c_str(), "wb");
    if (out == nullptr) {
      std::fprintf(stderr, "cannot write %s.mid\n", base.c_str());
      return;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fclose(out);
    out = std::fopen((base + "_annotations.txt").c_str(), "w");
    size_t bar = 0;
    for (double t : p.beats_ms) {
      const bool down = bar < p.downbeats_ms.size() && p.downbeats_ms[bar] == t;
      if (down) ++bar;
      std::fprintf(out, "%.6f\t%s\n", t / 1000.0, down ? "db" : "b");
    }
    std::fclose(out);
  }
}

}  // namespace

int main(int argc, char** argv) {
  int seeds = 10;
  std::vector<std::string> folders;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seeds") == 0 && i + 1 < argc) {
      seeds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--write") == 0 && i + 1 < argc) {
      write_performances(argv[i + 1]);
      return 0;
    } else if (std::strcmp(argv[i], "--show") == 0 && i + 2 < argc) {
      // --show KIND SEED: the reference beats beside the beats found.
      const int kind_index = std::atoi(argv[i + 1]);
      const auto kind = onpu::test::kAllPerformanceKinds[kind_index];
      const auto p = onpu::test::synthetic_performance(kind, static_cast<uint32_t>(std::atoi(argv[i + 2])));
      const onpu::InferredBeats found = onpu::infer_beats(p.notes);
      std::printf("%s: beat F %.3f, meter %d, %zu bars\n", onpu::test::kind_name(kind), onpu::test::beat_f_measure(p.beats_ms, found.beats_ms), found.meter, found.bar_starts.size());
      for (size_t k = 0; k < std::max(p.beats_ms.size(), found.beats_ms.size()); ++k) {
        std::printf("%10.0f %10.0f\n", k < p.beats_ms.size() ? p.beats_ms[k] : -1.0,
                    k < found.beats_ms.size() ? found.beats_ms[k] : -1.0);
      }
      return 0;
    } else {
      folders.push_back(argv[i]);
    }
  }
  using onpu::test::PerformanceKind;
  double tracked_seconds = 0, music_minutes = 0;
  int performances_inferred = 0, scores_kept = 0, total = 0;
  std::vector<double> all_beat, all_down;
  std::printf("%-14s %9s %9s %9s %9s\n", "kind", "beat mean", "median", "down mean", "median");
  for (PerformanceKind kind : onpu::test::kAllPerformanceKinds) {
    std::vector<double> beat_f, down_f;
    for (int seed = 1; seed <= seeds; ++seed) {
      const onpu::test::SyntheticPerformance p = onpu::test::synthetic_performance(kind, static_cast<uint32_t>(seed));
      const auto start = std::chrono::steady_clock::now();
      const onpu::InferredBeats found = onpu::infer_beats(p.notes);
      tracked_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      music_minutes += p.notes.back().time_ms / 60000.0;
      std::vector<double> downbeats;
      for (uint32_t index : found.bar_starts) downbeats.push_back(found.beats_ms[index]);
      beat_f.push_back(onpu::test::beat_f_measure(p.beats_ms, found.beats_ms));
      down_f.push_back(onpu::test::beat_f_measure(p.downbeats_ms, downbeats));
      // The performance under a placeholder tempo of 120 BPM at 480 ticks a
      // quarter: 0.96 ticks a millisecond.
      std::vector<uint64_t> ticks;
      for (const onpu::PerformedNote& n : p.notes) ticks.push_back(static_cast<uint64_t>(n.time_ms * 0.96 + 0.5));
      performances_inferred += onpu::file_grid_fits(ticks, 480) ? 0 : 1;
      scores_kept += onpu::file_grid_fits(p.score_ticks, 480) ? 1 : 0;
      ++total;
    }
    all_beat.insert(all_beat.end(), beat_f.begin(), beat_f.end());
    all_down.insert(all_down.end(), down_f.begin(), down_f.end());
    std::printf("%-14s %9.3f %9.3f %9.3f %9.3f\n", onpu::test::kind_name(kind), mean(beat_f), median(beat_f),
                mean(down_f), median(down_f));
  }
  std::printf("%-14s %9.3f %9.3f %9.3f %9.3f\n", "all", mean(all_beat), median(all_beat), mean(all_down),
              median(all_down));
  std::printf("performances inferred: %d of %d; their quantised scores keep their grid: %d of %d\n",
              performances_inferred, total, scores_kept, total);
  std::printf("tracking: %.4f s per minute of music (%.1f minutes)\n", tracked_seconds / music_minutes, music_minutes);
  for (const std::string& folder : folders) decide_folder(folder);
  return 0;
}
