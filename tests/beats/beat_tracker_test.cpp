// Beats, bar lines and meter inferred from synthetic performances whose
// beats are known (support/synthetic_performance.h), scored by the beat
// F-measure of the standard evaluation.
#include "beats/beat_tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "support/synthetic_performance.h"

namespace onpu {
namespace {

using test::PerformanceKind;

std::vector<double> downbeats_of(const InferredBeats& found) {
  std::vector<double> times;
  for (uint32_t index : found.bar_starts) times.push_back(found.beats_ms[index]);
  return times;
}

double median_of(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Thresholds on the median of three performances of each kind. A beat at
// the wrong metrical level (twice or half the tempo) scores at most 0.67, so
// every beat threshold above 0.7 asks for the right level; the margins below
// 1 are the beats that a fermata, a ritardando or strong rubato costs. Bar
// lines a beat off score 0 and every other bar line 0.67: thresholds of 0.8
// and more ask for the right meter and phase; 6/8, slowing and held beats
// and the nocturne's free rubato may lose a few bars or take two as one.
TEST(BeatTracker, FindsTheBeatsAndBarLinesOfEveryKindOfPerformance) {
  struct Case {
    PerformanceKind kind;
    double beat_f;
    double downbeat_f;
  };
  const Case cases[] = {
      {PerformanceKind::kSteady, 0.95, 0.9},       {PerformanceKind::kAccelerando, 0.9, 0.85},
      {PerformanceKind::kRitardando, 0.85, 0.6},   {PerformanceKind::kFermatas, 0.85, 0.4},
      {PerformanceKind::kJitter, 0.95, 0.9},       {PerformanceKind::kRolledChords, 0.9, 0.8},
      {PerformanceKind::kPickup, 0.95, 0.9},       {PerformanceKind::kWaltz, 0.95, 0.9},
      {PerformanceKind::kSixEight, 0.95, 0.6},     {PerformanceKind::kMeterChange, 0.95, 0.85},
      {PerformanceKind::kDroppedAdded, 0.95, 0.85}, {PerformanceKind::kSlowChorale, 0.9, 0.75},
      {PerformanceKind::kRunning, 0.85, 0.75},     {PerformanceKind::kNocturne, 0.75, 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(test::kind_name(c.kind));
    std::vector<double> beat_f, downbeat_f;
    for (uint32_t seed = 1; seed <= 3; ++seed) {
      const test::SyntheticPerformance played = test::synthetic_performance(c.kind, seed);
      const InferredBeats found = infer_beats(played.notes);
      beat_f.push_back(test::beat_f_measure(played.beats_ms, found.beats_ms));
      downbeat_f.push_back(test::beat_f_measure(played.downbeats_ms, downbeats_of(found)));
    }
    EXPECT_GE(median_of(beat_f), c.beat_f);
    EXPECT_GE(median_of(downbeat_f), c.downbeat_f);
  }
}

TEST(BeatTracker, MeterIsTheMostCommonBarAndTempoRangeBracketsThePlayedTempo) {
  struct Case {
    PerformanceKind kind;
    int meter;
  };
  const Case cases[] = {{PerformanceKind::kSteady, 4}, {PerformanceKind::kWaltz, 3}, {PerformanceKind::kRunning, 4},
                        {PerformanceKind::kMeterChange, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(test::kind_name(c.kind));
    const test::SyntheticPerformance played = test::synthetic_performance(c.kind, 1);
    const InferredBeats found = infer_beats(played.notes);
    EXPECT_EQ(found.meter, c.meter);
    std::vector<double> bpm;
    for (size_t k = 1; k < played.beats_ms.size(); ++k) bpm.push_back(60000.0 / (played.beats_ms[k] - played.beats_ms[k - 1]));
    const double typical = median_of(bpm);
    EXPECT_LT(found.slowest_bpm, typical);
    EXPECT_GT(found.fastest_bpm, typical);
    EXPECT_GT(found.slowest_bpm, typical * 0.75);
    EXPECT_LT(found.fastest_bpm, typical * 1.33);
    EXPECT_TRUE(std::is_sorted(found.beats_ms.begin(), found.beats_ms.end()));
    EXPECT_TRUE(std::is_sorted(found.bar_starts.begin(), found.bar_starts.end()));
    ASSERT_FALSE(found.bar_starts.empty());
    EXPECT_LT(found.bar_starts.back(), found.beats_ms.size());
  }
}

TEST(BeatTracker, NotesOutOfOrderGiveTheSameBeats) {
  const test::SyntheticPerformance played = test::synthetic_performance(PerformanceKind::kSteady, 4, 12);
  std::vector<PerformedNote> reversed(played.notes.rbegin(), played.notes.rend());
  const InferredBeats in_order = infer_beats(played.notes);
  const InferredBeats shuffled = infer_beats(reversed);
  // Notes of one time come in the other order, which changes no onset.
  EXPECT_EQ(in_order.beats_ms, shuffled.beats_ms);
  EXPECT_EQ(in_order.bar_starts, shuffled.bar_starts);
}

// The beats decide the timing of a map, which must be the same file on Linux
// and on Windows: the tracker's arithmetic rounds alike everywhere (no fused
// multiply-adds, common/exact_math). The digest of the beats' bits, the bar
// lines and the tempo range of three performances was taken on Linux
// (glibc) and on Windows (MinGW-w64 under Wine) alike; a change to the
// tracker changes it, and then it is taken anew on both.
TEST(BeatTracker, TheSameNotesGiveTheSameBeatsToTheBitOnEveryPlatform) {
  uint64_t digest = 1469598103934665603ull;
  auto mix = [&digest](uint64_t bits) { digest = (digest ^ bits) * 1099511628211ull; };
  for (PerformanceKind kind : {PerformanceKind::kSteady, PerformanceKind::kWaltz, PerformanceKind::kNocturne}) {
    const InferredBeats found = infer_beats(test::synthetic_performance(kind, 1).notes);
    for (double t : found.beats_ms) {
      uint64_t bits;
      std::memcpy(&bits, &t, sizeof bits);
      mix(bits);
    }
    for (uint32_t index : found.bar_starts) mix(index);
    for (double bpm : {found.slowest_bpm, found.fastest_bpm}) {
      uint64_t bits;
      std::memcpy(&bits, &bpm, sizeof bits);
      mix(bits);
    }
  }
  EXPECT_EQ(digest, 14015073950554309549ull);
}

TEST(BeatTracker, TooFewOnsetsGiveNoBeats) {
  std::vector<PerformedNote> notes;
  for (int i = 0; i < 7; ++i) notes.push_back({i * 500, i * 500 + 400, 60, 90});
  const InferredBeats found = infer_beats(notes);
  EXPECT_TRUE(found.beats_ms.empty());
  EXPECT_TRUE(found.bar_starts.empty());
  EXPECT_EQ(found.meter, 4);
  EXPECT_EQ(found.slowest_bpm, 0);
  // A chord of many notes is one onset.
  std::vector<PerformedNote> chord;
  for (int key = 40; key < 80; ++key) chord.push_back({1000, 2000, static_cast<uint8_t>(key), 80});
  EXPECT_TRUE(infer_beats(chord).beats_ms.empty());
  EXPECT_TRUE(infer_beats({}).beats_ms.empty());
}

TEST(BeatTracker, ALongSilenceIsBridgedByEvenBeats) {
  // Two phrases at 600 ms a beat with 12 s of silence (20 beats) between.
  std::vector<PerformedNote> notes;
  for (int phrase = 0; phrase < 2; ++phrase) {
    const int start = phrase * 30000;
    for (int beat = 0; beat < 24; ++beat) {
      const int t = start + beat * 600;
      notes.push_back({t, t + 550, static_cast<uint8_t>(beat % 4 == 0 ? 36 : 48), static_cast<uint8_t>(beat % 4 == 0 ? 100 : 70)});
      notes.push_back({t, t + 280, 72, 80});
      notes.push_back({t + 300, t + 580, 74, 60});
    }
  }
  const InferredBeats found = infer_beats(notes);
  std::vector<double> gaps;
  for (size_t k = 1; k < found.beats_ms.size(); ++k) {
    if (found.beats_ms[k - 1] > 14000 && found.beats_ms[k] < 30000) gaps.push_back(found.beats_ms[k] - found.beats_ms[k - 1]);
  }
  ASSERT_GE(gaps.size(), 20u);
  for (double gap : gaps) EXPECT_NEAR(gap, 600.0, 30.0);
}

TEST(BeatTracker, SilencesAndSpansBeyondAPlayersAreNotFilledWithBeats) {
  // The same two phrases with silences between them of 40 minutes (within
  // a piece's length, too long to bridge) and of 12 days (beyond a piece's).
  struct Case {
    int silence_ms;
    size_t most_beats;
  };
  for (const Case c : {Case{40 * 60 * 1000, 200}, Case{12 * 24 * 3600 * 1000, 0}}) {
    std::vector<PerformedNote> notes;
    for (int phrase = 0; phrase < 2; ++phrase) {
      const int start = phrase * (14400 + c.silence_ms);
      for (int beat = 0; beat < 24; ++beat) {
        const int t = start + beat * 600;
        notes.push_back({t, t + 550, static_cast<uint8_t>(beat % 4 == 0 ? 36 : 48), static_cast<uint8_t>(90)});
        notes.push_back({t + 300, t + 580, 74, 60});
      }
    }
    const InferredBeats found = infer_beats(notes);
    EXPECT_LE(found.beats_ms.size(), c.most_beats) << c.silence_ms;
  }
}

}  // namespace
}  // namespace onpu
