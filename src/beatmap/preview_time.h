// Where the game's song select starts playing a set: at a bar line, at the
// stretch of the song where the music is loudest and fullest.
#pragma once

#include <cstdint>
#include <vector>

#include "beatmap/play_timing.h"

namespace onpu {

// The bar lines the game draws for timing points (in time order), in ms,
// before end_ms: one at each point unless it leaves out its first, then one
// every `meter` beats until the next point.
std::vector<int32_t> bar_line_times_ms(const std::vector<TimingLine>& lines, int32_t end_ms);

// A moment of the song as the preview weighs it: when it sounds and how
// much (its loudest velocity times its number of notes, say).
struct SoundingMoment {
  int32_t time_ms = 0;
  int64_t weight = 0;
};

// How long a preview plays, about.
inline constexpr int32_t kPreviewMs = 20000;

// The bar line (from bar_lines_ms, ascending) that starts the kPreviewMs
// whose moments (ascending time) weigh the most, among those that end by
// end_ms; the earliest of equal ones. A song shorter than a preview
// previews from the last bar line at or before its first moment (the first
// bar line when none is; 0 without bar lines). Never negative.
int32_t choose_preview_ms(const std::vector<int32_t>& bar_lines_ms, const std::vector<SoundingMoment>& moments,
                          int32_t end_ms);

}  // namespace onpu
