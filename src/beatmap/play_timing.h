// The uninherited timing points of a beatmap: the song's own (one per tempo
// segment, as the full maps have them), or points that follow a player's
// beats, for maps of a performance whose own tempo is a placeholder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "midi/tempo_map.h"

namespace onpu {

struct TimingLine {
  int32_t time_ms = 0;
  double beat_length_ms = 500.0;
  int meter = 4;
  // The game draws a bar line every `meter` beats from the point on; with
  // this set it leaves out the first (effects 8): a point inside a bar.
  bool omit_first_bar_line = false;
};

// The song's own timing points: one per tempo segment, with the meter of the
// time signature in force at the segment's tick.
std::vector<TimingLine> song_timing_lines(const TempoMap& tempo_map);

// Timing points that follow beats (ascending times in ms) and bar lines
// (indices into beats, ascending): each bar in as few stretches of even
// beats as keep every beat within kBendMs of where its stretch puts it; a
// point at the start of each stretch, the one at the bar line with its bar
// line, the others without (they lie inside the bar). Beats before the first
// bar line (a pickup) are a bar without a bar line. No beats: no points.
inline constexpr double kBendMs = 12.0;
std::vector<TimingLine> beat_timing_lines(const std::vector<double>& beats_ms, const std::vector<uint32_t>& bar_starts);

// The text of a timing point: "time,beat,meter,1,0,100,1,effects\n", the
// beat with six decimals.
std::string timing_line_text(const TimingLine& line);

}  // namespace onpu
