// Where a note's hit circle goes on the playfield (512 x 384), by mode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "midi/measure_grid.h"

namespace onpu {

// A hit circle (type 1, no hit sound); the writer marks new combos.
struct HitObject {
  int32_t x = 0;
  int32_t y = 0;
  int32_t time = 0;  // milliseconds
  int32_t channel = 0;
  uint8_t note = 0;      // the key byte as read, 0-255
  uint8_t velocity = 0;  // the velocity byte as read
};

struct PlacementContext {
  bool slider_mode = false;
  bool horizontal = false;
  int32_t max_time = 0;
};

enum class PlacementKind { kCircle, kInMeasure, kGlobal };

struct Placement {
  HitObject object;
  PlacementKind kind = PlacementKind::kCircle;
  int32_t base_y = 0;
  double progress = 0.0;
  const Measure* measure = nullptr;  // with kInMeasure
};

// Places one qualifying Note On at time_ms. In the slider modes measure is
// the grid's measure holding time_ms (find_measure), or null when none does.
// Circle mode: x from the key, y from the channel. Slider-vertical: x from
// the key, y from the progress through the measure. Slider-horizontal: x
// from the progress, y from the key. A note in no measure takes its y from
// its progress through the whole song.
Placement place_note(const PlacementContext& context, int32_t time_ms, const Measure* measure, int channel,
                     uint8_t key, uint8_t velocity);

// x from the key: key bytes above 127 count as 127.
inline int32_t pitch_x(uint8_t key) { return 30 + ((key > 127 ? 127 : key) * 452) / 127; }
// y from the channel, in circle mode.
inline int32_t channel_y(int channel) { return 50 + (channel * 284) / 15; }

// The hit object alone, as place_note places it; circle mode, where a
// black-MIDI file spends its time, needs no call.
inline HitObject place_hit_object(const PlacementContext& context, int32_t time_ms, const Measure* measure,
                                  int channel, uint8_t key, uint8_t velocity) {
  if (context.slider_mode) return place_note(context, time_ms, measure, channel, key, velocity).object;
  HitObject object;
  object.x = pitch_x(key);
  object.y = channel_y(channel);
  object.time = time_ms;
  object.channel = channel;
  object.note = key;
  object.velocity = velocity;
  return object;
}

// The console line that describes a slider-mode placement ("" in circle mode).
std::string describe_placement(const Placement& placement, int32_t max_time);

}  // namespace onpu
