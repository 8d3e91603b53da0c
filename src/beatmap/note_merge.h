// The note pass: every loud enough Note On of every track becomes a placed
// hit object, written in ascending time.
#pragma once

#include <bitset>
#include <cstdint>
#include <functional>
#include <vector>

#include "beatmap/note_placement.h"
#include "common/byte_source.h"
#include "common/console.h"
#include "common/output_sink.h"
#include "midi/measure_grid.h"
#include "midi/tempo_map.h"
#include "midi/track_scan.h"

namespace onpu {

// How the note pass divides the song into parts: the ticks where one part
// ends and the next begins, ascending (none: the song is one part), and how
// many threads may make parts at once. Each boundary is the first tick of
// its millisecond, so no two parts share a time and the parts, written one
// after the other, keep the order of the whole.
struct NotePassPlan {
  std::vector<uint64_t> boundaries;
  unsigned threads = 1;
};

// The notes of a part, unless a test asks for other parts.
inline constexpr uint64_t kPartNotes = uint64_t{1} << 16;

// Parts of about part_notes notes each, found from the first walk's
// checkpoints. threads 0 means one per core, at most four; with one thread
// the song is one part.
NotePassPlan plan_note_pass(const TrackScan& scan, const TempoMap& tempo_map, uint64_t part_notes,
                            unsigned threads);

struct NotePassResult {
  bool ok = true;  // false if the file ended where the first walk had found bytes
  int note_count = 0;
  std::bitset<256> keys_used;
};

// Reads the tracks side by side and writes their hit-object lines to out in
// ascending time; at equal times the lower track goes first, and within a
// track the events keep their order. That is the order a stable sort of all
// notes by time would give, but it needs memory per track rather than per
// note: each track's times only grow, so the order is a merge of the tracks'
// streams. The parts of the plan are made side by side by its threads and
// written in order. Every 10000th line is reported on console: as it is
// formatted when the song is one part, else as its part is written.
NotePassResult write_hit_objects_in_time_order(const ByteSource& source, const TrackScan& scan,
                                               const TempoMap& tempo_map, const std::vector<Measure>& grid,
                                               const PlacementContext& context, const NotePassPlan& plan,
                                               OutputSink& out, Console& console);

// A qualifying Note On with its tick and its time.
struct TimedNote {
  uint64_t tick = 0;
  int32_t time_ms = 0;
  uint8_t channel = 0;
  uint8_t key = 0;       // the key byte as read
  uint8_t velocity = 0;  // the velocity byte as read
};

// Every qualifying Note On of every track, in the order of the note pass
// (ascending time; at equal times the lower track, then the track's own
// order), read on the calling thread. False if the file ended where the
// first walk had found bytes.
bool for_each_note_in_time_order(const ByteSource& source, const TrackScan& scan, const TempoMap& tempo_map,
                                 const std::function<void(const TimedNote&)>& visit);

}  // namespace onpu
