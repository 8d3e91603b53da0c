#include "midi/measure_grid.h"

#include <algorithm>
#include <limits>

#include "common/console.h"
#include "common/messages.h"

namespace onpu {
namespace {

// Measure ends are summed in 64 bits and held within the 32-bit range, so a
// song of absurd measures cannot overflow.
int32_t clamp_ms(int64_t ms) {
  return static_cast<int32_t>(std::clamp<int64_t>(ms, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

}  // namespace

std::vector<Measure> build_measure_grid(const TempoMap& tempo_map, int32_t max_time) {
  std::vector<Measure> grid;
  if (max_time == 0) {
    grid.push_back(Measure{1, 0, 0, 120.0, 4});
    return grid;
  }
  const std::vector<TempoSegment>& segments = tempo_map.segments();
  const TimeSignature& meter = tempo_map.time_signatures().front();
  const int32_t n = meter.numerator;
  const int32_t d = meter.denominator;
  size_t current = 0;
  int32_t start = 0;
  int32_t number = 1;
  while (true) {
    const TempoSegment& segment = segments[current];
    double length_ms = ((4.0 / d) * (60000.0 / segment.bpm)) * n;
    int64_t length = truncate_to_int32(length_ms);
    int64_t end = int64_t{start} + length;
    const bool has_next = current + 1 < segments.size();
    const int64_t boundary = has_next ? seconds_to_ms(segments[current + 1].start_seconds) : 0;
    if (has_next && boundary < end) {
      end = boundary;
      length = boundary - start;
    }
    if (length <= 0) {
      length = 1000;
      end = int64_t{start} + 1000;
    }
    const int32_t end_ms = clamp_ms(end);
    grid.push_back(Measure{number, start, end_ms, segment.bpm, n});
    ++number;
    start = end_ms;
    if (has_next && end_ms >= boundary) ++current;
    if (number > kMaxMeasures || end_ms >= max_time) break;
  }
  return grid;
}

std::string print_measure_grid(const std::vector<Measure>& grid) {
  std::string text = msg::kMeasureHeading;
  for (size_t i = 0; i < grid.size() && i < 5; ++i) {
    const Measure& m = grid[i];
    text += format(msg::kMeasureLine, m.number, m.start_ms, m.end_ms, m.bpm);
  }
  return text;
}

const Measure* find_measure(const std::vector<Measure>& grid, int32_t time_ms) {
  for (const Measure& m : grid) {
    if (m.start_ms <= time_ms && time_ms < m.end_ms) return &m;
  }
  return nullptr;
}

}  // namespace onpu
