// The notes of a Standard MIDI File as the beat tracker and the keep-or-infer
// test read them: every sounding Note On of every track with its tick, its
// time in the file's own tempo map and its release.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "beats/beat_tracker.h"
#include "common/byte_source.h"
#include "midi/tempo_map.h"

namespace onpu {

struct PerformedSong {
  uint16_t division = 0;
  std::vector<PerformedNote> notes;  // in time order; at equal times, in track order
  std::vector<uint64_t> ticks;       // the tick of each note, in the same order
};

// Reads the file in source. False, with song untouched past what was read,
// when the file is not a readable Standard MIDI File (no header, a damaged
// chunk, a file that ends inside an event), or when it holds more than
// most_notes sounding notes (memory stays bounded by them).
bool read_performed_song(const ByteSource& source, PerformedSong* song, size_t most_notes = SIZE_MAX);

}  // namespace onpu
