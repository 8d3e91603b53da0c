// Beats, bar lines and meter inferred from synthetic performances whose
// beats are known (support/synthetic_performance.h), scored by the beat
// F-measure of the standard evaluation.
#include "beats/beat_tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "beats/beat_level.h"
#include "beats/performed_notes.h"
#include "common/byte_source.h"
#include "support/harness.h"
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
// lines a beat off score 0, and bars of twice or half the length about 0.67:
// every bar-line threshold of 0.7 and more asks for the right meter and
// phase, with a few bars lost around fermatas and the nocturne's rubato.
TEST(BeatTracker, FindsTheBeatsAndBarLinesOfEveryKindOfPerformance) {
  struct Case {
    PerformanceKind kind;
    double beat_f;
    double downbeat_f;
  };
  const Case cases[] = {
      {PerformanceKind::kSteady, 0.95, 0.9},        {PerformanceKind::kAccelerando, 0.9, 0.85},
      {PerformanceKind::kRitardando, 0.85, 0.75},   {PerformanceKind::kFermatas, 0.85, 0.7},
      {PerformanceKind::kJitter, 0.95, 0.9},        {PerformanceKind::kRolledChords, 0.9, 0.8},
      {PerformanceKind::kPickup, 0.95, 0.9},        {PerformanceKind::kWaltz, 0.95, 0.9},
      {PerformanceKind::kSixEight, 0.95, 0.8},      {PerformanceKind::kMeterChange, 0.95, 0.85},
      {PerformanceKind::kDroppedAdded, 0.95, 0.85}, {PerformanceKind::kSlowChorale, 0.9, 0.75},
      {PerformanceKind::kRunning, 0.85, 0.75},      {PerformanceKind::kNocturne, 0.75, 0.7},
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
  // 6/8 is counted in two dotted quarters: two beats a bar.
  const Case cases[] = {{PerformanceKind::kSteady, 4},
                        {PerformanceKind::kWaltz, 3},
                        {PerformanceKind::kRunning, 4},
                        {PerformanceKind::kMeterChange, 4},
                        {PerformanceKind::kSixEight, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(test::kind_name(c.kind));
    const test::SyntheticPerformance played = test::synthetic_performance(c.kind, 1);
    const InferredBeats found = infer_beats(played.notes);
    EXPECT_EQ(found.meter, c.meter);
    std::vector<double> bpm;
    for (size_t k = 1; k < played.beats_ms.size(); ++k)
      bpm.push_back(60000.0 / (played.beats_ms[k] - played.beats_ms[k - 1]));
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

TEST(BeatTracker, BeatsFallOnTheBassWhereLouderChordsStrikeBetween) {
  // An off-beat accompaniment, as in a march or a stride: a short bass note
  // on each beat of 600 ms (a little early or late), a loud, held chord
  // halfway between. A listener counts the bass.
  std::vector<PerformedNote> notes;
  for (int beat = 0; beat < 48; ++beat) {
    const int t = 1000 + beat * 600 + ((beat * 7) % 5 - 2) * 6;
    notes.push_back({t, t + 120, static_cast<uint8_t>(beat % 2 == 0 ? 36 : 43), 70});
    for (uint8_t key : {60, 64, 67, 72}) notes.push_back({t + 300, t + 560, key, 100});
  }
  std::vector<double> bass;
  for (const PerformedNote& n : notes) {
    if (n.key < 48) bass.push_back(n.time_ms);
  }
  const InferredBeats found = infer_beats(notes);
  EXPECT_GE(test::beat_f_measure(bass, found.beats_ms), 0.9);
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
  EXPECT_EQ(digest, 209627995481777707ull);
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
      notes.push_back(
          {t, t + 550, static_cast<uint8_t>(beat % 4 == 0 ? 36 : 48), static_cast<uint8_t>(beat % 4 == 0 ? 100 : 70)});
      notes.push_back({t, t + 280, 72, 80});
      notes.push_back({t + 300, t + 580, 74, 60});
    }
  }
  // The beat may be counted in quarters or, with the bass marking every
  // other one, in halves: the silence is bridged at the beat tracked.
  const InferredBeats found = infer_beats(notes);
  ASSERT_GE(found.beats_ms.size(), 2u);
  const double beat = found.beats_ms[1] - found.beats_ms[0];
  std::vector<double> gaps;
  for (size_t k = 1; k < found.beats_ms.size(); ++k) {
    if (found.beats_ms[k - 1] > 14000 && found.beats_ms[k] < 30000)
      gaps.push_back(found.beats_ms[k] - found.beats_ms[k - 1]);
  }
  ASSERT_GE(gaps.size(), static_cast<size_t>(12000 / beat));
  for (double gap : gaps) EXPECT_NEAR(gap, beat, 0.05 * beat);
}

TEST(BeatTracker, SilencesAndSpansBeyondAPlayersAreNotFilledWithBeats) {
  // The same two phrases with silences between them of 40 minutes (within
  // a piece's length, too long to bridge: each phrase keeps its beats) and
  // of 12 days (beyond a piece's: no beats at all).
  struct Case {
    int silence_ms;
    size_t most_beats;
    size_t least_beats_in_each_phrase;
  };
  for (const Case c : {Case{40 * 60 * 1000, 200, 10}, Case{12 * 24 * 3600 * 1000, 0, 0}}) {
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
    for (int phrase = 0; phrase < 2; ++phrase) {
      const double start = phrase * (14400.0 + c.silence_ms);
      const auto in_phrase = std::count_if(found.beats_ms.begin(), found.beats_ms.end(),
                                           [&](double t) { return t >= start - 100 && t <= start + 14400; });
      EXPECT_GE(static_cast<size_t>(in_phrase), c.least_beats_in_each_phrase) << c.silence_ms << " phrase " << phrase;
    }
  }
}

TEST(BeatTracker, PhrasesAtTheEdgesOfTimeAreTracked) {
  // A phrase whose last note starts at the last millisecond a time holds (a
  // file whose notes lie weeks in: its times stop there, releases and all),
  // and one before zero whose bass is held past its end. The sanitizers'
  // build checks that no time overflows on the way.
  const auto at = [](int64_t t) { return static_cast<int32_t>(std::clamp<int64_t>(t, INT32_MIN, INT32_MAX)); };
  for (const int64_t start : {int64_t{INT32_MAX} - 23 * 600 - 300, int64_t{INT32_MIN} + 1000}) {
    std::vector<PerformedNote> notes;
    for (int beat = 0; beat < 24; ++beat) {
      const int64_t t = start + beat * 600;
      notes.push_back({at(t), INT32_MAX, static_cast<uint8_t>(beat % 4 == 0 ? 36 : 48), static_cast<uint8_t>(90)});
      notes.push_back({at(t + 300), at(t + 580), 74, 60});
    }
    const InferredBeats found = infer_beats(notes);
    SCOPED_TRACE(start);
    EXPECT_GE(found.beats_ms.size(), 10u);  // 14 s of beats, in quarters or halves
    EXPECT_TRUE(std::is_sorted(found.beats_ms.begin(), found.beats_ms.end()));
    for (double b : found.beats_ms) {
      EXPECT_GE(b, static_cast<double>(start) - 600);
      EXPECT_LE(b, static_cast<double>(start) + 24 * 600);
    }
  }
}

// Real pianists on a recording piano, with their beats and bar lines
// annotated by hand (the shared corpus's asap-tune: one performance of each
// of 60 pieces, Bach to Scriabin). Each piece shows the beats found against
// the beats annotated: a count within 15 % is the level a pianist counts,
// about 2 is twice the tempo, about 0.5 half. The floors keep what the
// tracker reaches today.
TEST(BeatLevel, FigureContrastFavoursTheBeatThatSpansOneTurnOfTheFigure) {
  // A broken chord, C E G C' in eighths of 250 ms, over and over.
  std::vector<PerformedNote> notes;
  const uint8_t figure[] = {60, 64, 67, 72};
  for (int i = 0; i < 64; ++i) notes.push_back({i * 250, i * 250 + 200, figure[i % 4], 80});
  auto beats_every = [](double period_ms) {
    std::vector<double> beats;
    for (double t = 0; t < 16000; t += period_ms) beats.push_back(t);
    return beats;
  };
  // A beat of one turn: its halves differ, the next beat repeats it.
  const double turn = figure_contrast(notes, beats_every(1000));
  EXPECT_GT(turn, 0.3);
  // Two turns a beat: its halves are alike.
  EXPECT_LT(figure_contrast(notes, beats_every(2000)), turn - 0.3);
  // A beat on every note: each next beat brings other pitch classes.
  EXPECT_LT(figure_contrast(notes, beats_every(250)), -0.3);
  EXPECT_EQ(figure_contrast(notes, beats_every(8000)), 0);
}

TEST(BeatTracker, FollowsRealPianists) {
  const std::string corpus = test::corpus_dir();
  if (corpus.empty()) GTEST_SKIP() << "the shared MIDI corpus is not in this checkout";
  const std::filesystem::path folder = std::filesystem::path(corpus).parent_path() / "asap-tune";
  if (!std::filesystem::is_directory(folder))
    GTEST_SKIP() << "the annotated performances (asap-tune) are not in this checkout";
  std::vector<std::filesystem::path> pieces;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".mid") pieces.push_back(entry.path());
  }
  std::sort(pieces.begin(), pieces.end());
  std::vector<double> beat_f, bar_f;
  int right_level = 0;
  for (const std::filesystem::path& piece : pieces) {
    std::filesystem::path annotations = piece;
    annotations.replace_filename(piece.stem().string() + "_annotations.txt");
    std::istringstream lines(test::read_file(annotations.string()));
    std::vector<double> beats, bars;
    std::string line;
    while (std::getline(lines, line)) {
      double seconds = 0, again = 0;
      char label[16] = {0};
      if (std::sscanf(line.c_str(), "%lf %lf %15s", &seconds, &again, label) < 1) continue;
      beats.push_back(seconds * 1000);
      if (std::strncmp(label, "db", 2) == 0) bars.push_back(seconds * 1000);
    }
    const std::string text = test::read_file(piece.string());
    const test::Bytes bytes(text.begin(), text.end());
    MemorySource source(bytes.data(), bytes.size());
    PerformedSong song;
    ASSERT_TRUE(read_performed_song(source, &song)) << piece;
    ASSERT_GE(beats.size(), 2u) << annotations;
    const InferredBeats found = infer_beats(song.notes);
    const auto counted = std::count_if(found.beats_ms.begin(), found.beats_ms.end(),
                                       [&](double t) { return t >= beats.front() - 100 && t <= beats.back() + 100; });
    const double level = static_cast<double>(counted) / static_cast<double>(beats.size());
    right_level += level >= 0.85 && level <= 1.15;
    beat_f.push_back(test::beat_f_measure(beats, found.beats_ms));
    bar_f.push_back(test::beat_f_measure(bars, downbeats_of(found)));
    std::printf("%-44.44s beats found / annotated %.2f  beat F %.2f  bar F %.2f\n", piece.filename().string().c_str(),
                level, beat_f.back(), bar_f.back());
  }
  ASSERT_EQ(pieces.size(), 60u);
  std::printf("right level %d of %zu, median beat F %.3f, median bar F %.3f\n", right_level, pieces.size(),
              median_of(beat_f), median_of(bar_f));
  EXPECT_GE(right_level, 33);
  EXPECT_GE(median_of(beat_f), 0.65);
  EXPECT_GE(median_of(bar_f), 0.40);
}

}  // namespace
}  // namespace onpu
