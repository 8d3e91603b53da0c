#include "difficulty/moments.h"

#include <algorithm>
#include <cmath>

namespace onpu {
namespace {

constexpr uint8_t kPercussionChannel = 9;

// Whether a note at offset lies within tolerance of a multiple of period.
bool on_line(uint64_t offset, uint64_t period, uint64_t tolerance) {
  const uint64_t from_line = offset % period;
  return from_line <= tolerance || period - from_line <= tolerance;
}

// Whether candidate is a better top voice than top.
bool sounds_above(const TimedNote& candidate, const TimedNote& top) {
  const bool candidate_pitched = candidate.channel != kPercussionChannel;
  const bool top_pitched = top.channel != kPercussionChannel;
  if (candidate_pitched != top_pitched) return candidate_pitched;
  if (candidate.key != top.key) return candidate.key > top.key;
  return candidate.velocity > top.velocity;
}

}  // namespace

MetricGrid::MetricGrid(const TempoMap& tempo_map, uint16_t division)
    : signatures_(tempo_map.time_signatures()), quarter_ticks_(tempo_map.smpte() ? 0 : division) {}

MetricGrid::Place MetricGrid::place_of(uint64_t tick) const {
  auto after = std::partition_point(signatures_.begin(), signatures_.end(),
                                    [tick](const TimeSignature& s) { return s.tick <= tick; });
  const TimeSignature& signature = after == signatures_.begin() ? signatures_.front() : *std::prev(after);
  // A damaged signature (denominator 0 or beyond 64) counts in quarters.
  const uint64_t denominator =
      signature.denominator >= 1 && signature.denominator <= 64 ? static_cast<uint64_t>(signature.denominator) : 4;
  const uint64_t beat = std::max<uint64_t>(1, quarter_ticks_ * 4 / denominator);
  return Place{&signature, beat, beat * static_cast<uint64_t>(std::clamp(signature.numerator, 1, 255))};
}

uint64_t MetricGrid::measure_at(uint64_t tick) const {
  if (quarter_ticks_ == 0 || signatures_.empty()) return 0;
  const Place place = place_of(tick);
  const uint64_t offset = tick - std::min(tick, place.signature->tick) + place.beat / 12;
  const uint64_t index = static_cast<uint64_t>(place.signature - signatures_.data());
  return (index << 40) + std::min<uint64_t>(offset / place.measure, (uint64_t{1} << 40) - 1);
}

MetricLevel MetricGrid::level_at(uint64_t tick) const {
  if (quarter_ticks_ == 0 || signatures_.empty()) return MetricLevel::kOffGrid;
  const Place place = place_of(tick);
  const TimeSignature& signature = *place.signature;
  const uint64_t beat = place.beat;
  const uint64_t measure = place.measure;
  const uint64_t offset = tick - std::min(tick, signature.tick);
  const uint64_t tolerance = beat / 12;
  if (on_line(offset, measure, tolerance)) return MetricLevel::kDownbeat;
  if (on_line(offset, beat, tolerance)) return MetricLevel::kBeat;
  if (beat >= 2 && on_line(offset, beat / 2, tolerance)) return MetricLevel::kHalfBeat;
  if (beat >= 4 && on_line(offset, beat / 4, beat / 24)) return MetricLevel::kQuarterBeat;
  return MetricLevel::kOffGrid;
}

BeatGrid::BeatGrid(const std::vector<double>& beats_ms, const std::vector<uint32_t>& bar_starts)
    : beats_ms_(beats_ms), bar_line_(beats_ms.size(), false) {
  for (uint32_t start : bar_starts) {
    if (start < beats_ms_.size()) {
      bar_line_[start] = true;
      bar_times_ms_.push_back(beats_ms_[start]);
    }
  }
}

MetricLevel BeatGrid::level_at(double time_ms) const {
  if (beats_ms_.size() < 2) return MetricLevel::kOffGrid;
  // The beat at or before the time (the first one's before it) and its length.
  size_t beat = static_cast<size_t>(std::upper_bound(beats_ms_.begin(), beats_ms_.end(), time_ms) - beats_ms_.begin());
  beat = beat == 0 ? 0 : std::min(beat - 1, beats_ms_.size() - 2);
  const double length = beats_ms_[beat + 1] - beats_ms_[beat];
  if (!(length > 0)) return MetricLevel::kOffGrid;
  const double into = (time_ms - beats_ms_[beat]) / length;  // 0 on the beat, 1 on the next
  constexpr double kTolerance = 1.0 / 12;
  if (std::fabs(into) <= kTolerance) return bar_line_[beat] ? MetricLevel::kDownbeat : MetricLevel::kBeat;
  if (std::fabs(into - 1.0) <= kTolerance) return bar_line_[beat + 1] ? MetricLevel::kDownbeat : MetricLevel::kBeat;
  if (std::fabs(into - 0.5) <= kTolerance) return MetricLevel::kHalfBeat;
  if (std::fabs(into - 0.25) <= kTolerance / 2 || std::fabs(into - 0.75) <= kTolerance / 2) {
    return MetricLevel::kQuarterBeat;
  }
  return MetricLevel::kOffGrid;
}

uint64_t BeatGrid::measure_at(double time_ms) const {
  if (beats_ms_.size() < 2) return 0;
  const double lead = (beats_ms_.back() - beats_ms_.front()) / static_cast<double>(beats_ms_.size() - 1) / 12;
  return static_cast<uint64_t>(std::upper_bound(bar_times_ms_.begin(), bar_times_ms_.end(), time_ms + lead) -
                               bar_times_ms_.begin());
}

void place_moments(const BeatGrid& grid, std::vector<Moment>* moments) {
  for (Moment& moment : *moments) {
    moment.level = grid.level_at(moment.top.time_ms);
    moment.measure = grid.measure_at(moment.top.time_ms);
  }
}

void MomentBuilder::add(const TimedNote& note) {
  const int64_t time = note.time_ms;
  if (moments_.empty() || time - last_time_ >= kChordGapMs || time - first_time_ >= kMomentSpanMs) {
    Moment moment;
    moment.top = note;
    moment.level = grid_.level_at(note.tick);
    moment.loudest = note.velocity;
    moment.note_count = 1;
    moment.measure = grid_.measure_at(note.tick);
    moment.end_ms = note.time_ms;
    moments_.push_back(moment);
    first_time_ = note.time_ms;
    last_time_ = note.time_ms;
    return;
  }
  last_time_ = note.time_ms;
  Moment& moment = moments_.back();
  if (sounds_above(note, moment.top)) {
    moment.top = note;
    moment.end_ms = note.time_ms;
  }
  moment.loudest = std::max(moment.loudest, note.velocity);
  if (moment.note_count < UINT16_MAX) ++moment.note_count;
}

}  // namespace onpu
