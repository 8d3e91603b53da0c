#include "beatmap/note_placement.h"

#include <algorithm>

#include "common/console.h"
#include "common/messages.h"
#include "midi/tempo_map.h"

namespace onpu {

Placement place_note(const PlacementContext& context, int32_t time_ms, const Measure* measure, int channel,
                     uint8_t key, uint8_t velocity) {
  Placement placement;
  HitObject& object = placement.object;
  object.time = time_ms;
  object.channel = channel;
  object.note = key;
  object.velocity = velocity;

  const int n = key > 127 ? 127 : key;
  placement.base_y = channel_y(channel);

  if (!context.slider_mode) {
    object.x = pitch_x(key);
    object.y = placement.base_y;
    return placement;
  }
  if (measure) {
    placement.kind = PlacementKind::kInMeasure;
    placement.measure = measure;
    placement.progress = static_cast<double>(time_ms - measure->start_ms) /
                         static_cast<double>(measure->end_ms - measure->start_ms);
    if (context.horizontal) {
      object.x = std::clamp(30 + truncate_to_int32(placement.progress * 452), 30, 482);
      object.y = std::clamp(50 + ((127 - n) * 284) / 127, 50, 334);
    } else {
      object.x = pitch_x(key);
      object.y = std::clamp(30 + truncate_to_int32(placement.progress * 324), 30, 354);
    }
    return placement;
  }
  // In no measure: past the grid's end. A song of length 0 has every note at
  // its very start, so progress 0.
  placement.kind = PlacementKind::kGlobal;
  placement.progress = context.max_time == 0 ? 0.0 : static_cast<double>(time_ms) / context.max_time;
  object.x = pitch_x(key);
  object.y = 30 + truncate_to_int32(placement.progress * 324);
  return placement;
}

std::string describe_placement(const Placement& placement, int32_t max_time) {
  const HitObject& object = placement.object;
  switch (placement.kind) {
    case PlacementKind::kInMeasure:
      return format(msg::kDebugInMeasure, object.note, object.time, placement.measure->start_ms,
                    placement.measure->end_ms, placement.base_y, object.y);
    case PlacementKind::kGlobal:
      return format(msg::kDebugGlobal, object.time, max_time, placement.progress, object.y);
    case PlacementKind::kCircle:
      break;
  }
  return std::string();
}

}  // namespace onpu
