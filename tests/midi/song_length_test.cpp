// The song length (max_time) and the measure grid of the slider modes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "midi/measure_grid.h"
#include "midi/midi_header.h"
#include "midi/note_ends.h"
#include "midi/tempo_map.h"
#include "midi/track_scan.h"
#include "support/harness.h"
#include "support/smf_builder.h"

namespace onpu {
namespace {

using test::Bytes;
using test::Smf;

struct Song {
  std::unique_ptr<TempoMap> map;
  int32_t max_time = -1;
};

// The tempo map and max_time of file, as the conversion computes them.
Song analyse(const Bytes& file) {
  Song song;
  MemorySource source(file.data(), file.size());
  MidiHeader header;
  uint64_t first_chunk = 0;
  EXPECT_TRUE(read_midi_header(source, &header, &first_chunk));
  song.map = std::make_unique<TempoMap>(header.division);
  TrackScan scan;
  NullConsole console;
  EXPECT_EQ(scan_tracks(source, header.track_count, first_chunk, song.map.get(), &scan, console).outcome,
            ScanOutcome::kOk);
  song.map->finish();
  song.max_time = compute_max_time(scan, *song.map);
  return song;
}

int32_t max_time_of(const Bytes& file) { return analyse(file).max_time; }

std::vector<Measure> grid_of(const Bytes& file) {
  Song song = analyse(file);
  return build_measure_grid(*song.map, song.max_time);
}

// A one-track song at 480 ticks per quarter note, its track open for events.
Smf song() { return Smf().header(0, 1, 480).track(); }

void expect_measure(const Measure& m, int number, int start_ms, int end_ms, double bpm) {
  EXPECT_EQ(m.number, number);
  EXPECT_EQ(m.start_ms, start_ms);
  EXPECT_EQ(m.end_ms, end_ms);
  EXPECT_EQ(m.bpm, bpm);
}

// --- max_time -------------------------------------------------------------

TEST(SongLength, EndOfTrackCounts) {
  EXPECT_EQ(max_time_of(song().note_on(0, 0, 60, 100).end_of_track(960).bytes()), 1000);
}

TEST(SongLength, LatestEventOfAllTracksCounts) {
  Bytes file = Smf()
                   .header(1, 2, 480)
                   .track().end_of_track(1920)
                   .track().note_on(960, 0, 60, 100).end_of_track()
                   .bytes();
  EXPECT_EQ(max_time_of(file), 2000);
}

TEST(SongLength, EventWhoseMetaIsCutStillCounts) {
  // Delta 480, then 0xFF at the chunk's end.
  EXPECT_EQ(max_time_of(song().note_on(0, 0, 60, 100).raw({0x83, 0x60, 0xFF}).bytes()), 500);
}

TEST(SongLength, DeltaTimeWithoutStatusDoesNotCount) {
  EXPECT_EQ(max_time_of(song().note_on(0, 0, 60, 100).raw({0x83, 0x60}).bytes()), 0);
}

TEST(SongLength, LatestEventAtTick7680IsEightSeconds) {
  EXPECT_EQ(max_time_of(song().note_on(0, 0, 60, 100).end_of_track(7680).bytes()), 8000);
  EXPECT_EQ(max_time_of(song().note_on(0, 0, 60, 100).end_of_track(7681).bytes()), 8001);
}

// --- Measure grid ---------------------------------------------------------

TEST(MeasureGrid, FourFourAt120BpmMakesTwoSecondMeasuresUpToTheEnd) {
  std::vector<Measure> grid = grid_of(song().note_on(0, 0, 60, 100).end_of_track(7680).bytes());
  ASSERT_EQ(grid.size(), 4u);
  expect_measure(grid[0], 1, 0, 2000, 120.0);
  expect_measure(grid[1], 2, 2000, 4000, 120.0);
  expect_measure(grid[2], 3, 4000, 6000, 120.0);
  expect_measure(grid[3], 4, 6000, 8000, 120.0);
  EXPECT_EQ(grid[3].beats, 4);
}

TEST(MeasureGrid, OneMillisecondPastAMeasureMakesAnotherMeasure) {
  std::vector<Measure> grid = grid_of(song().note_on(0, 0, 60, 100).end_of_track(7681).bytes());
  ASSERT_EQ(grid.size(), 5u);
  expect_measure(grid[4], 5, 8000, 10000, 120.0);
}

TEST(MeasureGrid, TempoChangeInsideMeasureEndsIt) {
  std::vector<Measure> grid = grid_of(song().tempo(1440, 1000000).end_of_track(6240).bytes());
  ASSERT_EQ(grid.size(), 5u);  // max_time 14500
  expect_measure(grid[0], 1, 0, 1500, 120.0);
  expect_measure(grid[1], 2, 1500, 5500, 60.0);
  expect_measure(grid[2], 3, 5500, 9500, 60.0);
  expect_measure(grid[4], 5, 13500, 17500, 60.0);
}

TEST(MeasureGrid, TempoChangeOnMeasureEndSwitchesTheNextMeasure) {
  std::vector<Measure> grid = grid_of(song().tempo(1920, 1000000).end_of_track(1920).bytes());
  ASSERT_EQ(grid.size(), 2u);  // max_time 6000
  expect_measure(grid[0], 1, 0, 2000, 120.0);
  expect_measure(grid[1], 2, 2000, 6000, 60.0);
}

TEST(MeasureGrid, ThreeFourAtTickZeroMakesMeasuresOfThreeBeats) {
  std::vector<Measure> grid = grid_of(song().time_signature(0, 3, 2).end_of_track(7680).bytes());
  ASSERT_EQ(grid.size(), 6u);
  expect_measure(grid[0], 1, 0, 1500, 120.0);
  expect_measure(grid[5], 6, 7500, 9000, 120.0);
  EXPECT_EQ(grid[0].beats, 3);
}

TEST(MeasureGrid, LaterTimeSignatureLeavesTheGridAlone) {
  std::vector<Measure> grid = grid_of(song().time_signature(1920, 3, 2).end_of_track(5760).bytes());
  ASSERT_EQ(grid.size(), 4u);
  expect_measure(grid[1], 2, 2000, 4000, 120.0);
  expect_measure(grid[3], 4, 6000, 8000, 120.0);
}

TEST(MeasureGrid, TwoTempoChangesAtOneTickMakeAOneSecondMeasure) {
  // 200 BPM, then 60 BPM, both at 2 s; the song ends at 4 s.
  std::vector<Measure> grid = grid_of(song().tempo(1920, 300000).tempo(0, 1000000).end_of_track(960).bytes());
  ASSERT_EQ(grid.size(), 3u);
  expect_measure(grid[0], 1, 0, 2000, 120.0);
  expect_measure(grid[1], 2, 2000, 3000, 200.0);
  expect_measure(grid[2], 3, 3000, 7000, 60.0);
}

TEST(MeasureGrid, StopsAtMeasure1000) {
  Song long_song = analyse(song().end_of_track(0x0FFFFFFF).bytes());
  EXPECT_GT(long_song.max_time, 2000000);
  std::vector<Measure> grid = build_measure_grid(*long_song.map, long_song.max_time);
  ASSERT_EQ(grid.size(), 1000u);
  expect_measure(grid.back(), 1000, 1998000, 2000000, 120.0);
}

TEST(MeasureGrid, SongOfLengthZeroGetsTheFallbackMeasure) {
  std::vector<Measure> grid = grid_of(song().tempo(0, 1000000).note_on(0, 0, 60, 100).end_of_track().bytes());
  ASSERT_EQ(grid.size(), 1u);
  expect_measure(grid[0], 1, 0, 0, 120.0);
  EXPECT_EQ(grid[0].beats, 4);
}

TEST(MeasureGrid, TruncatedMeasureLengthsAddUp) {
  // 428571 us per quarter: 4 * 428.571 ms = 1714.284, kept as 1714 each.
  std::vector<Measure> grid = grid_of(song().tempo(0, 428571).end_of_track(13440).bytes());  // 11999 ms
  ASSERT_EQ(grid.size(), 8u);
  EXPECT_EQ(grid[0].end_ms, 1714);
  EXPECT_EQ(grid[6].number, 7);
  EXPECT_EQ(grid[6].start_ms, 10284);
  EXPECT_EQ(grid[7].start_ms, 11998);
}

// --- Listing --------------------------------------------------------------

TEST(MeasureListing, ShowsAtMostFiveMeasures) {
  test::Converted c =
      test::convert_bytes(song().note_on(0, 0, 60, 100).end_of_track(7681).bytes(), test::Mode::kVertical);
  const std::string listing =
      "小節情報:\n"
      "  小節1: 0ms-2000ms, BPM=120.00\n"
      "  小節2: 2000ms-4000ms, BPM=120.00\n"
      "  小節3: 4000ms-6000ms, BPM=120.00\n"
      "  小節4: 6000ms-8000ms, BPM=120.00\n"
      "  小節5: 8000ms-10000ms, BPM=120.00\n"
      "ノート情報を抽出してファイルに書き込み中...\n";
  EXPECT_NE(c.out.find(listing), std::string::npos) << c.out;
}

TEST(MeasureListing, FallbackMeasureIsListed) {
  test::Converted c =
      test::convert_bytes(song().note_on(0, 0, 60, 100).end_of_track().bytes(), test::Mode::kHorizontal);
  EXPECT_NE(c.out.find("小節情報:\n  小節1: 0ms-0ms, BPM=120.00\nノート情報"), std::string::npos) << c.out;
}

TEST(MeasureListing, CircleModePrintsNoListing) {
  test::Converted c =
      test::convert_bytes(song().note_on(0, 0, 60, 100).end_of_track(7681).bytes(), test::Mode::kCircle);
  EXPECT_EQ(c.out.find("小節"), std::string::npos) << c.out;
}

// --- how long notes are held ---------------------------------------------

// The release ticks of the notes (tick, channel, key) asked for in file.
std::vector<uint64_t> releases_of(const Bytes& file, const std::vector<HeldNote>& asked) {
  MemorySource source(file.data(), file.size());
  MidiHeader header;
  uint64_t first_chunk = 0;
  EXPECT_TRUE(read_midi_header(source, &header, &first_chunk));
  TempoMap map(header.division);
  TrackScan scan;
  NullConsole console;
  EXPECT_EQ(scan_tracks(source, header.track_count, first_chunk, &map, &scan, console).outcome, ScanOutcome::kOk);
  std::vector<HeldNote> notes = asked;
  EXPECT_TRUE(find_note_releases(source, scan, &notes));
  std::vector<uint64_t> ticks;
  for (const HeldNote& note : notes) ticks.push_back(note.release_tick);
  return ticks;
}

TEST(NoteReleases, NoteOffsZeroVelocitiesAndStrikesAnewEndNotes) {
  const Bytes file = Smf()
                         .header(1, 2, 480)
                         .track()
                         .note_on(0, 0, 60, 100)     // released by a Note Off at 480
                         .note_on(0, 1, 60, 100)     // its own channel: released at 960
                         .note_on(0, 0, 64, 100)     // struck anew at 240, that one released at 720
                         .note_on(240, 0, 64, 90)
                         .note_off(240, 0, 60)
                         .note_on(240, 0, 64, 0)     // velocity 0 releases
                         .note_off(240, 1, 60)
                         .note_on(0, 0, 67, 100)     // never released
                         .note_on(0, 0, 69, 100)     // released in the other track only
                         .end_of_track()
                         .track()
                         .note_off(2000, 0, 69)
                         .end_of_track()
                         .bytes();
  const std::vector<HeldNote> asked = {{0, 0, 60, 0},   {0, 1, 60, 0},   {0, 0, 64, 0},  {240, 0, 64, 0},
                                       {960, 0, 67, 0}, {960, 0, 69, 0}, {5, 0, 61, 0}};
  EXPECT_EQ(releases_of(file, asked), (std::vector<uint64_t>{480, 960, 240, 720, 960, 960, 5}));
}

}  // namespace
}  // namespace onpu
