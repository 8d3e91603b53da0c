// The level of the beat: which of the periodicities of a performance is the
// beat a musician counts (the quarter of a 4/4, the dotted quarter of a 6/8)
// rather than its subdivision or its bar.
//
// Candidates come from the periodicities of the accents (a lag histogram of
// onset pairs, summed over the multiples of each period, after the tempo
// induction of Dixon 2001 and the harmonic sums of Klapuri et al. 2006);
// each candidate is tracked, and the beats that catch the bass notes, the
// chords and the changes of harmony while leaving few beats without them win,
// among those that span a plausible number of the music's onsets, the more
// so where each beat spans one turn of the music's figure.
#pragma once

#include <vector>

#include "beats/onset_features.h"

namespace onpu {

// Up to 8 beat periods in milliseconds, between kShortestBeatMs and
// kLongestBeatMs, strongest periodicity first; none without onsets.
inline constexpr double kShortestBeatMs = 240.0;
inline constexpr double kLongestBeatMs = 2000.0;
std::vector<double> beat_period_candidates(const std::vector<Onset>& onsets);

// The salience of each period of a lag histogram (lags: the weight of onset
// pairs by the log of their lag, bins_per_octave bins an octave): the
// histogram smoothed over neighbouring bins, then summed over the period's
// multiples (twice, three and four times) with falling weights, after the
// harmonic sums of Klapuri et al. 2006. As many bins as lags.
std::vector<double> periodicity_salience(const std::vector<double>& lags, int bins_per_octave);

// The middle value (the upper of the two middle ones); 0 for none.
double median_of(std::vector<double> values);

// The median time from beat to beat of beats (ascending, in ms); fallback
// with fewer than 2 beats.
double median_beat_ms(const std::vector<double>& beats_ms, double fallback);

// How well beats (ascending, in ms) make the beat level of the onsets: the
// F-measure of the accents of the bass, the chords and the harmony caught on
// the beats against the beats that catch them, less where a beat spans too
// few or too many of the onsets (texture_ms: texture_ms(onsets)). Higher is
// better; 0 for fewer than 4 beats.
double beat_level_score(const std::vector<Onset>& onsets, const std::vector<double>& beats_ms, double texture_ms);

// How much the pitch classes of a beat's two halves differ, less how much
// those of neighbouring beats do (means over the beats, in -1..1): a beat
// spans one turn of the music's figure (an Alberti pattern, a broken chord,
// a fugue's motif), so its halves differ while the next beat repeats it,
// where half a beat repeats nothing and two beats hold two turns alike.
// notes in time order; 0 for fewer than 3 beats.
double figure_contrast(const std::vector<PerformedNote>& notes, const std::vector<double>& beats_ms);

// The median time between consecutive onsets: the note value the music
// runs in; 0 for fewer than 2 onsets.
double texture_ms(const std::vector<Onset>& onsets);

}  // namespace onpu
