// The .osu text before the first hit object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "beatmap/play_objects.h"
#include "beatmap/play_timing.h"
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

// What a map for play in a set says beyond the full maps' header: the song's
// title and artist (the file name's "Artist - Title"), search words, where
// the game's song select starts the preview and the background picture.
// Values are written as given, with any control character turned into a
// space so that each stays on its line.
struct PlayHeader {
  std::string title;
  std::string artist;
  std::string tags;
  int32_t preview_ms = -1;
  std::string background;  // file name inside the set; empty: none
};

// Writes the byte-order mark, "osu file format v14", the fixed sections, one
// uninherited timing point per tempo segment (song_timing_lines), the combo
// colours and the
// "[HitObjects]" line. base_name names the audio file and the title;
// version_name is the difficulty's name. Lines end in a line feed only.
// A map laid out for play adds its breaks to [Events] and, among the
// timing points, the volume points of its sliders; timing, when given,
// replaces the song's own timing points. set_header, when given, replaces
// the title, artist, tags and preview time and names the background.
void write_beatmap_header(TextBuffer& out, std::string_view base_name, std::string_view version_name,
                          const TempoMap& tempo_map, const BeatmapDifficulty& difficulty = BeatmapDifficulty(),
                          const PlayLayout* play = nullptr, const std::vector<TimingLine>* timing = nullptr,
                          const PlayHeader* set_header = nullptr);

// The beat lengths that the timing points of write_beatmap_header give, as
// the game reads them back from the text, by time.
class BeatLengths {
 public:
  explicit BeatLengths(const TempoMap& tempo_map);
  explicit BeatLengths(const std::vector<TimingLine>& lines);
  // The beat length of the last timing point at or before time_ms (the
  // first one's before it); of timing points in the same millisecond, the
  // first.
  double at(int32_t time_ms) const;

 private:
  std::vector<int32_t> starts_ms_;
  std::vector<double> beat_ms_;
};

}  // namespace onpu
