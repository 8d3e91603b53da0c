// Onsets of a performance and their accents: the notes a hand strikes
// together become one onset, weighted by what makes a listener hear a beat
// there (loudness, the size of the chord, how long its notes are held, a note
// in the bass, a change of harmony).
#pragma once

#include <cstdint>
#include <vector>

#include "beats/beat_tracker.h"

namespace onpu {

// A note joins the onset before it when it follows the onset's last note by
// less than kOnsetGapMs and its first note by less than kOnsetSpanMs: a
// rolled chord is one onset, a fast run is several.
inline constexpr int32_t kOnsetGapMs = 35;
inline constexpr int32_t kOnsetSpanMs = 80;

struct Onset {
  double time_ms = 0;   // the notes' times weighted by the square of their velocity
  double loudness = 0;  // the loudest velocity / 127
  double chord = 0;     // 0 for one note, 1 for four or more
  double bass = 0;      // 1 when its lowest key is the lowest around it, down to 0 a fifth above
  double length = 0;    // sqrt of the longest hold in seconds, at most 1
  double harmony = 0;   // 0..1: how much the pitch classes after it differ from those before
  double heavy = 0;     // the mean of chord, bass, length and harmony
  double strength = 0;  // the accent the beat tracker follows: loudness raised by heavy
  uint8_t lowest_key = 0;
  uint8_t note_count = 0;  // at most 255 counted
};

// The onsets of notes (see PerformedNote), ascending in time. Notes out of
// time order are taken in order of their time.
std::vector<Onset> gather_onsets(const std::vector<PerformedNote>& notes);

// The pitch classes of the notes that start in [from_ms, to_ms), each
// weighted by its velocity and the part of its hold that falls in the span;
// for the harmony at a beat. notes must be in time order.
struct PitchClassSpan {
  double weight[12] = {0};
};
PitchClassSpan pitch_classes_between(const std::vector<PerformedNote>& notes, double from_ms, double to_ms);

// 1 - the cosine of two pitch-class spans (0 when either is empty).
double harmonic_distance(const PitchClassSpan& a, const PitchClassSpan& b);

}  // namespace onpu
