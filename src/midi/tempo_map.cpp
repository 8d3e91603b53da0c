#include "midi/tempo_map.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace onpu {

TempoMap::TempoMap(uint16_t division) : division_(division) {
  segments_.push_back(TempoSegment{});
  segments_[0].seconds_per_tick = segments_[0].tempo / (division_ * 1000000.0);
  signatures_.push_back(TimeSignature{});
  if (division & 0x8000) {
    int frame_rate = -static_cast<int>(static_cast<int8_t>(division >> 8));
    double frames_per_second = frame_rate == 29 ? 30000.0 / 1001.0 : frame_rate;
    ticks_per_second_ = frames_per_second * (division & 0xFF);
  }
}

void TempoMap::add_tempo(uint64_t tick, uint32_t tempo) {
  TempoSegment segment;
  segment.tick = tick;
  segment.tempo = tempo;
  segment.bpm = 60000000.0 / tempo;
  segment.seconds_per_tick = tempo / (division_ * 1000000.0);
  segments_.push_back(segment);
}

void TempoMap::add_time_signature(uint64_t tick, const uint8_t data[4]) {
  TimeSignature signature;
  signature.tick = tick;
  signature.numerator = data[0];
  signature.denominator = static_cast<int32_t>(uint32_t{1} << (data[1] % 32));
  signature.clocks_per_click = data[2];
  signature.thirty_seconds_per_quarter = data[3];
  signatures_.push_back(signature);
}

namespace {

// Stable order by tick behind the initial entry; entries at tick 0 replace
// the initial entry's values, the last one in file order winning.
template <typename Entry, typename Assign>
void order_behind_head(std::vector<Entry>* entries, Assign assign_to_head) {
  std::stable_sort(entries->begin() + 1, entries->end(),
                   [](const Entry& a, const Entry& b) { return a.tick < b.tick; });
  size_t first_later = 1;
  while (first_later < entries->size() && (*entries)[first_later].tick == 0) {
    assign_to_head(&(*entries)[0], (*entries)[first_later]);
    ++first_later;
  }
  entries->erase(entries->begin() + 1, entries->begin() + static_cast<std::ptrdiff_t>(first_later));
}

}  // namespace

void TempoMap::finish() {
  order_behind_head(&segments_, [](TempoSegment* head, const TempoSegment& at_zero) {
    head->tempo = at_zero.tempo;
    head->bpm = at_zero.bpm;
    head->seconds_per_tick = at_zero.seconds_per_tick;
  });
  order_behind_head(&signatures_, [](TimeSignature* head, const TimeSignature& at_zero) {
    head->numerator = at_zero.numerator;
    head->denominator = at_zero.denominator;
    head->clocks_per_click = at_zero.clocks_per_click;
    head->thirty_seconds_per_quarter = at_zero.thirty_seconds_per_quarter;
  });
  for (size_t i = 1; i < segments_.size(); ++i) {
    if (smpte()) {
      segments_[i].start_seconds = segments_[i].tick / ticks_per_second_;
    } else {
      const TempoSegment& previous = segments_[i - 1];
      double delta = static_cast<double>(segments_[i].tick - previous.tick);
      segments_[i].start_seconds = (previous.seconds_per_tick * delta) + previous.start_seconds;
    }
  }
}

size_t TempoMap::segment_at(uint64_t tick) const {
  auto after = std::upper_bound(segments_.begin() + 1, segments_.end(), tick,
                                [](uint64_t t, const TempoSegment& segment) { return t < segment.tick; });
  return static_cast<size_t>(after - segments_.begin()) - 1;
}

double TempoMap::ticks_to_seconds(uint64_t tick) const { return seconds_in_segment(segment_at(tick), tick); }

}  // namespace onpu
