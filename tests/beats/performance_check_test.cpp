// Keep or infer: sequenced songs keep their own grid, recordings of a player
// under a placeholder tempo get their beats inferred.
#include "beats/performance_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "beats/performed_notes.h"
#include "support/harness.h"
#include "support/played_piece.h"
#include "support/smf_builder.h"
#include "support/synthetic_performance.h"

namespace onpu {
namespace {

// One track of notes after a tempo track; events in any order.
test::Bytes song_file(uint16_t division, std::vector<test::NoteEvent> events, const std::vector<std::pair<uint32_t, uint32_t>>& tempos = {{0, 500000}}) {
  test::Smf smf;
  smf.header(1, 2, division).track();
  uint32_t now = 0;
  for (const auto& [tick, tempo] : tempos) {
    smf.tempo(tick - now, tempo);
    now = tick;
  }
  smf.end_of_track().track().notes(std::move(events));
  return smf.end_of_track().bytes();
}

// Notes at the given ticks, each held a little less than `length` ticks.
std::vector<test::NoteEvent> notes_at(const std::vector<uint32_t>& ticks, uint32_t length, int channel = 0) {
  std::vector<test::NoteEvent> events;
  int key = 60;
  for (uint32_t t : ticks) {
    key = 60 + (key - 59) % 12;
    events.push_back({t, channel, key, 90});
    events.push_back({t + length - 1, channel, key, 0});
  }
  return events;
}

// A performance as a recording program stores it: the player's times at a
// placeholder tempo.
test::Bytes recorded_file(const std::vector<PerformedNote>& notes, uint16_t division, uint32_t tempo) {
  const double ticks_per_ms = division * 1000.0 / tempo;
  std::vector<test::NoteEvent> events;
  for (const PerformedNote& n : notes) {
    events.push_back({static_cast<uint32_t>(n.time_ms * ticks_per_ms + 0.5), 0, n.key, n.velocity});
    events.push_back({static_cast<uint32_t>(n.end_ms * ticks_per_ms + 0.5), 0, n.key, 0});
  }
  return song_file(division, events, {{0, tempo}});
}

GridFit fit_of(const test::Bytes& file) {
  MemorySource source(file.data(), file.size());
  PerformedSong song;
  EXPECT_TRUE(read_performed_song(source, &song));
  return measure_grid_fit(song.ticks, song.division);
}

TEST(PerformanceCheck, SequencedSongsKeepTheirGrid) {
  std::vector<uint32_t> sixteenths, swing, triplets_and_32nds, humanised;
  for (uint32_t beat = 0; beat < 64; ++beat) {
    for (uint32_t s = 0; s < 4; ++s) sixteenths.push_back(beat * 480 + s * 120);
    swing.push_back(beat * 480);
    swing.push_back(beat * 480 + 320);
    for (uint32_t s = 0; s < 3; ++s) triplets_and_32nds.push_back(beat * 480 + s * 160);
    for (uint32_t s = 0; s < 8; ++s) triplets_and_32nds.push_back(beat * 480 + 60 * s + 8 * 480);
    // A sequencer's humanise: up to 9 ticks (a 53rd of a quarter) either way.
    for (uint32_t s = 0; s < 2; ++s) humanised.push_back(480 + beat * 480 + s * 240 + ((beat * 7 + s * 3) % 19) - 9);
  }
  struct Case {
    const char* what;
    test::Bytes file;
  };
  test::PieceShape drums;
  drums.drums = true;
  drums.humanised = false;
  test::PieceShape quantised;
  quantised.humanised = false;
  const Case cases[] = {
      {"sixteenths", song_file(480, notes_at(sixteenths, 120))},
      {"swung eighths", song_file(96, notes_at(std::vector<uint32_t>(swing.begin(), swing.end()), 100))},
      {"triplets and thirty-seconds", song_file(480, notes_at(triplets_and_32nds, 60))},
      {"humanised eighths", song_file(480, notes_at(humanised, 200))},
      {"sixteenths under tempo changes", song_file(480, notes_at(sixteenths, 120), {{0, 500000}, {3840, 400000}, {7680, 700000}})},
      {"a quantised piano piece", test::played_piece(quantised)},
      {"a piano piece played in with 8 ms of timing", test::played_piece(test::PieceShape{})},
      {"a song with a drum track", test::played_piece(drums)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(fit_of(c.file).fits);
  }
  // The quantised scores of every synthetic performance, 6/8 at 720 ticks a beat.
  for (test::PerformanceKind kind : test::kAllPerformanceKinds) {
    SCOPED_TRACE(test::kind_name(kind));
    EXPECT_TRUE(file_grid_fits(test::synthetic_performance(kind, 1).score_ticks, 480));
  }
}

TEST(PerformanceCheck, RecordingsOfAPlayerAreInferred) {
  struct Case {
    uint16_t division;
    uint32_t tempo;
  };
  const Case placeholders[] = {{480, 500000}, {384, 512820}, {960, 500000}, {96, 500000}};
  for (test::PerformanceKind kind : test::kAllPerformanceKinds) {
    for (const Case& c : placeholders) {
      SCOPED_TRACE(std::string(test::kind_name(kind)) + " at division " + std::to_string(c.division));
      const GridFit fit = fit_of(recorded_file(test::synthetic_performance(kind, 2).notes, c.division, c.tempo));
      EXPECT_FALSE(fit.fits) << fit.on_grid << " on the grid, " << fit.off_grid << " off it, of " << fit.onsets;
    }
  }
  // A file of more notes than asked for is not read whole: memory stays
  // bounded by them.
  const std::vector<PerformedNote> notes = test::synthetic_performance(test::PerformanceKind::kSteady, 2).notes;
  const test::Bytes file = recorded_file(notes, 480, 500000);
  MemorySource source(file.data(), file.size());
  PerformedSong song;
  EXPECT_TRUE(read_performed_song(source, &song, notes.size()));
  EXPECT_FALSE(read_performed_song(source, &song, notes.size() - 1));
}

TEST(PerformanceCheck, TooLittleToJudgeByKeepsTheGrid) {
  // 15 onsets off the grid keep it, 16 do not.
  std::vector<uint64_t> ticks;
  for (uint64_t i = 0; i < 15; ++i) ticks.push_back(i * 480 + 37);
  EXPECT_TRUE(file_grid_fits(ticks, 480));
  ticks.push_back(15 * 480 + 37);
  EXPECT_FALSE(file_grid_fits(ticks, 480));
  // Notes of a chord within a 48th of a quarter are one onset.
  std::vector<uint64_t> chords;
  for (uint64_t i = 0; i < 20; ++i) {
    for (uint64_t k = 0; k < 3; ++k) chords.push_back(i * 480 + 37 + k * 3);
  }
  EXPECT_EQ(measure_grid_fit(chords, 480).onsets, 20u);
  // Time in SMPTE frames: no quarters to judge by.
  EXPECT_TRUE(file_grid_fits(ticks, 0xE728));
  EXPECT_TRUE(file_grid_fits({}, 480));
}

TEST(PerformanceCheck, TheGridsWindowsEndAt96thsOfAQuarter) {
  // At division 96 a 96th of a quarter is one tick: 5 ticks from a sixteenth
  // lie on its window's edge; 2 ticks further is between the windows.
  struct Case {
    uint64_t tick_in_beat;
    uint64_t on_grid;
    uint64_t off_grid;
  };
  const Case cases[] = {{0, 20, 0}, {1, 20, 0}, {95, 20, 0}, {2, 0, 0}, {4, 0, 20}, {5, 0, 20}, {16, 20, 0}, {20, 0, 20}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tick_in_beat);
    std::vector<uint64_t> ticks;
    for (uint64_t beat = 0; beat < 20; ++beat) ticks.push_back(beat * 96 + c.tick_in_beat);
    const GridFit fit = measure_grid_fit(ticks, 96);
    EXPECT_EQ(fit.on_grid, c.on_grid);
    EXPECT_EQ(fit.off_grid, c.off_grid);
  }
}

TEST(PerformanceCheck, EveryCorpusFileKeepsItsGrid) {
  const std::string corpus = test::corpus_dir();
  if (corpus.empty()) GTEST_SKIP() << "the shared MIDI corpus is not in this checkout";
  int readable = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.path().extension() != ".mid") continue;
    const test::Bytes bytes = [&] {
      const std::string text = test::read_file(entry.path().string());
      return test::Bytes(text.begin(), text.end());
    }();
    MemorySource source(bytes.data(), bytes.size());
    PerformedSong song;
    if (!read_performed_song(source, &song)) continue;
    ++readable;
    SCOPED_TRACE(entry.path().filename().string());
    EXPECT_TRUE(file_grid_fits(song.ticks, song.division));
  }
  EXPECT_GE(readable, 60);
}

}  // namespace
}  // namespace onpu
