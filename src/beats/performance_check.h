// Keep or infer: whether a file's own tempo map and time signatures describe
// its notes (a sequenced song, whose grid is kept) or are a placeholder under
// a recording of a player (a performance, whose beats are inferred from the
// notes: beat_tracker.h).
//
// The test looks only at where the notes start against the file's quarter
// notes. A sequenced song puts its onsets on a lattice of the quarter: eighths,
// sixteenths, thirty-seconds, triplets and sextuplets, all of them multiples
// of a twenty-fourth of a quarter divisible by 3 or 4 (12 places a quarter:
// the "grid"). The other 12 multiples of a twenty-fourth (1/24, 5/24, 7/24,
// 11/24, ...) are the "off-grid" places, each as far from the grid as the
// grid's places are from one another. Onsets within a 96th of a quarter of a
// place count for it, so the two sets of windows are the same size and never
// touch. A player who follows no click lands on each set about as often as on
// the other (a quarter of the onsets each); a sequencer lands on the grid,
// even with humanised timing of up to a 48th of a quarter.
//
//   fits  <=>  on_grid - off_grid >= kGridMargin * onsets
//
// with kGridMargin = 0.25: chance gives a difference of 0 with a standard
// deviation of about 0.7 / sqrt(onsets) of the onsets (0.07 for 100 onsets),
// a quantised song about 1, a humanised one about 0.5. Files with fewer than
// kFewestOnsets onsets keep their grid (too little to judge by, and too
// little to infer from), and so do files that count time in SMPTE frames
// when their ticks say nothing of quarters.
#pragma once

#include <cstdint>
#include <vector>

namespace onpu {

inline constexpr double kGridMargin = 0.25;
inline constexpr uint64_t kFewestOnsets = 16;

struct GridFit {
  uint64_t onsets = 0;    // distinct onsets: notes within a 48th of a quarter are one
  uint64_t on_grid = 0;   // onsets on the grid's places
  uint64_t off_grid = 0;  // onsets on the places between
  bool fits = true;
};

// note_ticks: the tick of every Note On that sounds, in any order; division:
// the header's division (ticks per quarter note, or SMPTE when bit 15 is set).
GridFit measure_grid_fit(std::vector<uint64_t> note_ticks, uint16_t division);

// measure_grid_fit(...).fits.
bool file_grid_fits(const std::vector<uint64_t>& note_ticks, uint16_t division);

}  // namespace onpu
