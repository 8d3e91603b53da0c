#include "audio/midi_timeline.h"

#include <gtest/gtest.h>

#include "audio_test_support.h"

namespace onpu::audio {
namespace {

using testing::Bytes;
using testing::channel_event;
using testing::concat;
using testing::mtrk;
using testing::smf;
using testing::tempo_event;

MidiTimeline parse(const Bytes& bytes) {
  MidiTimeline timeline;
  std::string error;
  EXPECT_TRUE(read_midi_timeline(bytes, &timeline, &error)) << error;
  return timeline;
}

TEST(MidiTimeline, TempoMapFromTheFirstTrackTimesEveryTrack) {
  // 480 ticks per quarter: 120 bpm for the first 960 ticks (1 s), then 240 bpm.
  Bytes conductor = mtrk(concat({tempo_event(0, 500000), tempo_event(960, 250000)}));
  Bytes notes = mtrk(concat({channel_event(0, {0x90, 60, 100}), channel_event(960, {0x80, 60, 0}),
                             channel_event(480, {0x90, 62, 100})}),
                     480);
  Bytes silent_but_longer = mtrk(Bytes{}, 2400);
  MidiTimeline timeline = parse(smf(1, 480, {conductor, notes}));
  ASSERT_EQ(timeline.events.size(), 3u);
  EXPECT_DOUBLE_EQ(timeline.events[0].seconds, 0.0);
  EXPECT_DOUBLE_EQ(timeline.events[1].seconds, 1.0);
  EXPECT_DOUBLE_EQ(timeline.events[2].seconds, 1.25);
  EXPECT_EQ(timeline.events[2].status, 0x90);
  EXPECT_EQ(timeline.events[2].data1, 62);
  // End of Track of the notes track at tick 1920.
  EXPECT_DOUBLE_EQ(timeline.end_seconds, 1.5);
  // The longest track sets the end even when nothing sounds there.
  EXPECT_DOUBLE_EQ(parse(smf(1, 480, {conductor, notes, silent_but_longer})).end_seconds, 1.75);
}

TEST(MidiTimeline, MergesTracksInTickThenTrackOrderAndKeepsRunningStatus) {
  // Running status: the second and third note-ons carry no status byte.
  Bytes first = mtrk(concat({channel_event(10, {0x91, 60, 90}), Bytes{0x00, 64, 91}, Bytes{0x0A, 67, 0}}));
  Bytes second = mtrk(concat({channel_event(0, {0xC2, 5}), channel_event(10, {0xE2, 0x00, 0x40}),
                              channel_event(5, {0xD2, 33})}));
  MidiTimeline timeline = parse(smf(1, 96, {first, second}));
  std::vector<std::pair<int, int>> order;  // status, data1
  for (const TimedEvent& e : timeline.events) order.emplace_back(e.status, e.data1);
  std::vector<std::pair<int, int>> expected = {{0xC2, 5}, {0x91, 60}, {0x91, 64}, {0xE2, 0x00}, {0xD2, 33}, {0x91, 67}};
  EXPECT_EQ(order, expected);
  EXPECT_EQ(timeline.events[3].data2, 0x40);  // pitch bend keeps both data bytes
  EXPECT_EQ(timeline.events[4].data2, 0);     // channel pressure has one
  EXPECT_EQ(timeline.events[5].data2, 0);     // note-on with velocity 0 stays a note-on
}

TEST(MidiTimeline, KeepsSysexBodiesAndDropsMetaAndEscapes) {
  Bytes track = mtrk(concat({
      Bytes{0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7},  // GM System On
      Bytes{0x00, 0xFF, 0x03, 0x02, 'h', 'i'},                // track name
      Bytes{0x00, 0xF7, 0x02, 0xF8, 0xFA},                    // escaped real-time bytes
      Bytes{0x00, 0xF0, 0x02, 0x41, 0x10},                    // no closing F7
      channel_event(0, {0xB0, 7, 100}),
  }));
  MidiTimeline timeline = parse(smf(0, 96, {track}));
  ASSERT_EQ(timeline.events.size(), 3u);
  const TimedEvent& gm_on = timeline.events[0];
  EXPECT_EQ(gm_on.status, 0xF0);
  Bytes body(timeline.sysex_bytes.begin() + gm_on.sysex_offset,
             timeline.sysex_bytes.begin() + gm_on.sysex_offset + gm_on.sysex_size);
  EXPECT_EQ(body, (Bytes{0x7E, 0x7F, 0x09, 0x01}));
  EXPECT_EQ(timeline.events[1].sysex_size, 2u);
  EXPECT_EQ(timeline.events[2].status, 0xB0);
}

TEST(MidiTimeline, SmpteDivisionCountsTicksInRealTimeAndIgnoresTempo) {
  // 25 frames per second, 40 ticks per frame: 1000 ticks per second.
  uint16_t division = static_cast<uint16_t>((0x100 - 25) << 8 | 40);
  Bytes track = mtrk(concat({tempo_event(0, 1000000), channel_event(1500, {0x90, 60, 1})}), 500);
  MidiTimeline timeline = parse(smf(0, division, {track}));
  ASSERT_EQ(timeline.events.size(), 1u);
  EXPECT_DOUBLE_EQ(timeline.events[0].seconds, 1.5);
  EXPECT_DOUBLE_EQ(timeline.end_seconds, 2.0);
}

TEST(MidiTimeline, DamagedInputEitherFailsWithAMessageOrEndsTheTrack) {
  MidiTimeline timeline;
  std::string error;
  EXPECT_FALSE(read_midi_timeline(Bytes{'R', 'I', 'F', 'F'}, &timeline, &error));
  EXPECT_EQ(error.back(), '\n');
  error.clear();
  EXPECT_FALSE(read_midi_timeline(smf(0, 0, {mtrk(Bytes{})}), &timeline, &error));
  EXPECT_FALSE(error.empty());

  // A track chunk that claims more bytes than the file has, cut inside the
  // second note: the first note stays and the track ends where it was cut.
  Bytes cut = smf(0, 480, {mtrk(concat({channel_event(0, {0x90, 60, 100}), channel_event(480, {0x90, 64, 100})}))});
  cut.resize(cut.size() - 5);
  timeline = parse(cut);
  ASSERT_EQ(timeline.events.size(), 1u);
  EXPECT_EQ(timeline.events[0].data1, 60);
}

TEST(MidiTimeline, ReadsTheSongInsideARiffRmidFile) {
  Bytes plain = smf(0, 480, {mtrk(channel_event(480, {0x90, 72, 80}), 480)});
  auto size = static_cast<uint32_t>(plain.size());
  Bytes chunk = concat({Bytes{'d', 'a', 't', 'a', static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                              static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)},
                        plain});
  uint32_t riff_size = static_cast<uint32_t>(chunk.size() + 4);
  Bytes rmid = concat({Bytes{'R', 'I', 'F', 'F', static_cast<uint8_t>(riff_size), static_cast<uint8_t>(riff_size >> 8),
                             static_cast<uint8_t>(riff_size >> 16), static_cast<uint8_t>(riff_size >> 24),
                             'R', 'M', 'I', 'D'},
                       chunk});
  MidiTimeline timeline = parse(rmid);
  ASSERT_EQ(timeline.events.size(), 1u);
  EXPECT_DOUBLE_EQ(timeline.events[0].seconds, 0.5);
  EXPECT_DOUBLE_EQ(timeline.end_seconds, 1.0);
}

}  // namespace
}  // namespace onpu::audio
