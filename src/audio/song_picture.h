// The background picture of a set: the whole song as a piano roll, time from
// left to right and pitch from bottom to top, each note a bar in its
// channel's colour, brighter when played louder. Drawn with whole numbers
// only and written as PNG with fixed settings, so a song gives the same
// bytes on every platform.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/midi_timeline.h"

namespace onpu::audio {

inline constexpr int kPictureWidth = 1920;
inline constexpr int kPictureHeight = 1080;
// The most bytes a background may take.
inline constexpr size_t kMostPictureBytes = 1000000;

struct PictureNote {
  int32_t start_ms = 0;
  int32_t end_ms = 0;  // at least start_ms
  uint8_t key = 0;     // 0..127
  uint8_t channel = 0;
  uint8_t velocity = 0;  // 1..127
};

// The notes of the timeline (a Note On of velocity 0 ends a note), each
// ended by the next Note Off of its channel and key, first on first off, or
// by the song's end; the percussion channel (10) is left out, as its keys are
// not pitches. In order of their starts.
std::vector<PictureNote> picture_notes(const MidiTimeline& timeline);

// RGB, three bytes a pixel, rows top to bottom.
struct SongPicture {
  std::vector<uint8_t> rgb;
  uint8_t at(int x, int y, int colour) const {
    return rgb[(static_cast<size_t>(y) * kPictureWidth + static_cast<size_t>(x)) * 3 + static_cast<size_t>(colour)];
  }
};

// Draws notes over song_ms (the song's length; at least 1) on a dark
// background: the time runs over the width between margins, the keys the
// notes use (at least two octaves, centred) over the height. cell > 1
// snaps every bar's edges outward to multiples of cell pixels, a coarser
// picture that packs smaller.
void draw_song_picture(const std::vector<PictureNote>& notes, int32_t song_ms, int cell, SongPicture* picture);

// The picture as PNG (compression level 8, the writer's own choice of filter
// per row).
std::vector<uint8_t> encode_png(const SongPicture& picture);

// The set's background: draws the notes and encodes them, coarser each time
// until the PNG fits kMostPictureBytes.
std::vector<uint8_t> song_picture_png(const std::vector<PictureNote>& notes, int32_t song_ms);

}  // namespace onpu::audio
