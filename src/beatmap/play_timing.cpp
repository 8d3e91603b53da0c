#include "beatmap/play_timing.h"

#include <algorithm>
#include <cmath>

#include "common/console.h"

namespace onpu {
namespace {

int32_t whole_ms(double ms) { return static_cast<int32_t>(std::floor(ms + 0.5)); }

}  // namespace

std::vector<TimingLine> song_timing_lines(const TempoMap& tempo_map) {
  const std::vector<TimeSignature>& signatures = tempo_map.time_signatures();
  std::vector<TimingLine> lines;
  size_t candidate = 0;
  for (const TempoSegment& segment : tempo_map.segments()) {
    // The time signature in force at the segment's tick: segments come in
    // tick order, so the search goes on from where the last one's ended.
    while (candidate + 1 < signatures.size() && signatures[candidate + 1].tick <= segment.tick) ++candidate;
    TimingLine line;
    line.time_ms = seconds_to_ms(segment.start_seconds);
    line.beat_length_ms = 60000.0 / segment.bpm;
    line.meter = signatures.empty() ? 4 : signatures[candidate].numerator;
    lines.push_back(line);
  }
  return lines;
}

std::vector<TimingLine> beat_timing_lines(const std::vector<double>& beats_ms, const std::vector<uint32_t>& bar_starts) {
  std::vector<TimingLine> lines;
  if (beats_ms.size() < 2) return lines;
  // Bars as ranges of beats [first, last]: a pickup before the first bar
  // line, the bars, and the last bar up to the last beat.
  std::vector<uint32_t> starts;
  if (bar_starts.empty() || bar_starts.front() > 0) starts.push_back(0);
  for (uint32_t start : bar_starts) {
    if (start < beats_ms.size() - 1 && (starts.empty() || start > starts.back())) starts.push_back(start);
  }
  const uint32_t last_beat = static_cast<uint32_t>(beats_ms.size() - 1);
  for (size_t b = 0; b < starts.size(); ++b) {
    const uint32_t first = starts[b];
    const uint32_t last = b + 1 < starts.size() ? starts[b + 1] : last_beat;
    const bool pickup = bar_starts.empty() ? false : first < bar_starts.front();
    const int meter = static_cast<int>(std::max<uint32_t>(1, last - first));
    // The bar in stretches of even beats: each as long as every beat inside
    // it lies within kBendMs of the even division between its ends.
    uint32_t from = first;
    while (from < last) {
      uint32_t to = from + 1;
      while (to < last) {
        const uint32_t next = to + 1;
        const double from_ms = whole_ms(beats_ms[from]);
        const double span = whole_ms(beats_ms[next]) - from_ms;
        bool even = true;
        for (uint32_t k = from + 1; k < next && even; ++k) {
          const double at = from_ms + span * static_cast<double>(k - from) / static_cast<double>(next - from);
          even = std::fabs(beats_ms[k] - at) <= kBendMs;
        }
        if (!even) break;
        to = next;
      }
      const double from_ms = whole_ms(beats_ms[from]);
      const double to_ms = whole_ms(beats_ms[to]);
      if (to_ms - from_ms >= static_cast<double>(to - from)) {  // beats at least a millisecond apart
        TimingLine line;
        line.time_ms = static_cast<int32_t>(from_ms);
        line.beat_length_ms = (to_ms - from_ms) / static_cast<double>(to - from);
        line.meter = meter;
        line.omit_first_bar_line = from != first || pickup;
        lines.push_back(line);
      }
      from = to;
    }
  }
  return lines;
}

std::string timing_line_text(const TimingLine& line) {
  return format("%d,%.6f,%d,1,0,100,1,%d\n", line.time_ms, line.beat_length_ms, line.meter,
                line.omit_first_bar_line ? 8 : 0);
}

}  // namespace onpu
