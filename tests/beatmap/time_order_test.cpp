// Hit objects are written in ascending time across all tracks, notes at the
// same time in the order the tracks and their events hold them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "support/harness.h"

namespace onpu {
namespace {

using test::Mode;
using test::Smf;

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<int> fields(const std::string& line) {
  std::vector<int> values;
  std::istringstream in(line);
  std::string field;
  for (int i = 0; i < 5 && std::getline(in, field, ','); ++i) values.push_back(std::stoi(field));
  return values;
}

// With 500 ticks per quarter note at 120 BPM one tick is one millisecond.
// Track 0: key 60 on channel 0 every 10 ms from 0 to 7990; track 1: key 72
// on channel 1 every 5 ms from 0 to 3995. 1600 notes in all.
test::Bytes two_tracks_of_800() {
  Smf smf;
  smf.header(1, 2, 500).track();
  for (int i = 0; i < 800; ++i) smf.note_on(i == 0 ? 0 : 10, 0, 60, 100);
  smf.end_of_track().track();
  for (int i = 0; i < 800; ++i) smf.note_on(i == 0 ? 0 : 5, 1, 72, 100);
  return smf.end_of_track().bytes();
}

TEST(HitObjectTimeOrder, HitObjectsStayInTimeOrderAcrossTracks) {
  test::Converted c = test::convert_bytes(two_tracks_of_800(), Mode::kCircle);
  std::vector<std::string> lines = split_lines(test::hit_object_lines(c.osu));
  ASSERT_EQ(lines.size(), 1600u);
  EXPECT_EQ(c.result.note_count, 1600);
  int previous_time = -1;
  int previous_y = -1;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::vector<int> f = fields(lines[i]);
    ASSERT_EQ(f.size(), 5u) << lines[i];
    ASSERT_GE(f[2], previous_time) << "line " << i + 1 << ": " << lines[i];
    // Equal times: track 0 (y 50) before track 1 (y 68).
    if (f[2] == previous_time) {
      ASSERT_LT(previous_y, f[1]) << "line " << i + 1;
    }
    // Combos follow the written order: a new one at every change of channel.
    ASSERT_EQ(f[3], f[1] != previous_y ? 5 : 1) << "line " << i + 1 << ": " << lines[i];
    previous_time = f[2];
    previous_y = f[1];
  }
  // Below 4000 ms every 10 ms bring three lines: track 0, track 1, then
  // track 1 again 5 ms later. So the 1000th line is track 0's at 3330 ms,
  // where written in batches of 1000 the time would jump back.
  EXPECT_EQ(lines[0], "243,50,0,5,0,0:0:0:78:piano/60.mp3");
  EXPECT_EQ(lines[1], "286,68,0,5,0,0:0:0:78:piano/72.mp3");
  EXPECT_EQ(lines[2], "286,68,5,1,0,0:0:0:78:piano/72.mp3");
  EXPECT_EQ(lines[3], "243,50,10,5,0,0:0:0:78:piano/60.mp3");
  EXPECT_EQ(lines[998], "286,68,3325,1,0,0:0:0:78:piano/72.mp3");
  EXPECT_EQ(lines[999], "243,50,3330,5,0,0:0:0:78:piano/60.mp3");
  EXPECT_EQ(lines[1000], "286,68,3330,5,0,0:0:0:78:piano/72.mp3");
  EXPECT_EQ(lines[1199], "286,68,3995,1,0,0:0:0:78:piano/72.mp3");
  EXPECT_EQ(lines[1200], "243,50,4000,5,0,0:0:0:78:piano/60.mp3");
  EXPECT_EQ(lines[1201], "243,50,4010,1,0,0:0:0:78:piano/60.mp3");
  EXPECT_EQ(lines[1599], "243,50,7990,1,0,0:0:0:78:piano/60.mp3");
}

struct Note {
  uint32_t tick;
  int track;
  int index;  // position within its track
  int channel;
  int key;
};

TEST(HitObjectTimeOrder, SmallSongSpreadOverTracksEqualsItsStableSortInOneTrack) {
  // 900 notes over three tracks with times drawn at random (fixed seed, so
  // many collide), then the same notes in one track, ordered by a plain
  // stable sort of the pass order by tick. Both files must give the same
  // beatmap in every mode.
  std::vector<Note> notes;
  uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  for (int track = 0; track < 3; ++track) {
    uint32_t tick = 0;
    for (int i = 0; i < 300; ++i) {
      tick += next() % 4 * 120;  // 0, 120, 240 or 360 ticks later
      notes.push_back(Note{tick, track, i, static_cast<int>(next() % 16), 30 + static_cast<int>(next() % 70)});
    }
  }
  const uint32_t end_tick = 130000;  // beyond every note: the same song length in both files

  Smf spread;
  spread.header(1, 4, 480).track().tempo(0, 400000).time_signature(0, 3, 2).tempo(2400, 700000).end_of_track();
  for (int track = 0; track < 3; ++track) {
    spread.track();
    uint32_t at = 0;
    for (const Note& n : notes) {
      if (n.track != track) continue;
      spread.note_on(n.tick - at, n.channel, n.key, 100);
      at = n.tick;
    }
    spread.end_of_track(end_tick - at);
  }

  std::vector<Note> sorted = notes;
  std::stable_sort(sorted.begin(), sorted.end(), [](const Note& a, const Note& b) { return a.tick < b.tick; });
  Smf single;
  single.header(0, 1, 480).track().tempo(0, 400000).time_signature(0, 3, 2);
  uint32_t at = 0;
  bool tempo_change_written = false;
  for (const Note& n : sorted) {
    if (!tempo_change_written && n.tick >= 2400) {
      single.tempo(2400 - at, 700000);
      at = 2400;
      tempo_change_written = true;
    }
    single.note_on(n.tick - at, n.channel, n.key, 100);
    at = n.tick;
  }
  ASSERT_TRUE(tempo_change_written);
  single.end_of_track(end_tick - at);

  for (Mode mode : {Mode::kCircle, Mode::kVertical, Mode::kHorizontal}) {
    test::Converted a = test::convert_bytes(spread.bytes(), mode);
    test::Converted b = test::convert_bytes(single.bytes(), mode);
    EXPECT_EQ(a.result.note_count, 900);
    EXPECT_EQ(test::hit_object_lines(a.osu), test::hit_object_lines(b.osu));
  }
}

}  // namespace
}  // namespace onpu
