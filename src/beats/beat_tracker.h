// Beats, bar lines and meter inferred from the notes of a performance: for
// files whose own tempo is a placeholder (one tempo throughout) while the
// player speeds up, slows down and breathes.
//
// The notes become onsets with accents (onset_features.h); the periodicities
// of the accents give candidate beat periods, and the level of the beat is
// the one where bass notes, chords and changes of harmony fall on the beats
// (beat_level.h) and which spans a plausible number of the music's onsets.
// The local tempo at that level is followed second by second, through
// sections taken at half or twice the speed (tempo_curve.h). A dynamic
// program over beat times and beat periods then follows tempo and phase
// together, in the manner of Ellis (2007) with the period as part of the
// state, in a time where that tempo is flat, and draws each beat to its
// onset; bar lines come from a hidden Markov model over the beats
// (bar_lines.h).
//
// Everything is computed with +, -, *, /, sqrt, floor and common/exact_math,
// so the same notes give the same beats to the bit on every platform.
#pragma once

#include <cstdint>
#include <vector>

namespace onpu {

// A note as the tracker reads it: its start and release in milliseconds of
// the file's own time, the key and the velocity of its Note On. Notes come in
// time order (release order does not matter).
struct PerformedNote {
  int32_t time_ms = 0;
  int32_t end_ms = 0;
  uint8_t key = 0;
  uint8_t velocity = 0;
};

struct InferredBeats {
  std::vector<double> beats_ms;      // every beat, ascending
  std::vector<uint32_t> bar_starts;  // indices into beats_ms of the bar lines, ascending
  // The meter of each bar is the number of beats to the next bar start; the
  // last bar's is meter. meter is the most common meter.
  int meter = 4;
  // The 10th and 90th percentile of the local tempo (from beat to beat).
  double slowest_bpm = 0;
  double fastest_bpm = 0;
};

// The longest stretch from the first onset to the last that is tracked: an
// hour and a half (the tracking keeps about 70 bytes for every 10 ms of it,
// at most twice that where the tempo curve stretches the time it tracks in).
inline constexpr double kLongestPerformanceMs = 90.0 * 60.0 * 1000.0;

// Infers the beats of notes in time order. Fewer than 8 onsets, or onsets
// spread over more than kLongestPerformanceMs, give no beats (all fields
// empty or 0, meter 4); a silence is bridged by at most 256 beats. Memory grows with the notes and with the
// time they cover while sounding (silences longer than a few beats are
// bridged, not tracked); the time is about linear in both.
InferredBeats infer_beats(const std::vector<PerformedNote>& notes);

// The levels infer_beats chooses from: each candidate period, the beats
// tracked coarsely at it, and how well they make a beat level (higher wins).
struct BeatLevel {
  double period_ms = 0;
  double score = 0;
  std::vector<double> beats_ms;
};
std::vector<BeatLevel> candidate_beat_levels(const std::vector<PerformedNote>& notes);

}  // namespace onpu
