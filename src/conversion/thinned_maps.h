// Thinned maps: beatmaps of one note per moment, as many moments as make
// the map rate the stars asked for, with the header of the rating's band.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "beatmap/beatmap_writer.h"
#include "beatmap/play_timing.h"
#include "common/byte_source.h"
#include "conversion/conversion.h"
#include "difficulty/moments.h"
#include "difficulty/thinning.h"

namespace onpu {

// What every thinned map of a file starts from: its moments, in time order,
// and the order in which they join a map.
struct MomentPlan {
  std::vector<Moment> moments;
  std::vector<uint32_t> order;
  size_t cover_count = 0;  // the beginning of order that every map keeps
  // The timing of the maps for play: the song's own (timing empty), or, for
  // a performance whose own grid does not fit its notes, timing points that
  // follow the beats inferred from the notes, with the range of tempo found
  // and the most common meter.
  std::vector<TimingLine> timing;
  bool inferred = false;
  double slowest_bpm = 0;
  double fastest_bpm = 0;
  int meter = 4;
};

// A file of more notes than this is a sequenced song: its grid is kept
// without a look (a pianist's hour holds some 50000 notes).
inline constexpr size_t kMostPerformedNotes = 300000;

// Reads the analysed file's notes once more, on one thread, into moments,
// then each track once more for the top notes' releases. When the file's
// grid does not fit its notes, infers the beats a player followed and
// places the moments on them. False if the file ended where the first walk
// had found bytes.
bool plan_moments(const ByteSource& source, const MidiAnalysis& analysis, MomentPlan* plan);

// The difficulty name of a thinned map: the band and the target, as in
// "Hard 3.50★".
std::string thinned_version_name(int target_hundredths);

// The header of the maps for play in a set: the title, artist and tags of
// the file name (song_names), a preview at the bar line that starts the
// loudest, fullest stretch of the song (choose_preview_ms, each moment
// weighing its loudest velocity times its notes) on the maps' own bar
// lines, and the background picture's file name.
PlayHeader set_header_for(const MidiAnalysis& analysis, const MomentPlan& plan, const std::string& base_name,
                          const std::string& background);

// Writes the thinned map for target_hundredths / 100 stars, laid out for
// play in the style of its band, into target's sink; *chosen says what it
// holds and how it rates. The same in every mode. set_header, when given,
// is the header of a map in a set (see write_beatmap_header).
ConversionResult write_thinned_beatmap(const MidiAnalysis& analysis, const MomentPlan& plan,
                                       const std::string& base_name, int target_hundredths, OutputTarget& target,
                                       ThinnedMap* chosen, const PlayHeader* set_header = nullptr);

}  // namespace onpu
