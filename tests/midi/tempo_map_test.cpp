// The tempo map and time signatures collected by the first walk, the
// conversion of ticks to seconds, and the header check.
#include "midi/tempo_map.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

#include "midi/midi_header.h"
#include "midi/track_scan.h"
#include "support/harness.h"
#include "support/smf_builder.h"

namespace onpu {
namespace {

using test::Bytes;
using test::Smf;

struct Collected {
  std::unique_ptr<TempoMap> map;
  CaptureConsole console;
};

// Runs the first walk over file and finishes its tempo map.
std::unique_ptr<Collected> collect(const Bytes& file) {
  auto collected = std::make_unique<Collected>();
  MemorySource source(file.data(), file.size());
  MidiHeader header;
  uint64_t first_chunk = 0;
  EXPECT_TRUE(read_midi_header(source, &header, &first_chunk));
  collected->map = std::make_unique<TempoMap>(header.division);
  TrackScan scan;
  ScanResult result =
      scan_tracks(source, header.track_count, first_chunk, collected->map.get(), &scan, collected->console);
  EXPECT_EQ(result.outcome, ScanOutcome::kOk);
  collected->map->finish();
  return collected;
}

// --- Collection -----------------------------------------------------------

TEST(TempoCollection, NoEventsLeaveOneSegmentAt120BpmAndFourFour) {
  auto c = collect(Smf().header(0, 1, 480).track().note_on(0, 0, 60, 100).end_of_track(960).bytes());
  ASSERT_EQ(c->map->segments().size(), 1u);
  EXPECT_EQ(c->map->segments()[0].tempo, 500000u);
  EXPECT_EQ(c->map->segments()[0].bpm, 120.0);
  EXPECT_EQ(c->map->tempo_change_count(), 0);
  ASSERT_EQ(c->map->time_signatures().size(), 1u);
  const TimeSignature& meter = c->map->time_signatures()[0];
  EXPECT_EQ(meter.numerator, 4);
  EXPECT_EQ(meter.denominator, 4);
  EXPECT_EQ(meter.clocks_per_click, 24);
  EXPECT_EQ(meter.thirty_seconds_per_quarter, 8);
}

TEST(TempoCollection, LastTempoAtTickZeroSetsHeadAndIsNotCounted) {
  auto c = collect(Smf()
                       .header(1, 2, 480)
                       .track().tempo(0, 600000).end_of_track()
                       .track().tempo(0, 400000).end_of_track()
                       .bytes());
  ASSERT_EQ(c->map->segments().size(), 1u);
  EXPECT_EQ(c->map->segments()[0].tempo, 400000u);
  EXPECT_EQ(c->map->segments()[0].bpm, 150.0);
  EXPECT_EQ(c->map->tempo_change_count(), 0);
  EXPECT_EQ(c->console.out_text,
            "テンポ変更を検出: tick=0, tempo=600000 (0x927C0), BPM=100.00\n"
            "  計算: 60000000 / 600000 = 100.000000 BPM\n"
            "テンポ変更を検出: tick=0, tempo=400000 (0x61A80), BPM=150.00\n"
            "  計算: 60000000 / 400000 = 150.000000 BPM\n");
}

TEST(TempoCollection, TickZeroTempoInLaterTrackTimesTheSegmentsAfterIt) {
  auto c = collect(Smf()
                       .header(1, 2, 480)
                       .track().tempo(480, 1000000).end_of_track()
                       .track().tempo(0, 250000).end_of_track()
                       .bytes());
  ASSERT_EQ(c->map->segments().size(), 2u);
  EXPECT_EQ(c->map->segments()[0].tempo, 250000u);
  EXPECT_DOUBLE_EQ(c->map->segments()[1].start_seconds, 0.25);  // 480 ticks at 240 BPM
  EXPECT_EQ(c->map->tempo_change_count(), 1);
}

TEST(TempoCollection, TimeSignatureAtTickZeroOverwritesHead) {
  auto c = collect(Smf().header(0, 1, 480).track().time_signature(0, 6, 3, 36, 16).end_of_track().bytes());
  ASSERT_EQ(c->map->time_signatures().size(), 1u);
  const TimeSignature& meter = c->map->time_signatures()[0];
  EXPECT_EQ(meter.tick, 0u);
  EXPECT_EQ(meter.numerator, 6);
  EXPECT_EQ(meter.denominator, 8);
  EXPECT_EQ(meter.clocks_per_click, 36);
  EXPECT_EQ(meter.thirty_seconds_per_quarter, 16);
  EXPECT_EQ(c->console.out_text, "拍子記号を検出: tick=0, 6/8拍子\n");
}

TEST(TempoCollection, TwoTemposAtOneTickAreBothKeptAndTheSecondRulesLaterTicks) {
  auto c = collect(Smf().header(0, 1, 480).track().tempo(480, 250000).tempo(0, 1000000).end_of_track().bytes());
  const auto& segments = c->map->segments();
  ASSERT_EQ(segments.size(), 3u);
  EXPECT_EQ(c->map->tempo_change_count(), 2);
  EXPECT_EQ(segments[1].tempo, 250000u);
  EXPECT_EQ(segments[2].tempo, 1000000u);
  EXPECT_DOUBLE_EQ(segments[1].start_seconds, 0.5);
  EXPECT_DOUBLE_EQ(segments[2].start_seconds, 0.5);
  EXPECT_DOUBLE_EQ(c->map->ticks_to_seconds(960), 1.5);  // 480 ticks at 60 BPM after 0.5 s
}

TEST(TempoCollection, EventsOfLaterTracksAreOrderedByTick) {
  auto c = collect(Smf()
                       .header(1, 2, 480)
                       .track().tempo(960, 1000000).time_signature(960, 3, 2).end_of_track()
                       .track().time_signature(0, 6, 3).tempo(480, 250000).time_signature(0, 2, 2).end_of_track()
                       .bytes());
  const auto& segments = c->map->segments();
  ASSERT_EQ(segments.size(), 3u);
  EXPECT_EQ(segments[1].tick, 480u);
  EXPECT_DOUBLE_EQ(segments[1].start_seconds, 0.5);
  EXPECT_EQ(segments[2].tick, 960u);
  EXPECT_DOUBLE_EQ(segments[2].start_seconds, 0.75);  // 0.5 s, then 480 ticks at 240 BPM
  EXPECT_DOUBLE_EQ(c->map->ticks_to_seconds(1440), 1.75);
  const auto& meters = c->map->time_signatures();
  ASSERT_EQ(meters.size(), 3u);
  EXPECT_EQ(meters[0].numerator, 6);
  EXPECT_EQ(meters[1].numerator, 2);
  EXPECT_EQ(meters[1].tick, 480u);
  EXPECT_EQ(meters[2].numerator, 3);
  EXPECT_EQ(meters[2].tick, 1920u);
  // The lines come in file order.
  EXPECT_LT(c->console.out_text.find("tick=960, tempo=1000000"), c->console.out_text.find("tick=480, tempo=250000"));
}

TEST(TempoCollection, EventsAtOneTickInDifferentTracksKeepFileOrder) {
  auto c = collect(Smf()
                       .header(1, 2, 480)
                       .track().tempo(480, 250000).end_of_track()
                       .track().tempo(480, 1000000).end_of_track()
                       .bytes());
  ASSERT_EQ(c->map->segments().size(), 3u);
  EXPECT_EQ(c->map->segments()[1].tempo, 250000u);
  EXPECT_EQ(c->map->segments()[2].tempo, 1000000u);
  EXPECT_DOUBLE_EQ(c->map->ticks_to_seconds(960), 1.5);
}

TEST(TempoCollection, TempoZeroIsIgnoredWithWarning) {
  auto c = collect(Smf().header(0, 1, 480).track().tempo(0, 0).tempo(480, 0).end_of_track().bytes());
  ASSERT_EQ(c->map->segments().size(), 1u);
  EXPECT_EQ(c->map->segments()[0].tempo, 500000u);
  EXPECT_EQ(c->map->tempo_change_count(), 0);
  EXPECT_EQ(c->console.err_text,
            "警告: テンポ値 0 を無視しました: tick=0\n"
            "警告: テンポ値 0 を無視しました: tick=480\n");
  EXPECT_EQ(c->console.out_text, "");
}

TEST(TempoCollection, TempoOrMeterOfAnotherLengthIsNoChange) {
  auto c = collect(Smf()
                       .header(0, 1, 480)
                       .track().meta(480, 0x51, {0x03, 0xD0, 0x90, 0x00}).meta(0, 0x58, {3, 2, 24}).end_of_track()
                       .bytes());
  EXPECT_EQ(c->map->segments().size(), 1u);
  EXPECT_EQ(c->map->time_signatures().size(), 1u);
  EXPECT_EQ(c->console.out_text, "");
}

TEST(TempoCollection, DenominatorIsTwoToTheExponentModulo32) {
  const struct {
    int exponent;
    int32_t denominator;
  } cases[] = {{0, 1}, {1, 2}, {2, 4}, {3, 8}, {32, 1}, {31, INT32_MIN}};
  Smf smf = Smf().header(0, 1, 480).track();
  for (const auto& c : cases) smf.time_signature(1, 4, c.exponent);
  auto c = collect(smf.end_of_track().bytes());
  const auto& meters = c->map->time_signatures();
  ASSERT_EQ(meters.size(), 7u);
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(meters[i + 1].denominator, cases[i].denominator) << cases[i].exponent;
  EXPECT_NE(c->console.out_text.find("拍子記号を検出: tick=4, 4/8拍子\n"), std::string::npos);
}

TEST(TempoConsole, TempoLinesAreExact) {
  test::Converted c = test::convert_bytes(
      Smf().header(0, 1, 480).track().tempo(0, 500000).tempo(960, 428571).end_of_track().bytes(), test::Mode::kCircle);
  EXPECT_EQ(c.out,
            "MIDIフォーマット: 0, トラック数: 1\n"
            "テンポ情報を収集中... (初期値: 120 BPM)\n"
            "テンポ変更を検出: tick=0, tempo=500000 (0x7A120), BPM=120.00\n"
            "  計算: 60000000 / 500000 = 120.000000 BPM\n"
            "テンポ変更を検出: tick=960, tempo=428571 (0x68A1B), BPM=140.00\n"
            "  計算: 60000000 / 428571 = 140.000140 BPM\n"
            "ノート情報を抽出してファイルに書き込み中...\n");
  EXPECT_EQ(c.result.tempo_change_count, 1);
}

// --- SMPTE timing ---------------------------------------------------------

TEST(SmpteTiming, SecondsAreTicksOverFramesTimesTicksPerFrame) {
  EXPECT_EQ(TempoMap(0xE850).ticks_to_seconds(960), 0.5);   // 24 fps, 80 per frame
  EXPECT_EQ(TempoMap(0xE728).ticks_to_seconds(1000), 1.0);  // 25 fps, 40 per frame
  EXPECT_EQ(TempoMap(0xE204).ticks_to_seconds(120), 1.0);   // 30 fps, 4 per frame
  EXPECT_NEAR(TempoMap(0xE301).ticks_to_seconds(30000), 1001.0, 1e-9);  // 30000/1001 fps
}

TEST(SmpteTiming, TempoEventsDoNotChangeTime) {
  auto c = collect(Smf().header(0, 1, 0xE728).track().tempo(500, 250000).end_of_track().bytes());
  ASSERT_EQ(c->map->segments().size(), 2u);
  EXPECT_EQ(c->map->tempo_change_count(), 1);
  EXPECT_EQ(c->map->segments()[1].start_seconds, 0.5);
  EXPECT_EQ(c->map->ticks_to_seconds(1000), 1.0);
  EXPECT_NE(c->console.out_text.find("テンポ変更を検出: tick=500, tempo=250000"), std::string::npos);
}

// --- ticks_to_seconds -----------------------------------------------------

TEST(TicksToSeconds, Tick960At120BpmAndDivision480IsOneSecond) {
  TempoMap map(480);
  map.finish();
  EXPECT_DOUBLE_EQ(map.ticks_to_seconds(960), 1.0);
  EXPECT_EQ(seconds_to_ms(map.ticks_to_seconds(960)), 1000);
}

TEST(TicksToSeconds, TempoChangeAtTick192OfDivision96StartsAtOneSecond) {
  TempoMap map(96);
  map.add_tempo(192, 250000);
  map.finish();
  EXPECT_DOUBLE_EQ(map.segments()[1].start_seconds, 1.0);
  EXPECT_DOUBLE_EQ(map.ticks_to_seconds(191), 191 / 192.0);
  EXPECT_DOUBLE_EQ(map.ticks_to_seconds(192), 1.0);
  EXPECT_DOUBLE_EQ(map.ticks_to_seconds(240), 1.125);
  EXPECT_EQ(seconds_to_ms(map.ticks_to_seconds(240)), 1125);
}

TEST(TicksToSeconds, TicksBeyond32BitsKeepCounting) {
  TempoMap map(480);
  map.finish();
  EXPECT_NEAR(map.ticks_to_seconds(uint64_t{1} << 33), 8947848.533333333, 1e-6);  // 2^33 / 960
}

// --- Header check ---------------------------------------------------------

ConversionError conversion_error(const Bytes& file) {
  return test::convert_bytes(file, test::Mode::kCircle).result.error;
}

Bytes header_and_note(const Bytes& after_tag) {
  return Smf().raw_header(after_tag).track().note_on(0, 0, 60, 100).end_of_track().bytes();
}

TEST(MidiHeaderCheck, DivisionZeroIsInvalidBeforeTheFormatLine) {
  test::Converted c = test::convert_bytes(Smf().header(0, 1, 0).track().end_of_track().bytes(), test::Mode::kCircle);
  EXPECT_EQ(c.result.error, ConversionError::kInvalidMidi);
  EXPECT_EQ(error_message(c.result, "", ""), "エラー: 無効なMIDIファイルです\n");
  EXPECT_EQ(c.out, "");
  EXPECT_FALSE(c.output_opened);
}

TEST(MidiHeaderCheck, LengthBelowSixIsInvalid) {
  EXPECT_EQ(conversion_error(header_and_note({0, 0, 0, 5, 0, 0, 0, 1, 0x01, 0xE0})), ConversionError::kInvalidMidi);
  EXPECT_EQ(conversion_error(header_and_note({0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0})), ConversionError::kNone);
}

TEST(MidiHeaderCheck, ExtraHeaderBytesArePassedOver) {
  Bytes file = header_and_note({0, 0, 0, 8, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T'});
  MemorySource source(file.data(), file.size());
  MidiHeader header;
  uint64_t first_chunk = 0;
  ASSERT_TRUE(read_midi_header(source, &header, &first_chunk));
  EXPECT_EQ(first_chunk, 16u);
  EXPECT_EQ(header.division, 480);
  test::Converted c = test::convert_bytes(file, test::Mode::kCircle);
  EXPECT_EQ(c.result.error, ConversionError::kNone);
  EXPECT_EQ(c.result.note_count, 1);
}

TEST(MidiHeaderCheck, HeaderCutShortIsInvalid) {
  Bytes whole = Smf().header(0, 0, 480).bytes();
  EXPECT_EQ(conversion_error(whole), ConversionError::kNone);
  for (size_t size : {0, 4, 8, 13})
    EXPECT_EQ(conversion_error(test::truncated(whole, size)), ConversionError::kInvalidMidi) << size;
}

TEST(MidiHeaderCheck, SmpteDivisionNeedsAKnownFrameRateAndTicksPerFrame) {
  for (uint16_t division : {0xE850, 0xE728, 0xE301, 0xE204}) {
    EXPECT_EQ(conversion_error(Smf().header(0, 1, division).track().end_of_track().bytes()), ConversionError::kNone)
        << division;
  }
  // 26 fps, 31 fps, -128 read as 128 fps, 1 fps, 24 fps with 0 ticks per frame.
  for (uint16_t division : {0xE628, 0xE128, 0x8028, 0xFF28, 0xE800}) {
    EXPECT_EQ(conversion_error(Smf().header(0, 1, division).track().end_of_track().bytes()),
              ConversionError::kInvalidMidi)
        << division;
  }
}

}  // namespace
}  // namespace onpu
