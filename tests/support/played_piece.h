// A piano piece as a pianist plays it, for tests of thinned maps: a melody
// (channel 0) over chords rolled by up to 20 ms (channel 1), sections of
// half notes, eighths and sixteenths, timing off the grid by up to about
// 10 ms, a swell of loudness every 16 measures, and optionally a drum track
// (channel 9). 100 BPM in 4/4 at division 480 unless told otherwise.
#pragma once

#include <cstdint>

#include "support/smf_builder.h"

namespace onpu::test {

struct PieceShape {
  uint32_t seed = 1;
  int measures = 48;
  uint32_t microseconds_per_quarter = 600000;  // 100 BPM
  bool humanised = true;
  bool drums = false;
};

Bytes played_piece(const PieceShape& shape);

}  // namespace onpu::test
