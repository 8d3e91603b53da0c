// The measure grid of the slider modes: consecutive measures from 0 ms up to
// at least the song's end, at most 1000 of them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "midi/tempo_map.h"

namespace onpu {

struct Measure {
  int32_t number = 1;
  int32_t start_ms = 0;  // inclusive
  int32_t end_ms = 0;    // exclusive
  double bpm = 120.0;
  int32_t beats = 4;
};

inline constexpr int kMaxMeasures = 1000;

// Cuts the song into measures of the first time signature's length at the
// tempo of the segment each measure starts in; a tempo change inside a
// measure ends it early. Never empty: a song of length 0 gets one measure
// from 0 to 0 ms.
std::vector<Measure> build_measure_grid(const TempoMap& tempo_map, int32_t max_time);

// The listing of the first five measures, as printed on the console.
std::string print_measure_grid(const std::vector<Measure>& grid);

// The first measure with start_ms <= time_ms < end_ms, or null.
const Measure* find_measure(const std::vector<Measure>& grid, int32_t time_ms);

// find_measure for times that only grow (one track's notes): steps forward,
// and searches when a time lies further on, as for a reader that starts in
// the middle of the song. Measure ends only grow along the grid.
class MeasureCursor {
 public:
  explicit MeasureCursor(const std::vector<Measure>& grid) : grid_(&grid) {}
  const Measure* find(int32_t time_ms) {
    const std::vector<Measure>& grid = *grid_;
    if (index_ < grid.size() && time_ms >= grid[index_].end_ms) {
      ++index_;
      if (index_ < grid.size() && time_ms >= grid[index_].end_ms) {
        index_ = static_cast<size_t>(
            std::partition_point(grid.begin() + static_cast<std::ptrdiff_t>(index_), grid.end(),
                                 [time_ms](const Measure& m) { return time_ms >= m.end_ms; }) -
            grid.begin());
      }
    }
    if (index_ < grid.size() && time_ms >= grid[index_].start_ms) return &grid[index_];
    return nullptr;
  }

 private:
  const std::vector<Measure>* grid_;
  size_t index_ = 0;
};

}  // namespace onpu
