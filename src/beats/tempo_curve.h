// How the tempo of a performance moves: the local beat period, second by
// second, at the level of the beat chosen for the whole piece.
//
// A player may take the second theme at half the speed of the first, and a
// tracker held near one period then counts its eighths as beats. The local
// periodicities of the accents (the lag histogram of beat_level.h, over a few
// seconds around each second) are followed by a Viterbi path that pays for
// every change of period, so that the curve follows a slowing or a quicker
// section but does not leap to another metrical level. The beats are then
// tracked in a warped time where that curve is flat.
#pragma once

#include <vector>

#include "beats/onset_features.h"

namespace onpu {

struct TempoCurve {
  double first_ms = 0;            // the centre of the first step
  double step_ms = 1000;          // the steps' spacing
  std::vector<double> period_ms;  // the beat period at each step; empty without onsets
};

// The local beat period of onsets (ascending), starting from level_ms, the
// beat period chosen for the whole piece.
TempoCurve follow_tempo(const std::vector<Onset>& onsets, double level_ms);

// A time where the curve's beat lasts reference_ms throughout: warped time
// runs at reference_ms / period of real time, at most twice as fast or as
// slow. Monotonic both ways; beyond the curve, the first and last periods
// hold.
class TimeWarp {
 public:
  TimeWarp(const TempoCurve& curve, double reference_ms);
  double warped(double real_ms) const;
  double real(double warped_ms) const;

 private:
  std::vector<double> real_knots_;    // the steps' edges in real time
  std::vector<double> warped_knots_;  // and in warped time
  std::vector<double> slopes_;        // warped per real ms, one per step
};

}  // namespace onpu
