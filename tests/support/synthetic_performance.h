// Piano performances made from quantised pieces whose beats are known, for
// tests and the benchmark of the beat tracker: a score of bars (a melody
// over an accompaniment that follows a chord progression) is played through
// a tempo curve with a player's timing, and the beats and bar lines of the
// score, in the times they were played, are the answer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "beats/beat_tracker.h"
#include "support/smf_builder.h"

namespace onpu::test {

enum class PerformanceKind {
  kSteady,        // 4/4, Alberti bass, a little rubato
  kAccelerando,   // 4/4, gets 40 % faster
  kRitardando,    // 4/4, gets 35 % slower, and slows at the end of phrases
  kFermatas,      // 4/4, a beat held two to three times as long every 4 bars
  kJitter,        // 4/4, onsets off by 25 ms (standard deviation)
  kRolledChords,  // 4/4 block chords rolled over up to 90 ms
  kPickup,        // 4/4 starting with a one-beat upbeat
  kWaltz,         // 3/4, bass then two chords
  kSixEight,      // 6/8 counted in two dotted quarters, broken chords in eighths
  kMeterChange,   // 4/4, 3/4 and back every 6 bars
  kDroppedAdded,  // 4/4, 10 % of notes missing, 5 % stray notes added
  kSlowChorale,   // 4/4 block chords, one onset a beat, 50-60 BPM
  kRunning,       // 4/4 sixteenths without a break over a bass in quarters, 60-85 BPM
  kNocturne,      // 4/4 broken chords in sixteenths under a free melody, strong rubato
};

inline constexpr PerformanceKind kAllPerformanceKinds[] = {
    PerformanceKind::kSteady,       PerformanceKind::kAccelerando, PerformanceKind::kRitardando,
    PerformanceKind::kFermatas,     PerformanceKind::kJitter,      PerformanceKind::kRolledChords,
    PerformanceKind::kPickup,       PerformanceKind::kWaltz,       PerformanceKind::kSixEight,
    PerformanceKind::kMeterChange,  PerformanceKind::kDroppedAdded, PerformanceKind::kSlowChorale,
    PerformanceKind::kRunning,      PerformanceKind::kNocturne,
};

const char* kind_name(PerformanceKind kind);

struct SyntheticPerformance {
  std::vector<PerformedNote> notes;  // in time order
  std::vector<double> beats_ms;      // the score's beats as played
  std::vector<double> downbeats_ms;  // its bar lines as played
  // The same notes as a sequencer would hold them: the score's ticks at 480
  // a quarter note (a 6/8 beat is a dotted quarter), in time order.
  std::vector<uint64_t> score_ticks;
};

// A performance of about `bars` bars; the same seed gives the same notes.
SyntheticPerformance synthetic_performance(PerformanceKind kind, uint32_t seed, int bars = 32);

// The performance as a MIDI file recorded under a placeholder tempo (120 BPM
// in 4/4 at 480 ticks a quarter note): one track of notes on channel 0 with
// their releases. With as_score, the score's own ticks instead: the song as
// a sequencer holds it (the notes keep their lengths in ms).
Bytes performance_midi(const SyntheticPerformance& performance, bool as_score = false);

// The beat F-measure of the standard evaluation (mir_eval's rule): beats
// before 5 s left out of both lists, matches within 70 ms, one to one;
// 0 when either list is then empty.
double beat_f_measure(const std::vector<double>& reference_ms, const std::vector<double>& estimated_ms);

}  // namespace onpu::test
