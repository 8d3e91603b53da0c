#include "audio/midi_timeline.h"

#include <gtest/gtest.h>

#include <sstream>

#include "common/messages.h"
#include "support/harness.h"
#include "support/smf_builder.h"

namespace onpu::audio {
namespace {

using test::Bytes;
using test::Smf;

MidiTimeline parse(const Bytes& bytes) {
  MidiTimeline timeline;
  std::string error;
  EXPECT_TRUE(read_midi_timeline(bytes, &timeline, &error)) << error;
  return timeline;
}

// (status, data1) of every event, in timeline order.
std::vector<std::pair<int, int>> messages_of(const MidiTimeline& timeline) {
  std::vector<std::pair<int, int>> out;
  for (const TimedEvent& e : timeline.events) out.emplace_back(e.status, e.data1);
  return out;
}

using Messages = std::vector<std::pair<int, int>>;

TEST(MidiTimeline, TempoMapFromTheFirstTrackTimesEveryTrack) {
  // 480 ticks per quarter: 120 bpm for the first 960 ticks (1 s), then 240 bpm.
  Smf conductor = Smf().header(1, 2, 480).track().tempo(0, 500000).tempo(960, 250000).end_of_track();
  conductor.track().note_on(0, 0, 60, 100).note_off(960, 0, 60).note_on(480, 0, 62, 100).end_of_track(480);
  MidiTimeline timeline = parse(conductor.bytes());
  ASSERT_EQ(timeline.events.size(), 3u);
  EXPECT_DOUBLE_EQ(timeline.events[0].seconds, 0.0);
  EXPECT_DOUBLE_EQ(timeline.events[1].seconds, 1.0);
  EXPECT_DOUBLE_EQ(timeline.events[2].seconds, 1.25);
  EXPECT_EQ(timeline.events[2].status, 0x90);
  EXPECT_EQ(timeline.events[2].data1, 62);
  // End of Track of the notes track at tick 1920.
  EXPECT_DOUBLE_EQ(timeline.end_seconds, 1.5);
}

TEST(MidiTimeline, LatestTrackEndSetsTheSongEndEvenWhenSilent) {
  Bytes bytes = Smf()
                    .header(1, 3, 480)
                    .track()
                    .tempo(0, 500000)
                    .tempo(960, 250000)
                    .end_of_track()
                    .track()
                    .note_on(0, 0, 60, 100)
                    .end_of_track(1920)
                    .track()
                    .end_of_track(2400)
                    .bytes();
  // 1 s for the first 960 ticks, then 1440 ticks at 240 bpm: 0.75 s.
  EXPECT_DOUBLE_EQ(parse(bytes).end_seconds, 1.75);
}

TEST(MidiTimeline, MergesTracksInTickThenTrackOrderAndKeepsRunningStatus) {
  // Running status: the second and third note-ons carry no status byte.
  Bytes bytes = Smf()
                    .header(1, 2, 96)
                    .track()
                    .note_on(10, 1, 60, 90)
                    .running(0, {64, 91})
                    .running(10, {67, 0})
                    .end_of_track()
                    .track()
                    .program_change(0, 2, 5)
                    .raw({0x0A, 0xE2, 0x00, 0x40})
                    .raw({0x05, 0xD2, 33})
                    .end_of_track()
                    .bytes();
  MidiTimeline timeline = parse(bytes);
  Messages expected = {{0xC2, 5}, {0x91, 60}, {0x91, 64}, {0xE2, 0x00}, {0xD2, 33}, {0x91, 67}};
  EXPECT_EQ(messages_of(timeline), expected);
  EXPECT_EQ(timeline.events[3].data2, 0x40);  // pitch bend keeps both data bytes
  EXPECT_EQ(timeline.events[4].data2, 0);     // channel pressure has one
  EXPECT_EQ(timeline.events[5].data2, 0);     // note-on with velocity 0 stays a note-on
}

TEST(MidiTimeline, RunningStatusSurvivesMetaAndSysexEvents) {
  Bytes bytes = Smf()
                    .header(0, 1, 480)
                    .track()
                    .note_on(0, 0, 60, 100)
                    .meta(0, 0x01, {'x'})
                    .running(0, {62, 100})
                    .sysex(0, {0x41, 0xF7})
                    .running(0, {64, 100})
                    .end_of_track()
                    .bytes();
  Messages expected = {{0x90, 60}, {0x90, 62}, {0xF0, 0}, {0x90, 64}};
  EXPECT_EQ(messages_of(parse(bytes)), expected);
}

TEST(MidiTimeline, DataWithoutStatusPassesOverTwoBytesAndTheTrackGoesOn) {
  Bytes bytes = Smf()
                    .header(0, 1, 480)
                    .track()
                    .raw({0x00, 0x3C, 0x40})  // no status yet: passed over
                    .note_on(0, 0, 67, 100)
                    .end_of_track()
                    .bytes();
  EXPECT_EQ(messages_of(parse(bytes)), (Messages{{0x90, 67}}));
}

TEST(MidiTimeline, SystemCommonBytesArePassedOverByTheirLength) {
  Bytes bytes = Smf()
                    .header(0, 1, 480)
                    .track()
                    .note_on(0, 0, 60, 100)
                    .raw({0x00, 0xF2, 0x01, 0x02})  // song position: two data bytes
                    .raw({0x00, 0xF3, 0x05})        // song select: one
                    .raw({0x00, 0xF8})              // timing clock: none
                    .running(0, {62, 100})
                    .end_of_track()
                    .bytes();
  EXPECT_EQ(messages_of(parse(bytes)), (Messages{{0x90, 60}, {0x90, 62}}));
}

TEST(MidiTimeline, DeltaTimeOfFiveBytesStillCounts) {
  // 80 80 80 83 60 is 3 * 128 + 96 = 480 with leading zero groups.
  Bytes bytes =
      Smf().header(0, 1, 480).track().raw({0x80, 0x80, 0x80, 0x83, 0x60, 0x90, 60, 100}).end_of_track().bytes();
  MidiTimeline timeline = parse(bytes);
  ASSERT_EQ(timeline.events.size(), 1u);
  EXPECT_DOUBLE_EQ(timeline.events[0].seconds, 0.5);
}

TEST(MidiTimeline, SetTempoCountsOnlyWithThreeBytesAndANonzeroValue) {
  Bytes bytes = Smf()
                    .header(0, 1, 480)
                    .track()
                    .meta(0, 0x51, {0x0F, 0x42, 0x40, 0x00})  // four bytes: not a tempo
                    .meta(0, 0x51, {0x00, 0x00, 0x00})        // tempo 0: ignored
                    .note_on(480, 0, 60, 100)
                    .end_of_track()
                    .bytes();
  MidiTimeline timeline = parse(bytes);
  ASSERT_EQ(timeline.events.size(), 1u);
  EXPECT_DOUBLE_EQ(timeline.events[0].seconds, 0.5);  // still 120 bpm
}

TEST(MidiTimeline, DataBytesAbove127PlayAs127) {
  // A damaged key byte of 200 is placed like key 127 in the beatmap.
  Bytes bytes = Smf().header(0, 1, 480).track().raw({0x00, 0x90, 200, 0xFF}).end_of_track().bytes();
  MidiTimeline timeline = parse(bytes);
  ASSERT_EQ(timeline.events.size(), 1u);
  EXPECT_EQ(timeline.events[0].data1, 127);
  EXPECT_EQ(timeline.events[0].data2, 127);
}

TEST(MidiTimeline, KeepsSysexBodiesAndDropsMetaAndEscapes) {
  Bytes bytes = Smf()
                    .header(0, 1, 96)
                    .track()
                    .sysex(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7})  // GM System On
                    .meta(0, 0x03, {'h', 'i'})                 // track name
                    .sysex(0, {0xF8, 0xFA}, 0xF7)              // escaped real-time bytes
                    .sysex(0, {0x41, 0x10})                    // no closing F7
                    .control_change(0, 0, 7, 100)
                    .end_of_track()
                    .bytes();
  MidiTimeline timeline = parse(bytes);
  ASSERT_EQ(timeline.events.size(), 3u);
  const TimedEvent& gm_on = timeline.events[0];
  EXPECT_EQ(gm_on.status, 0xF0);
  Bytes body(timeline.sysex_bytes.begin() + gm_on.sysex_offset,
             timeline.sysex_bytes.begin() + gm_on.sysex_offset + gm_on.sysex_size);
  EXPECT_EQ(body, (Bytes{0x7E, 0x7F, 0x09, 0x01}));
  EXPECT_EQ(timeline.events[1].sysex_offset, 4u);
  EXPECT_EQ(timeline.events[1].sysex_size, 2u);
  EXPECT_EQ(timeline.events[2].status, 0xB0);
}

TEST(MidiTimeline, SysexBodyOver64KilobytesIsPassedOver) {
  Bytes largest(65536, 0x11);
  Bytes too_large(65537, 0x22);
  Bytes bytes = Smf()
                    .header(0, 1, 96)
                    .track()
                    .sysex(0, too_large)
                    .sysex(0, largest)
                    .note_on(0, 0, 60, 100)
                    .end_of_track()
                    .bytes();
  MidiTimeline timeline = parse(bytes);
  EXPECT_EQ(messages_of(timeline), (Messages{{0xF0, 0}, {0x90, 60}}));
  EXPECT_EQ(timeline.events[0].sysex_size, 65536u);
  EXPECT_EQ(timeline.sysex_bytes.size(), 65536u);
}

TEST(MidiTimeline, SmpteDivisionCountsTicksInRealTimeAndIgnoresTempo) {
  // 25 frames per second, 40 ticks per frame: 1000 ticks per second.
  auto division = static_cast<uint16_t>((0x100 - 25) << 8 | 40);
  Bytes bytes =
      Smf().header(0, 1, division).track().tempo(0, 1000000).note_on(1500, 0, 60, 1).end_of_track(500).bytes();
  MidiTimeline timeline = parse(bytes);
  ASSERT_EQ(timeline.events.size(), 1u);
  EXPECT_DOUBLE_EQ(timeline.events[0].seconds, 1.5);
  EXPECT_DOUBLE_EQ(timeline.end_seconds, 2.0);
}

TEST(MidiTimeline, HeaderTheConverterRefusesFailsWithItsMessage) {
  const Bytes rejected[] = {
      Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D', 0, 0},
      Smf().header(0, 1, 0).track().end_of_track().bytes(),  // division 0
      test::truncated(Smf().header(0, 1, 480).bytes(), 13),
  };
  for (const Bytes& bytes : rejected) {
    MidiTimeline timeline;
    std::string error;
    EXPECT_FALSE(read_midi_timeline(bytes, &timeline, &error));
    EXPECT_EQ(error, msg::kInvalidMidi);
  }
}

TEST(MidiTimeline, FileCutInsideANoteKeepsTheEventsBeforeIt) {
  Bytes whole = Smf().header(0, 1, 480).track().note_on(0, 0, 60, 100).note_on(480, 0, 64, 100).end_of_track().bytes();
  // Drops the second note's velocity and the End of Track.
  MidiTimeline timeline = parse(test::truncated(whole, whole.size() - 5));
  EXPECT_EQ(messages_of(timeline), (Messages{{0x90, 60}}));
}

TEST(MidiTimeline, MissingOrDamagedTrackChunkEndsTheReadingButKeepsEarlierTracks) {
  Bytes missing = Smf().header(1, 2, 480).track().note_on(0, 0, 60, 100).end_of_track().bytes();
  EXPECT_EQ(messages_of(parse(missing)), (Messages{{0x90, 60}}));

  Bytes damaged = Smf()
                      .header(1, 3, 480)
                      .track()
                      .note_on(0, 0, 60, 100)
                      .end_of_track()
                      .chunk(std::string("\x01\x02\x03\x04", 4))
                      .note_on(0, 0, 62, 100)
                      .end_of_track()
                      .track()
                      .note_on(0, 0, 64, 100)
                      .end_of_track()
                      .bytes();
  EXPECT_EQ(messages_of(parse(damaged)), (Messages{{0x90, 60}}));
}

// The third field of each hit object line: its time in milliseconds.
std::vector<int> hit_object_times(const std::string& osu) {
  std::vector<int> times;
  std::istringstream lines(test::hit_object_lines(osu));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string field;
    for (int i = 0; i < 3; ++i) std::getline(fields, field, ',');
    times.push_back(std::stoi(field));
  }
  return times;
}

