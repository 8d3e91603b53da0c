// Bar lines and meter over beats already found: which beats are downbeats,
// with pickups, bars cut short and changes of meter.
//
// Each beat gets a downbeat salience from what a bar line brings in piano
// music: a bass note, a change of harmony, a full chord, long notes, a loud
// onset. A hidden Markov model over the beats, whose states are the meter
// (2, 3 or 4 beats) and the place in the bar, collects the salience at the
// bar starts; Viterbi decoding gives the bar lines (after the bar-pointer
// models of Whiteley, Cemgil and Godsill 2006 and Krebs, Böck and Widmer 2013,
// here stepping from beat to beat).
#pragma once

#include <cstdint>
#include <vector>

#include "beats/beat_tracker.h"
#include "beats/onset_features.h"

namespace onpu {

struct BarLines {
  std::vector<uint32_t> bar_starts;  // indices into the beats, ascending
  int meter = 4;                     // the most common number of beats in a bar
};

// notes in time order, their onsets (gather_onsets) and the beats in ms,
// ascending. Fewer than 2 beats give no bar lines and meter 4.
BarLines find_bar_lines(const std::vector<PerformedNote>& notes, const std::vector<Onset>& onsets,
                        const std::vector<double>& beats_ms);

}  // namespace onpu
