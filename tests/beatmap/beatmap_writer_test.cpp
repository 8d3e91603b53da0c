#include "beatmap/beatmap_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "beatmap/preview_time.h"
#include "support/harness.h"

namespace onpu {
namespace {

using test::Smf;

std::string header_text(const TempoMap& tempo_map, const std::string& base_name = "song",
                        const std::string& version_name = "Circle Mode") {
  StringSink sink;
  TextBuffer out(sink);
  write_beatmap_header(out, base_name, version_name, tempo_map);
  out.flush();
  return sink.text;
}

// The lines between "[TimingPoints]\n" and the blank line after them.
std::string timing_points(const std::string& osu) {
  const std::string start = "[TimingPoints]\n";
  size_t from = osu.find(start);
  if (from == std::string::npos) return "<no [TimingPoints]>";
  from += start.size();
  return osu.substr(from, osu.find("\n\n", from) + 1 - from);
}

std::string metadata_line(const std::string& osu, const std::string& key) {
  size_t at = osu.find("\n" + key);
  if (at == std::string::npos) return "<no " + key + ">";
  return osu.substr(at + 1, osu.find('\n', at + 1) - at);
}

void add_signature(TempoMap* map, uint64_t tick, uint8_t numerator, uint8_t exponent) {
  const uint8_t data[4] = {numerator, exponent, 24, 8};
  map->add_time_signature(tick, data);
}

TEST(BeatmapHeader, FileWithoutTempoOrNotesIsTheFixedTextByteForByte) {
  test::Converted converted =
      test::convert_bytes(Smf().header(1, 1, 480).track().end_of_track().bytes(), test::Mode::kCircle, "song");
  const std::string expected =
      "\xEF\xBB\xBF"
      "osu file format v14\n"
      "\n"
      "[General]\n"
      "AudioFilename: song.mp3\n"
      "AudioLeadIn: 0\n"
      "PreviewTime: -1\n"
      "Countdown: 0\n"
      "SampleSet: Normal\n"
      "StackLeniency: 0\n"
      "Mode: 0\n"
      "LetterboxInBreaks: 0\n"
      "WidescreenStoryboard: 0\n"
      "\n"
      "[Editor]\n"
      "DistanceSpacing: 1\n"
      "BeatDivisor: 4\n"
      "GridSize: 32\n"
      "TimelineZoom: 1\n"
      "\n"
      "[Metadata]\n"
      "Title:song\n"
      "TitleUnicode:song\n"
      "Artist:Unknown\n"
      "ArtistUnicode:Unknown\n"
      "Creator:MIDI Converter\n"
      "Version:Circle Mode\n"
      "Source:MIDI\n"
      "Tags:midi converted\n"
      "BeatmapID:0\n"
      "BeatmapSetID:-1\n"
      "\n"
      "[Difficulty]\n"
      "HPDrainRate:5\n"
      "CircleSize:16\n"
      "OverallDifficulty:5\n"
      "ApproachRate:5\n"
      "SliderMultiplier:1.4\n"
      "SliderTickRate:1\n"
      "\n"
      "[Events]\n"
      "//Background and Video events\n"
      "//Break Periods\n"
      "//Storyboard Layer 0 (Background)\n"
      "//Storyboard Layer 1 (Fail)\n"
      "//Storyboard Layer 2 (Pass)\n"
      "//Storyboard Layer 3 (Foreground)\n"
      "//Storyboard Layer 4 (Overlay)\n"
      "//Storyboard Sound Samples\n"
      "\n"
      "[TimingPoints]\n"
      "0,500.000000,4,1,0,100,1,0\n"
      "\n"
      "[Colours]\n"
      "Combo1 : 255,192,0\n"
      "Combo2 : 0,202,0\n"
      "Combo3 : 18,124,255\n"
      "Combo4 : 242,24,57\n"
      "Combo5 : 128,0,128\n"
      "Combo6 : 0,255,255\n"
      "Combo7 : 255,128,0\n"
      "Combo8 : 255,105,180\n"
      "\n"
      "[HitObjects]\n";
  EXPECT_EQ(converted.result.error, ConversionError::kNone);
  EXPECT_EQ(converted.osu, expected);
  EXPECT_EQ(converted.result.note_count, 0);
}

TEST(BeatmapHeader, TempoAndMeterAtTickZeroGiveOneTimingPoint) {
  TempoMap map(480);
  map.add_tempo(0, 600000);
  add_signature(&map, 0, 3, 2);
  map.finish();
  EXPECT_EQ(timing_points(header_text(map)), "0,600.000000,3,1,0,100,1,0\n");
}

TEST(BeatmapHeader, EachTempoSegmentGivesOneTimingPointInOrder) {
  // 1200 ticks at 600000 us per quarter and 480 per quarter are 1.5 s; the
  // next 480 ticks at 500000 add 0.5 s.
  TempoMap map(480);
  map.add_tempo(0, 600000);
  add_signature(&map, 0, 3, 2);
  map.add_tempo(1200, 500000);
  map.add_tempo(1680, 461538);
  map.finish();
  EXPECT_EQ(timing_points(header_text(map)),
            "0,600.000000,3,1,0,100,1,0\n"
            "1500,500.000000,3,1,0,100,1,0\n"
            "2000,461.538000,3,1,0,100,1,0\n");
}

TEST(BeatmapHeader, TimeSignatureAtTheSegmentsTickGovernsIt) {
  TempoMap map(480);
  add_signature(&map, 960, 7, 3);
  map.add_tempo(959, 500000);
  map.add_tempo(960, 500000);
  map.finish();
  EXPECT_EQ(timing_points(header_text(map)),
            "0,500.000000,4,1,0,100,1,0\n"
            "998,500.000000,4,1,0,100,1,0\n"
            "1000,500.000000,7,1,0,100,1,0\n");
}

TEST(BeatmapHeader, MeterComesFromTheSignatureInForceOnceSignaturesAreInTickOrder) {
  // Met in the file as 0 (4/4), 1920 (3/4), 960 (6/8). The time signatures
  // are kept in tick order, so from tick 960 on 6/8 holds and from 1920 on 3/4.
  TempoMap map(480);
  add_signature(&map, 1920, 3, 2);
  add_signature(&map, 960, 6, 3);
  map.add_tempo(1000, 500000);
  map.add_tempo(2000, 500000);
  map.finish();
  const std::string points = timing_points(header_text(map));
  EXPECT_EQ(points,
            "0,500.000000,4,1,0,100,1,0\n"
            "1041,500.000000,6,1,0,100,1,0\n"
            "2083,500.000000,3,1,0,100,1,0\n");
}

TEST(BeatmapHeader, TimingPointTimeIsTruncatedNotRounded) {
  // At 1900 us per quarter and one tick per quarter, tick 1 starts 0.0019 s in.
  TempoMap map(1);
  map.add_tempo(0, 1900);
  map.add_tempo(1, 500000);
  map.finish();
  EXPECT_EQ(timing_points(header_text(map)),
            "0,1.900000,4,1,0,100,1,0\n"
            "1,500.000000,4,1,0,100,1,0\n");
}

TEST(BeatmapHeader, JapaneseBaseNameIsCopiedAsUtf8Bytes) {
  TempoMap map(480);
  map.finish();
  const std::string osu = header_text(map, "\xE5\xA4\x9C\xE3\x81\xAE\xE6\x9B\xB2");  // 夜の曲
  EXPECT_EQ(metadata_line(osu, "AudioFilename"), "AudioFilename: \xE5\xA4\x9C\xE3\x81\xAE\xE6\x9B\xB2.mp3\n");
  EXPECT_EQ(metadata_line(osu, "Title:"), "Title:\xE5\xA4\x9C\xE3\x81\xAE\xE6\x9B\xB2\n");
  EXPECT_EQ(metadata_line(osu, "TitleUnicode:"), "TitleUnicode:\xE5\xA4\x9C\xE3\x81\xAE\xE6\x9B\xB2\n");
}

TEST(BeatmapHeader, PercentSignsInTheBaseNameAreWrittenLiterally) {
  TempoMap map(480);
  map.finish();
  const std::string osu = header_text(map, "100%%d%s");
  EXPECT_EQ(metadata_line(osu, "AudioFilename"), "AudioFilename: 100%%d%s.mp3\n");
  EXPECT_EQ(metadata_line(osu, "Title:"), "Title:100%%d%s\n");
  EXPECT_EQ(metadata_line(osu, "TitleUnicode:"), "TitleUnicode:100%%d%s\n");
}

TEST(BeatmapHeader, EmptyBaseNameLeavesTheValuesEmpty) {
  TempoMap map(480);
  map.finish();
  const std::string osu = header_text(map, "");
  EXPECT_EQ(metadata_line(osu, "AudioFilename"), "AudioFilename: .mp3\n");
  EXPECT_EQ(metadata_line(osu, "Title:"), "Title:\n");
  EXPECT_EQ(metadata_line(osu, "TitleUnicode:"), "TitleUnicode:\n");
}

TEST(BeatmapHeader, HeadersOfTheThreeModesDifferOnlyInTheVersionLine) {
  // Mode both runs these three conversions of one file.
  const test::Bytes midi = Smf()
                               .header(1, 2, 480)
                               .track()
                               .time_signature(0, 3, 2)
                               .tempo(0, 400000)
                               .tempo(960, 750000)
                               .end_of_track()
                               .track()
                               .note_on(0, 2, 64, 90)
                               .note_on(1200, 3, 65, 90)
                               .end_of_track(480)
                               .bytes();
  const test::Mode modes[3] = {test::Mode::kCircle, test::Mode::kVertical, test::Mode::kHorizontal};
  const std::string versions[3] = {"Circle Mode", "Vertical Slider Mode", "Horizontal Slider Mode"};
  std::string headers[3];
  for (int i = 0; i < 3; ++i) {
    std::string osu = test::convert_bytes(midi, modes[i], "tune").osu;
    headers[i] = osu.substr(0, osu.find("[HitObjects]\n") + 13);
    const std::string version = "\nVersion:" + versions[i] + "\n";
    size_t at = headers[i].find(version);
    ASSERT_NE(at, std::string::npos) << versions[i];
    headers[i].replace(at, version.size(), "\nVersion:*\n");
  }
  EXPECT_EQ(timing_points(headers[0]),
            "0,400.000000,3,1,0,100,1,0\n"
            "800,750.000000,3,1,0,100,1,0\n");
  EXPECT_EQ(headers[0], headers[1]);
  EXPECT_EQ(headers[0], headers[2]);
}

// A map laid out for play: a circle, a slider that goes back and forth once
// with a new combo, a break, and a slider over a tempo change.
TEST(BeatmapHeader, MapForPlayWritesItsBreaksSliderVolumesAndObjects) {
  TempoMap map(480);
  map.add_tempo(0, 600000);
  map.add_tempo(1200, 500000);  // at 1500 ms
  map.finish();
  PlayLayout play;
  PlayObject circle;
  circle.x = 10, circle.y = 20, circle.time_ms = 0, circle.key = 60, circle.velocity = 127, circle.new_combo = true;
  PlayObject slider;
  slider.x = 100, slider.y = 200, slider.time_ms = 600, slider.key = 72, slider.velocity = 64;
  slider.slides = 2, slider.end_x = 170, slider.end_y = 200, slider.length_px = 70.0, slider.new_combo = true;
  PlayObject later = slider;
  later.time_ms = 1500, later.slides = 1, later.length_px = 123.45, later.new_combo = false;
  play.objects = {circle, slider, later};
  play.breaks = {{700, 1400}};

  StringSink sink;
  TextBuffer out(sink);
  write_beatmap_header(out, "song", "Hard 3.50★", map, BeatmapDifficulty(), &play);
  write_play_objects(out, play.objects);
  out.flush();
  EXPECT_NE(sink.text.find("//Break Periods\n2,700,1400\n//Storyboard Layer 0"), std::string::npos);
  // Each slider's head at its note's volume, the rest of it nearly silent.
  EXPECT_EQ(timing_points(sink.text),
            "0,600.000000,4,1,0,100,1,0\n"
            "600,-100,4,1,0,50,0,0\n"
            "606,-100,4,1,0,5,0,0\n"
            "1500,500.000000,4,1,0,100,1,0\n"
            "1500,-100,4,1,0,50,0,0\n"
            "1506,-100,4,1,0,5,0,0\n");
  EXPECT_EQ(sink.text.substr(sink.text.find("[HitObjects]\n")),
            "[HitObjects]\n"
            "10,20,0,5,0,0:0:0:100:piano/60.mp3\n"
            "100,200,600,6,0,L|170:200,2,70.00,0|0|0,0:0|0:0|0:0,0:0:0:0:piano/72.mp3\n"
            "100,200,1500,2,0,L|170:200,1,123.45,0|0,0:0|0:0,0:0:0:0:piano/72.mp3\n");
}

TEST(BeatLengths, AreTheTimingPointsAsWrittenAtEachTime) {
  TempoMap map(480);
  map.add_tempo(0, 600000);
  map.add_tempo(1200, 461538);  // 461.538 ms a beat from 1500 ms
  map.finish();
  const BeatLengths beats(map);
  EXPECT_EQ(beats.at(-5), 600.0);
  EXPECT_EQ(beats.at(1499), 600.0);
  EXPECT_EQ(beats.at(1500), 461.538);
  EXPECT_EQ(beats.at(100000), 461.538);
}

// Timing that follows a player: a pickup of two beats, an even bar, and a
// bar whose beats bend away from an even division.
TEST(BeatTimingLines, BarLinesFallOnTheBarsAndBentBeatsGetPointsWithoutBarLines) {
  const std::vector<double> beats = {0, 500, 1000, 1500, 2000, 2500, 3000, 3600, 4100, 4600, 5000.4};
  std::string text;
  for (const TimingLine& line : beat_timing_lines(beats, {2, 6})) text += timing_line_text(line);
  EXPECT_EQ(text,
            "0,500.000000,2,1,0,100,1,8\n"      // the pickup: no bar line at its start
            "1000,500.000000,4,1,0,100,1,0\n"   // an even bar: one point
            "3000,600.000000,4,1,0,100,1,0\n"   // a bar that bends: its bar line,
            "3600,500.000000,4,1,0,100,1,8\n"   // two even beats,
            "4600,400.000000,4,1,0,100,1,8\n");  // and a short one
  EXPECT_TRUE(beat_timing_lines({1000}, {0}).empty());
}

// The same timing as the game draws its bar lines: none at a point that
// leaves out its first, then one every meter beats until the next point.
TEST(BarLineTimes, FollowEachPointsMeterAndBeatUntilTheNextPoint) {
  const std::vector<double> beats = {0, 500, 1000, 1500, 2000, 2500, 3000, 3600, 4100, 4600, 5000.4};
  const std::vector<TimingLine> lines = beat_timing_lines(beats, {2, 6});
  EXPECT_EQ(bar_line_times_ms(lines, 7000), (std::vector<int32_t>{1000, 3000, 6200}));
  EXPECT_EQ(bar_line_times_ms(lines, 6200), (std::vector<int32_t>{1000, 3000}));
  EXPECT_EQ(bar_line_times_ms({TimingLine{0, 500.0, 3, false}}, 4000), (std::vector<int32_t>{0, 1500, 3000}));
}

// A song of 60 s at 120 beats a minute in 4/4 (a bar every 2 s): a quiet
// note every half beat, and chords of three loud notes over 20 s somewhere.
TEST(PreviewTime, StartsAtTheBarLineOfTheFullestStretchThatEndsInsideTheSong) {
  const std::vector<int32_t> bars = bar_line_times_ms({TimingLine{0, 500.0, 4, false}}, 60000);
  auto song = [](int32_t loud_from, int32_t loud_to) {
    std::vector<SoundingMoment> moments;
    for (int32_t t = 0; t < 60000; t += 250) moments.push_back({t, t >= loud_from && t < loud_to ? 3 * 100 : 64});
    return moments;
  };
  EXPECT_EQ(choose_preview_ms(bars, song(30000, 50000), 60000), 30000);
  // Loud from the middle of a bar: the bar line before it.
  EXPECT_EQ(choose_preview_ms(bars, song(31000, 51000), 60000), 30000);
  // Loud to the end: the preview still ends inside the song.
  EXPECT_EQ(choose_preview_ms(bars, song(45000, 60000), 60000), 40000);
  // Even all through: the first bar.
  EXPECT_EQ(choose_preview_ms(bars, song(0, 0), 60000), 0);
  // Shorter than a preview: the bar line where the music starts.
  const std::vector<int32_t> short_bars = bar_line_times_ms({TimingLine{0, 500.0, 4, false}}, 10000);
  EXPECT_EQ(choose_preview_ms(short_bars, {{2500, 64}, {3000, 64}}, 10000), 2000);
  EXPECT_EQ(choose_preview_ms(short_bars, {{1500, 64}}, 10000), 0);
  EXPECT_EQ(choose_preview_ms({}, {{1500, 64}}, 10000), 0);
}

// A map for play in a set names the song, its preview and its picture; a
// control character in a name would break the line and becomes a space.
TEST(BeatmapHeader, MapForPlayInASetNamesItsSongPreviewAndBackground) {
  TempoMap map(480);
  map.finish();
  PlayHeader set_header;
  set_header.title = "夜明けの歌";
  set_header.artist = "Hikari\nSora";
  set_header.tags = "midi converted Hikari Sora 夜明けの歌";
  set_header.preview_ms = 30000;
  set_header.background = "background.png";
  PlayLayout play;
  StringSink sink;
  TextBuffer out(sink);
  write_beatmap_header(out, "Hikari Sora - 夜明けの歌", "Easy 1.50★", map, BeatmapDifficulty(), &play, nullptr,
                       &set_header);
  out.flush();
  const std::string& osu = sink.text;
  EXPECT_EQ(metadata_line(osu, "PreviewTime"), "PreviewTime: 30000\n");
  const std::string metadata =
      "[Metadata]\n"
      "Title:夜明けの歌\n"
      "TitleUnicode:夜明けの歌\n"
      "Artist:Hikari Sora\n"
      "ArtistUnicode:Hikari Sora\n"
      "Creator:MIDI Converter\n"
      "Version:Easy 1.50★\n"
      "Source:MIDI\n"
      "Tags:midi converted Hikari Sora 夜明けの歌\n"
      "BeatmapID:0\n";
  EXPECT_NE(osu.find(metadata), std::string::npos) << osu;
  EXPECT_NE(osu.find("[Events]\n//Background and Video events\n0,0,\"background.png\",0,0\n//Break Periods\n"),
            std::string::npos)
      << osu;
}

}  // namespace
}  // namespace onpu
