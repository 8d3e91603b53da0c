// How the song is shared between two synthesizers that render side by side,
// one per core, and are summed afterwards. Reverb and chorus are linear, so
// the sum sounds like one synthesizer playing everything; each part has its
// own polyphony.
//
// A note goes to the part of its (channel, key). Messages that act on a
// whole channel (controllers, programs, pitch bend, channel pressure) and
// system exclusive messages go to both parts, so each part's channels stay
// set up alike. A channel whose notes act on each other across keys stays
// whole on one part: the percussion channel (exclusive classes such as
// open and closed hi-hats), and any channel that uses portamento, mono or
// legato mode or selects a bank other than 0 (possibly a drum kit).
//
// The split depends only on the timeline, so the same file always renders
// the same way.
#pragma once

#include <array>
#include <cstdint>

#include "audio/midi_timeline.h"

namespace onpu::audio {

constexpr int kSongParts = 2;

struct SongPartPlan {
  // part_of[channel * 128 + key]: 0 or 1.
  std::array<uint8_t, 16 * 128> part_of{};
  // Parts that play at least one note; a song whose notes all fall on one
  // part is rendered by that part alone.
  int parts_used = 0;
};

// Balances the parts by their count of note-ons: the (channel, key) groups
// are dealt, heaviest first, to the part with fewer notes so far.
SongPartPlan plan_song_parts(const MidiTimeline& timeline);

// True when `event` is sent to `part`.
bool part_plays(const SongPartPlan& plan, int part, const TimedEvent& event);

}  // namespace onpu::audio
