// How long notes are held: the release of a Note On is the next Note Off of
// its key and channel in its track (a Note On of velocity 0 is a Note Off),
// or the next Note On of the same key and channel, which strikes the key
// anew.
#pragma once

#include <cstdint>
#include <vector>

#include "common/byte_source.h"
#include "midi/track_scan.h"

namespace onpu {

// A note whose release is asked for.
struct HeldNote {
  uint64_t tick = 0;  // of its Note On
  uint8_t channel = 0;
  uint8_t key = 0;
  uint64_t release_tick = 0;  // filled in; the Note On's own tick when it is never released
};

// Fills the release ticks of notes (in any order) by reading every track
// once, one after the other. A note released in another track than its own
// counts as never released. False if the file ended where the first walk had
// found bytes.
bool find_note_releases(const ByteSource& source, const TrackScan& scan, std::vector<HeldNote>* notes);

}  // namespace onpu
