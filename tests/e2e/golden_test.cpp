// The real program on one small song, in every mode, against beatmaps and
// console texts worked out by hand.
//
// The song (480 ticks per quarter note):
//   track 0: 3/4 and 120 BPM at tick 0, 60 BPM from tick 960 (1000 ms)
//   track 1, channel 0: key 60 at 0 ms, key 64 at 1000 ms with velocity 30
//     (dropped), key 62 at 1000 ms, key 67 at 2500 ms, key 84 at 4000 ms
//   track 2, channel 1: key 48 at 0 ms (same time as key 60), key 55 at
//     500 ms with velocity 31, key 72 at 2500 ms (same time as key 67)
// The song ends at 4000 ms. The slider grid: 0-1000 ms (cut short by the
// tempo change) and 1000-4000 ms (3 beats at 60 BPM), so key 84 at 4000 ms
// lies past the grid.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/harness.h"

namespace onpu {
namespace {

using test::Smf;

test::Bytes golden_song() {
  return Smf()
      .header(1, 3, 480)
      .track()
      .time_signature(0, 3, 2)
      .tempo(0, 500000)
      .tempo(960, 1000000)
      .end_of_track()
      .track()
      .note_on(0, 0, 60, 100)
      .note_off(480, 0, 60)
      .note_on(480, 0, 64, 30)
      .note_on(0, 0, 62, 100)
      .note_off(480, 0, 64)
      .note_off(0, 0, 62)
      .note_on(240, 0, 67, 127)
      .note_off(240, 0, 67)
      .note_on(480, 0, 84, 100)
      .end_of_track()
      .track()
      .note_on(0, 1, 48, 64)
      .note_on(480, 1, 55, 31)
      .note_off(480, 1, 48)
      .note_off(0, 1, 55)
      .note_on(720, 1, 72, 80)
      .note_off(240, 1, 72)
      .end_of_track()
      .bytes();
}

const char kHeaderToVersion[] =
    "\xEF\xBB\xBF"
    "osu file format v14\n\n"
    "[General]\nAudioFilename: golden.mp3\nAudioLeadIn: 0\nPreviewTime: -1\nCountdown: 0\n"
    "SampleSet: Normal\nStackLeniency: 0\nMode: 0\nLetterboxInBreaks: 0\nWidescreenStoryboard: 0\n\n"
    "[Editor]\nDistanceSpacing: 1\nBeatDivisor: 4\nGridSize: 32\nTimelineZoom: 1\n\n"
    "[Metadata]\nTitle:golden\nTitleUnicode:golden\nArtist:Unknown\nArtistUnicode:Unknown\n"
    "Creator:MIDI Converter\n";

const char kHeaderFromSource[] =
    "Source:MIDI\nTags:midi converted\nBeatmapID:0\nBeatmapSetID:-1\n\n"
    "[Difficulty]\nHPDrainRate:5\nCircleSize:16\nOverallDifficulty:5\nApproachRate:5\n"
    "SliderMultiplier:1.4\nSliderTickRate:1\n\n"
    "[Events]\n//Background and Video events\n//Break Periods\n//Storyboard Layer 0 (Background)\n"
    "//Storyboard Layer 1 (Fail)\n//Storyboard Layer 2 (Pass)\n//Storyboard Layer 3 (Foreground)\n"
    "//Storyboard Layer 4 (Overlay)\n//Storyboard Sound Samples\n\n"
    "[TimingPoints]\n"
    "0,500.000000,3,1,0,100,1,0\n"
    "1000,1000.000000,3,1,0,100,1,0\n\n"
    "[Colours]\nCombo1 : 255,192,0\nCombo2 : 0,202,0\nCombo3 : 18,124,255\nCombo4 : 242,24,57\n"
    "Combo5 : 128,0,128\nCombo6 : 0,255,255\nCombo7 : 255,128,0\nCombo8 : 255,105,180\n\n"
    "[HitObjects]\n";

std::string beatmap(const std::string& version, const std::string& hit_objects) {
  return std::string(kHeaderToVersion) + "Version:" + version + "\n" + kHeaderFromSource + hit_objects;
}

// Written in time order; at 0 ms and at 2500 ms track 1 goes before track 2.
const char kCircleObjects[] =
    "243,50,0,5,0,0:0:0:78:piano/60.mp3\n"
    "200,68,0,5,0,0:0:0:50:piano/48.mp3\n"
    "225,68,500,1,0,0:0:0:24:piano/55.mp3\n"
    "250,50,1000,5,0,0:0:0:78:piano/62.mp3\n"
    "268,50,2500,1,0,0:0:0:100:piano/67.mp3\n"
    "286,68,2500,5,0,0:0:0:62:piano/72.mp3\n"
    "328,50,4000,5,0,0:0:0:78:piano/84.mp3\n";

const char kVerticalObjects[] =
    "243,30,0,5,0,0:0:0:78:piano/60.mp3\n"
    "200,30,0,5,0,0:0:0:50:piano/48.mp3\n"
    "225,192,500,1,0,0:0:0:24:piano/55.mp3\n"
    "250,30,1000,5,0,0:0:0:78:piano/62.mp3\n"
    "268,192,2500,1,0,0:0:0:100:piano/67.mp3\n"
    "286,192,2500,5,0,0:0:0:62:piano/72.mp3\n"
    "328,354,4000,5,0,0:0:0:78:piano/84.mp3\n";

const char kHorizontalObjects[] =
    "30,199,0,5,0,0:0:0:78:piano/60.mp3\n"
    "30,226,0,5,0,0:0:0:50:piano/48.mp3\n"
    "256,211,500,1,0,0:0:0:24:piano/55.mp3\n"
    "30,195,1000,5,0,0:0:0:78:piano/62.mp3\n"
    "256,184,2500,1,0,0:0:0:100:piano/67.mp3\n"
    "256,172,2500,5,0,0:0:0:62:piano/72.mp3\n"
    "328,354,4000,5,0,0:0:0:78:piano/84.mp3\n";

const char kPassOneLines[] =
    "MIDIファイルを解析中: golden.mid\n"
    "MIDIフォーマット: 1, トラック数: 3\n"
    "テンポ情報を収集中... (初期値: 120 BPM)\n"
    "拍子記号を検出: tick=0, 3/4拍子\n"
    "テンポ変更を検出: tick=0, tempo=500000 (0x7A120), BPM=120.00\n"
    "  計算: 60000000 / 500000 = 120.000000 BPM\n"
    "テンポ変更を検出: tick=960, tempo=1000000 (0xF4240), BPM=60.00\n"
    "  計算: 60000000 / 1000000 = 60.000000 BPM\n";

const char kGridLines[] =
    "小節情報:\n"
    "  小節1: 0ms-1000ms, BPM=120.00\n"
    "  小節2: 1000ms-4000ms, BPM=60.00\n";

class GoldenSong : public ::testing::Test {
 protected:
  void SetUp() override { test::write_file(dir_.file("golden.mid"), golden_song()); }

