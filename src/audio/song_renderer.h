// Plays a MidiTimeline through fresh FluidSynth synthesizers, one per part of
// a SongPartPlan, each on its own thread, and hands the summed stereo song
// to a sink a chunk at a time, from time 0 to the end of the MIDI file plus
// a fixed tail. The tail lets the last notes ring a little; the song is not
// stretched until the last voice dies away, so its length follows the MIDI
// file alone. Nothing of the song is kept: memory stays the same whatever
// its length.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "audio/midi_timeline.h"
#include "audio/song_parts.h"
#include "audio/synth_instance.h"

namespace onpu::audio {

// Seconds rendered after the end of the MIDI file.
constexpr double kSongTailSeconds = 2.0;
// Longest song rendered (end of the MIDI file plus tail). No real song comes
// near it: a file that asks for more has a broken tempo or tick, and
// rendering it would fill the disk with days of audio.
constexpr double kMaxSongSeconds = 12.0 * 60.0 * 60.0;

// Frames the song of `timeline` lasts: end plus tail, rounded up to whole
// 64-frame blocks.
size_t song_frame_count(const MidiTimeline& timeline);

// Fails (one line in *error) for a song longer than kMaxSongSeconds.
bool check_song_length(const MidiTimeline& timeline, std::string* error);

// Called now and then with the frames rendered so far and the total.
using RenderProgress = std::function<void(size_t done_frames, size_t total_frames)>;

// Receives the next `frames` interleaved stereo frames of the song. Returns
// false to stop the render, having set the error itself.
using SongSink = std::function<bool(const float* stereo, size_t frames)>;

// Renders the song. The parts are summed in part order, so the same
// timeline, plan and SoundFont give the same samples on every run. Fails
// where check_song_length does, when a synthesizer cannot be created, or
// when the sink refuses a chunk.
bool render_song(const std::string& soundfont, const MidiTimeline& timeline, const SongPartPlan& plan,
                 const RenderProgress& progress, const SongSink& sink, std::string* error);

}  // namespace onpu::audio
