// The .osu text before the first hit object.
#pragma once

#include <string_view>

#include "common/output_sink.h"
#include "midi/tempo_map.h"

namespace onpu {

// The [Difficulty] values, in tenths (55 is written "5.5", 40 "4").
struct BeatmapDifficulty {
  int hp_drain_rate_tenths = 50;
  int circle_size_tenths = 160;
  int overall_difficulty_tenths = 50;
  int approach_rate_tenths = 50;
};

// Writes the byte-order mark, "osu file format v14", the fixed sections, one
// uninherited timing point per tempo segment (with the meter of the time
// signature in force at the segment's tick), the combo colours and the
// "[HitObjects]" line. base_name names the audio file and the title;
// version_name is the difficulty's name. Lines end in a line feed only.
void write_beatmap_header(TextBuffer& out, std::string_view base_name, std::string_view version_name,
                          const TempoMap& tempo_map, const BeatmapDifficulty& difficulty = BeatmapDifficulty());

}  // namespace onpu