TEST(MidiTimeline, NoteTimesAgreeWithTheBeatmapOnADamagedFile) {
  // Every place where a reader of its own went wrong before: a note under
  // running status after a meta event, a five-byte delta time, a four-byte
  // Set Tempo, and the real tempo change in a later track.
  Bytes bytes = Smf()
                    .header(1, 2, 480)
                    .track()
                    .note_on(0, 0, 60, 100)
                    .meta(0, 0x01, {'x'})
                    .running(240, {64, 100})
                    .raw({0x80, 0x80, 0x80, 0x81, 0x70, 67, 100})  // 240 more ticks
                    .end_of_track()
                    .track()
                    .tempo(120, 250000)
                    .meta(0, 0x51, {0x0F, 0x42, 0x40, 0x00})
                    .end_of_track()
                    .bytes();
  // 120 ticks at 120 bpm (0.125 s), then 240 bpm: tick 240 at 0.1875 s,
  // tick 480 at 0.3125 s.
  const std::vector<int> expected = {0, 187, 312};
  test::Converted converted = test::convert_bytes(bytes, test::Mode::kCircle);
  ASSERT_EQ(converted.result.error, ConversionError::kNone) << converted.err;
  EXPECT_EQ(hit_object_times(converted.osu), expected);

  MidiTimeline timeline = parse(bytes);
  std::vector<int> note_times;
  for (const TimedEvent& e : timeline.events) note_times.push_back(static_cast<int>(e.seconds * 1000.0));
  EXPECT_EQ(note_times, expected);
}

}  // namespace
}  // namespace onpu::audio
