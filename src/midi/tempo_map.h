// The tempo map and the time signatures of a song, and the conversion of
// ticks to seconds.
//
// Set Tempo and Time Signature events may sit in any track in any order. The
// lists are kept in tick order (events at one tick in the order the file
// holds them), so that every tick has one tempo and the timing points of the
// beatmap come out in time order.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include "midi/midi_header.h"

namespace onpu {

struct TempoSegment {
  uint64_t tick = 0;
  uint32_t tempo = 500000;  // microseconds per quarter note
  double bpm = 120.0;       // 60000000.0 / tempo
  double seconds_per_tick = 0.0;  // tempo / (division * 1000000.0)
  double start_seconds = 0.0;
};

struct TimeSignature {
  uint64_t tick = 0;
  int32_t numerator = 4;
  int32_t denominator = 4;  // 1 << (exponent % 32), as a 32-bit value
  int32_t clocks_per_click = 24;
  int32_t thirty_seconds_per_quarter = 8;
};

// Truncates toward zero, holding the result within the signed 32-bit range
// (NaN gives 0).
inline int32_t truncate_to_int32(double value) {
  if (!(value == value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

// Seconds in whole milliseconds: seconds * 1000.0, truncated toward zero.
inline int32_t seconds_to_ms(double seconds) { return truncate_to_int32(seconds * 1000.0); }

class TempoMap {
 public:
  // Starts with 120 BPM and 4/4 at tick 0.
  explicit TempoMap(uint16_t division);

  // Collection, in file order. A tempo of 0 must not be added.
  void add_tempo(uint64_t tick, uint32_t tempo);
  void add_time_signature(uint64_t tick, const uint8_t data[4]);
  // Orders what was added and computes the segments' start_seconds. Call
  // once, after the last add and before any query.
  void finish();

  const std::vector<TempoSegment>& segments() const { return segments_; }
  const std::vector<TimeSignature>& time_signatures() const { return signatures_; }
  // Segments after the first.
  int tempo_change_count() const { return static_cast<int>(segments_.size()) - 1; }

  // Seconds from the song's start to tick, through the last segment whose
  // tick is at most tick.
  double ticks_to_seconds(uint64_t tick) const;
  // The same from a given segment, which must be the right one for tick.
  double seconds_in_segment(size_t segment, uint64_t tick) const {
    if (smpte()) return tick / ticks_per_second_;
    const TempoSegment& s = segments_[segment];
    return (s.seconds_per_tick * static_cast<double>(tick - s.tick)) + s.start_seconds;
  }
  // Index of the last segment whose tick is at most tick.
  size_t segment_at(uint64_t tick) const;

  bool smpte() const { return ticks_per_second_ > 0; }

 private:
  uint16_t division_;
  double ticks_per_second_ = 0;  // SMPTE timing only
  std::vector<TempoSegment> segments_;
  std::vector<TimeSignature> signatures_;
};

// Seconds of ticks that only grow, as one track's events have them: steps the
// tempo map forward instead of searching it every time. A jump over more than
// one segment is searched, not walked: every track of a file may jump over
// all of its tempo changes, and walking would cost tracks times changes.
class TempoCursor {
 public:
  explicit TempoCursor(const TempoMap& map) : map_(&map) {}
  double seconds(uint64_t tick) {
    const std::vector<TempoSegment>& segments = map_->segments();
    if (segment_ + 1 < segments.size() && tick >= segments[segment_ + 1].tick) {
      ++segment_;
      if (segment_ + 1 < segments.size() && tick >= segments[segment_ + 1].tick) segment_ = map_->segment_at(tick);
    }
    return map_->seconds_in_segment(segment_, tick);
  }

 private:
  const TempoMap* map_;
  size_t segment_ = 0;
};

}  // namespace onpu
