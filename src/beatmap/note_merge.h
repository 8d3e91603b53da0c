// The note pass: every loud enough Note On of every track becomes a placed
// hit object, handed on in ascending time.
#pragma once

#include <vector>

#include "beatmap/hit_object_writer.h"
#include "beatmap/note_placement.h"
#include "common/byte_source.h"
#include "midi/measure_grid.h"
#include "midi/tempo_map.h"
#include "midi/track_reader.h"

namespace onpu {

// Reads the tracks side by side and writes their hit objects in ascending
// time; at equal times the lower track goes first, and within a track the
// events keep their order. That is the order a stable sort of all notes by
// time would give, but it needs memory per track rather than per note: each
// track's times only grow, so the order is a merge of the tracks' streams.
// Returns false if the file ended where the first walk had found bytes.
bool write_hit_objects_in_time_order(const ByteSource& source, const std::vector<TrackChunk>& tracks,
                                     const TempoMap& tempo_map, const std::vector<Measure>& grid,
                                     const PlacementContext& context, HitObjectWriter& writer);

}  // namespace onpu