  test::RunResult run(const std::string& mode) { return test::run_onpu({"golden.mid", mode}, dir_.path()); }
  // The directory as the program sees it (symbolic links resolved).
  std::string where() const { return std::filesystem::canonical(dir_.path()).string(); }
  std::string osu(const std::string& name) const { return test::read_file(dir_.file(name)); }
  std::string closing() const {
    return "変換完了: 合計 7 ノート, 1 テンポ変更\n"
           "osu譜面ファイルを作成しました: " +
           where() + "/golden.osu\n";
  }

  test::TempDir dir_;
};

TEST_F(GoldenSong, CircleMode) {
  test::RunResult r = run("circle");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(osu("golden.osu"), beatmap("Circle Mode", kCircleObjects));
  EXPECT_EQ(r.out,
            "モード: ヒットサークルモード\n"
            "出力ファイル: " +
                where() + "/golden.osu\n" + kPassOneLines + "ノート情報を抽出してファイルに書き込み中...\n" +
                closing());
  EXPECT_EQ(r.err, "");
}

TEST_F(GoldenSong, SliderVerticalMode) {
  test::RunResult r = run("slider-vertical");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(osu("golden.osu"), beatmap("Vertical Slider Mode", kVerticalObjects));
  // The first five notes of the pass, track by track: all of track 1, then
  // the first of track 2.
  EXPECT_EQ(r.out,
            "モード: 縦流しモード\n"
            "出力ファイル: " +
                where() + "/golden.osu\n" + kPassOneLines + kGridLines +
                "ノート情報を抽出してファイルに書き込み中...\n"
                "sliderモード(小節内): note=60, time=0, measure=0-1000, base_y=50, final_y=30\n"
                "sliderモード(小節内): note=62, time=1000, measure=1000-4000, base_y=50, final_y=30\n"
                "sliderモード(小節内): note=67, time=2500, measure=1000-4000, base_y=50, final_y=192\n"
                "sliderモード(グローバル): time=4000, max_time=4000, progress=1.000, final_y=354\n"
                "sliderモード(小節内): note=48, time=0, measure=0-1000, base_y=68, final_y=30\n" +
                closing());
  EXPECT_EQ(r.err, "");
}

TEST_F(GoldenSong, SliderHorizontalMode) {
  test::RunResult r = run("slider-horizontal");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(osu("golden.osu"), beatmap("Horizontal Slider Mode", kHorizontalObjects));
  EXPECT_EQ(r.out,
            "モード: 横流しモード\n"
            "出力ファイル: " +
                where() + "/golden.osu\n" + kPassOneLines + kGridLines +
                "ノート情報を抽出してファイルに書き込み中...\n"
                "sliderモード(小節内): note=60, time=0, measure=0-1000, base_y=50, final_y=199\n"
                "sliderモード(小節内): note=62, time=1000, measure=1000-4000, base_y=50, final_y=195\n"
                "sliderモード(小節内): note=67, time=2500, measure=1000-4000, base_y=50, final_y=184\n"
                "sliderモード(グローバル): time=4000, max_time=4000, progress=1.000, final_y=354\n"
                "sliderモード(小節内): note=48, time=0, measure=0-1000, base_y=68, final_y=226\n" +
                closing());
  EXPECT_EQ(r.err, "");
}

TEST_F(GoldenSong, ModeBothWritesTheThreeBeatmaps) {
  test::RunResult r = run("both");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(osu("golden-circle.osu"), beatmap("Circle Mode", kCircleObjects));
  EXPECT_EQ(osu("golden-slider-vertical.osu"), beatmap("Vertical Slider Mode", kVerticalObjects));
  EXPECT_EQ(osu("golden-slider-horizontal.osu"), beatmap("Horizontal Slider Mode", kHorizontalObjects));
}

}  // namespace
}  // namespace onpu
