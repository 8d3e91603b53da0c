// Moments (the notes a hand plays together), where they fall in the measure,
// and the order in which they join a thinned map.
#include "difficulty/moments.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "difficulty/thinning.h"

namespace onpu {
namespace {

TimedNote note(int32_t time_ms, int key, int velocity = 100, int channel = 0, uint64_t tick = 0) {
  return TimedNote{tick, time_ms, static_cast<uint8_t>(channel), static_cast<uint8_t>(key),
                   static_cast<uint8_t>(velocity)};
}

TEST(Moments, NotesAHandPlaysTogetherAreOneMomentKeptByItsTopVoice) {
  struct Case {
    const char* what;
    std::vector<TimedNote> notes;
    std::vector<int> top_keys;  // one per moment
    std::vector<int> counts;
  };
  const Case cases[] = {
      {"a chord rolled over 18 ms", {note(0, 48), note(6, 55), note(12, 64), note(18, 60)}, {64}, {4}},
      {"29 ms apart is a chord", {note(0, 60), note(29, 62)}, {62}, {2}},
      {"30 ms apart are two moments", {note(0, 60), note(30, 62)}, {60, 62}, {1, 1}},
      {"a run too fast to tap is cut at 60 ms",
       {note(0, 60), note(25, 61), note(50, 62), note(75, 63), note(100, 64)},
       {62, 64},
       {3, 2}},
      {"percussion is no top voice beside a pitched note", {note(0, 60), note(2, 81, 127, 9)}, {60}, {2}},
      {"percussion alone is", {note(0, 36, 100, 9), note(1, 42, 60, 9)}, {42}, {2}},
  };
  const TempoMap tempo_map(480);
  const MetricGrid grid(tempo_map, 480);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MomentBuilder builder(grid);
    for (const TimedNote& n : c.notes) builder.add(n);
    std::vector<int> keys, counts;
    for (const Moment& m : builder.moments()) {
      keys.push_back(m.top.key);
      counts.push_back(m.note_count);
    }
    EXPECT_EQ(keys, c.top_keys);
    EXPECT_EQ(counts, c.counts);
  }

  // At equal keys the louder note is kept, with its own time; the moment
  // remembers its loudest note.
  MomentBuilder builder(grid);
  builder.add(note(0, 72, 70));
  builder.add(note(5, 72, 90, 1));
  builder.add(note(9, 50, 110));
  ASSERT_EQ(builder.moments().size(), 1u);
  EXPECT_EQ(builder.moments()[0].top.time_ms, 5);
  EXPECT_EQ(builder.moments()[0].top.channel, 1);
  EXPECT_EQ(builder.moments()[0].loudest, 110);
}

TEST(Moments, MetricLevelsFollowTheTimeSignatures) {
  TempoMap tempo_map(480);
  const uint8_t three_four[4] = {3, 2, 24, 8};
  const uint8_t six_eight[4] = {6, 3, 24, 8};
  tempo_map.add_time_signature(3840, three_four);  // after two measures of 4/4
  tempo_map.add_time_signature(3840 + 2 * 1440, six_eight);
  tempo_map.finish();
  const MetricGrid grid(tempo_map, 480);
  struct Case {
    uint64_t tick;
    MetricLevel level;
  };
  const Case cases[] = {
      {0, MetricLevel::kDownbeat},           {1920, MetricLevel::kDownbeat},        {1960, MetricLevel::kDownbeat},
      {1880, MetricLevel::kDownbeat},        {1879, MetricLevel::kOffGrid},         {480, MetricLevel::kBeat},
      {240, MetricLevel::kHalfBeat},         {120, MetricLevel::kQuarterBeat},      {60, MetricLevel::kOffGrid},
      {3840 + 1440, MetricLevel::kDownbeat},                                         // 3/4
      {3840 + 960, MetricLevel::kBeat},      {6720 + 1440, MetricLevel::kDownbeat},  // 6/8: eighths are beats
      {6720 + 240, MetricLevel::kBeat},      {6720 + 120, MetricLevel::kHalfBeat},
  };
  for (const Case& c : cases) EXPECT_EQ(grid.level_at(c.tick), c.level) << "tick " << c.tick;

  const TempoMap smpte(0xE728);  // -25 frames of 40 ticks: no beats to go by
  EXPECT_EQ(MetricGrid(smpte, 0xE728).level_at(0), MetricLevel::kOffGrid);
}

Moment moment_at(int32_t time_ms, MetricLevel level, int velocity) {
  Moment m;
  m.top = note(time_ms, 60, velocity);
  m.level = level;
  m.loudest = static_cast<uint8_t>(velocity);
  m.note_count = 1;
  return m;
}

TEST(Moments, SoftPassagesJoinAMapBeforeLoudOnesFillUp) {
  // A played song without a beat to go by: a soft first minute, a loud
  // second one, a moment every 150 ms.
  std::vector<Moment> moments;
  for (int32_t t = 0; t < 120000; t += 150)
    moments.push_back(moment_at(t, MetricLevel::kOffGrid, t < 60000 ? 40 : 110));
  size_t cover = 0;
  const std::vector<uint32_t> order = admission_order(moments, &cover);
  ASSERT_EQ(order.size(), moments.size());
  std::vector<uint32_t> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  for (uint32_t i = 0; i < sorted.size(); ++i) ASSERT_EQ(sorted[i], i);

  // The cover that every map keeps, and any longer beginning, span the
  // song from its first moment to its last with no stretch of over two
  // seconds empty, soft or loud; the cover holds a moment in 1 to 2 s.
  EXPECT_GE(cover, 60u);
  EXPECT_LE(cover, 121u);
  for (size_t count : {cover, cover + order.size() / 20, cover + order.size() / 5}) {
    std::vector<int32_t> times;
    for (size_t i = 0; i < count; ++i) times.push_back(moments[order[i]].top.time_ms);
    std::sort(times.begin(), times.end());
    EXPECT_EQ(times.front(), 0);
    EXPECT_EQ(times.back(), moments.back().top.time_ms);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_LE(times[i] - times[i - 1], 2000) << count;
  }
}

TEST(Moments, DownbeatsJoinBeforeBeatsAndBeatsBeforeOffBeats) {
  // 120 BPM in 4/4, eighth notes, the off-beats loudest; 16 measures and
  // the downbeat after them.
  std::vector<Moment> moments;
  for (int32_t t = 0; t <= 32000; t += 250) {
    const MetricLevel level = t % 2000 == 0  ? MetricLevel::kDownbeat
                              : t % 500 == 0 ? MetricLevel::kBeat
                                             : MetricLevel::kHalfBeat;
    moments.push_back(moment_at(t, level, level == MetricLevel::kHalfBeat ? 127 : 60));
  }
  const std::vector<uint32_t> order = admission_order(moments);
  // The 17 downbeats, then the 48 beats; off-beats come last.
  for (size_t i = 0; i < 17; ++i) EXPECT_EQ(moments[order[i]].level, MetricLevel::kDownbeat) << i;
  for (size_t i = 17; i < 65; ++i) EXPECT_EQ(moments[order[i]].level, MetricLevel::kBeat) << i;
  for (size_t i = 65; i < order.size(); ++i) EXPECT_EQ(moments[order[i]].level, MetricLevel::kHalfBeat) << i;
}

}  // namespace
}  // namespace onpu
