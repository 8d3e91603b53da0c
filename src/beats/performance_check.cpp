#include "beats/performance_check.h"

#include <algorithm>

namespace onpu {

GridFit measure_grid_fit(std::vector<uint64_t> ticks, uint16_t division) {
  GridFit fit;
  if ((division & 0x8000) || division == 0) return fit;
  std::sort(ticks.begin(), ticks.end());
  // Positions are measured in 96ths of a quarter, exactly: tick * 96 /
  // division as a fraction, compared by cross-multiplication.
  const uint64_t quarter = division;
  uint64_t group_start = 0;
  bool have_group = false;
  for (uint64_t tick : ticks) {
    // A chord spread by the player is one onset.
    if (have_group && (tick - group_start) * 48 < quarter) continue;
    group_start = tick;
    have_group = true;
    ++fit.onsets;
    // The distance to the nearest multiple of a 24th of a quarter, and which
    // multiple, in units of 1 / (24 * division) quarters.
    const uint64_t scaled = (tick % quarter) * 24;  // in 24ths of a quarter, times division
    uint64_t place = scaled / quarter;
    uint64_t rest = scaled % quarter;
    if (2 * rest > quarter) {
      ++place;
      rest = quarter - rest;
    }
    // Within a 96th of a quarter: rest / (24 * division) <= 1 / 96.
    if (rest * 4 > quarter) continue;
    if (place % 3 == 0 || place % 4 == 0) {
      ++fit.on_grid;
    } else {
      ++fit.off_grid;
    }
  }
  if (fit.onsets < kFewestOnsets) return fit;
  fit.fits = static_cast<double>(fit.on_grid) - static_cast<double>(fit.off_grid) >=
             kGridMargin * static_cast<double>(fit.onsets);
  return fit;
}

bool file_grid_fits(const std::vector<uint64_t>& note_ticks, uint16_t division) {
  return measure_grid_fit(note_ticks, division).fits;
}

}  // namespace onpu
