// Plays a MidiTimeline through a fresh SynthInstance into one stereo buffer
// that runs from time 0 to the end of the MIDI file plus a fixed tail. The
// tail lets the last notes ring a little; the song is not stretched until
// the last voice dies away, so its length follows the MIDI file alone.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "audio/midi_timeline.h"
#include "audio/synth_instance.h"

namespace onpu::audio {

// Seconds rendered after the end of the MIDI file.
constexpr double kSongTailSeconds = 2.0;
// Longest song rendered (end of the MIDI file plus tail); anything longer is
// refused rather than filling memory.
constexpr double kMaxSongSeconds = 60.0 * 60.0;

// Frames the song of `timeline` lasts: end plus tail, rounded up to whole
// 64-frame blocks.
size_t song_frame_count(const MidiTimeline& timeline);

// Fails (one line in *error) for a song longer than kMaxSongSeconds.
bool check_song_length(const MidiTimeline& timeline, std::string* error);

// Called now and then with the frames rendered so far and the total.
using RenderProgress = std::function<void(size_t done_frames, size_t total_frames)>;

// Renders the song into *stereo (interleaved, 2 * song_frame_count floats).
// `synth` must be freshly created: its state becomes part of the song.
// Fails only where check_song_length does.
bool render_song(SynthInstance& synth, const MidiTimeline& timeline, const RenderProgress& progress,
                 std::vector<float>* stereo, std::string* error);

}  // namespace onpu::audio
