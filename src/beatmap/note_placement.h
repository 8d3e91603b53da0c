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

// The console line that describes a slider-mode placement ("" in circle mode).
std::string describe_placement(const Placement& placement, int32_t max_time);

}  // namespace onpu
