// The objects of a map laid out for play (circles and straight sliders, with
// combos and breaks) and their text.
#pragma once

#include <cstdint>
#include <vector>

#include "common/output_sink.h"

namespace onpu {

// A placed object. A slider runs straight from (x, y) towards
// (end_x, end_y) for length_px, slides times (1 + its repeats).
struct PlayObject {
  int32_t x = 0;
  int32_t y = 0;
  int32_t time_ms = 0;
  int32_t slides = 0;  // 0: a circle
  int32_t end_x = 0;
  int32_t end_y = 0;
  double length_px = 0.0;  // to hundredths, as written
  double end_time_ms = 0.0;
  // A slider's speed: its inherited timing points are written with the
  // beat length -inherited_beat_length, which the game reads as the slider
  // velocity 100 / inherited_beat_length (100: velocity 1).
  int32_t inherited_beat_length = 100;
  bool new_combo = false;
  uint32_t note = 0;  // which note it plays, in its maker's numbering
  uint8_t key = 0;
  uint8_t velocity = 0;
};

struct BreakPeriod {
  int32_t start_ms = 0;
  int32_t end_ms = 0;
};

struct PlayLayout {
  std::vector<PlayObject> objects;  // in time order
  std::vector<BreakPeriod> breaks;  // in time order
};

// A slider's head sounds its note; the rest of it (ticks, repeats, tail,
// the slide) plays at this volume, so that the note is not struck again
// when the slider ends. A slider takes its volume from timing points, one
// at its head at the note's volume and this one a few ms later.
inline constexpr int kSliderBodyVolume = 5;
inline constexpr int32_t kSliderBodyVolumeDelayMs = 6;

// One hit-object line per object: "x,y,time,type,0,..." with type 1 (a
// circle) or 2 (a slider, "L|end_x:end_y,slides,length"), plus 4 where a
// combo starts; each sounds "piano/<key>.mp3", a circle at its velocity's
// volume, a slider at the volume of its timing points.
void write_play_objects(TextBuffer& out, const std::vector<PlayObject>& objects);

}  // namespace onpu
