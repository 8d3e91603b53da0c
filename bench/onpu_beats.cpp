// Prints the beats that onpu infers from the notes of a MIDI file, one
// "seconds<TAB>b|db" line per beat (db: a bar line), the format of
// /work/shared/tools/beats; on standard error, whether the file's own grid
// fits its notes, the meter and the range of tempo found.
//
//   onpu_beats FILE.mid
//   onpu_beats --levels FILE.mid   (each candidate level: "# level PERIOD SCORE", then its beats)
#include <chrono>
#include <cstdio>
#include <cstring>

#include "beats/beat_tracker.h"
#include "beats/performance_check.h"
#include "beats/performed_notes.h"
#include "common/byte_source.h"

int main(int argc, char** argv) {
  const bool levels = argc == 3 && std::strcmp(argv[1], "--levels") == 0;
  if (argc != 2 && !levels) {
    std::fprintf(stderr, "usage: %s [--levels] FILE.mid\n", argv[0]);
    return 2;
  }
  if (levels) ++argv;
  std::FILE* file = std::fopen(argv[1], "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "%s: cannot open\n", argv[1]);
    return 1;
  }
  onpu::FileSource source(file);
  onpu::PerformedSong song;
  const bool ok = onpu::read_performed_song(source, &song);
  std::fclose(file);
  if (!ok) {
    std::fprintf(stderr, "%s: not a readable MIDI file\n", argv[1]);
    return 1;
  }
  if (levels) {
    for (const onpu::BeatLevel& level : onpu::candidate_beat_levels(song.notes)) {
      std::printf("# level %.1f %.6f\n", level.period_ms, level.score);
      for (double b : level.beats_ms) std::printf("%.3f\tb\n", b / 1000.0);
    }
    return 0;
  }
  const onpu::GridFit fit = onpu::measure_grid_fit(song.ticks, song.division);
  const auto start = std::chrono::steady_clock::now();
  const onpu::InferredBeats beats = onpu::infer_beats(song.notes);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  size_t bar = 0;
  for (size_t k = 0; k < beats.beats_ms.size(); ++k) {
    const bool down = bar < beats.bar_starts.size() && beats.bar_starts[bar] == k;
    if (down) ++bar;
    std::printf("%.3f\t%s\n", beats.beats_ms[k] / 1000.0, down ? "db" : "b");
  }
  std::fprintf(stderr,
               "%s: grid %s (%llu onsets, %llu on grid, %llu off grid); %zu notes, %zu beats, meter %d, "
               "%.0f-%.0f BPM, %.3f s\n",
               argv[1], fit.fits ? "fits" : "does not fit", static_cast<unsigned long long>(fit.onsets),
               static_cast<unsigned long long>(fit.on_grid), static_cast<unsigned long long>(fit.off_grid),
               song.notes.size(), beats.beats_ms.size(), beats.meter, beats.slowest_bpm, beats.fastest_bpm, seconds);
  return 0;
}
