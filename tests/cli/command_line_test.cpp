// End-to-end runs of the real onpu: exit status, the files it leaves in its
// current directory and the text on each console stream.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/smf_builder.h"

namespace onpu::test {
namespace {

namespace fs = std::filesystem;

const char kAnalysing[] = "MIDIファイルを解析中";
const char kInvalidMidi[] = "エラー: 無効なMIDIファイルです\n";
const char kDefaultModeLine[] = "モード: ヒットサークルモード（デフォルト）\n";
const char kBothModeLine[] = "モード: 全モード（3つのファイル生成：circle + slider-vertical + slider-horizontal）\n";

// One track, one note of velocity 100 at tick 0.
Bytes one_note_song() {
  return Smf().header(0, 1, 480).track().note_on(0, 0, 60, 100).note_off(480, 0, 60).end_of_track().bytes();
}

// A tempo track with a meter and two tempo changes, and a note track.
Bytes two_track_song() {
  return Smf()
      .header(1, 2, 480)
      .track()
      .tempo(0, 500000)
      .time_signature(0, 3, 2)
      .tempo(960, 400000)
      .tempo(960, 600000)
      .end_of_track()
      .track()
      .note_on(0, 0, 60, 100)
      .note_on(240, 1, 64, 30)  // below the velocity threshold: not a note
      .note_on(240, 0, 67, 80)
      .note_on(960, 9, 36, 127)
      .note_off(480, 9, 36)
      .end_of_track()
      .bytes();
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

int count_of(const std::string& text, const std::string& needle) {
  int count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

// The directory as the program itself sees it (getcwd resolves links).
std::string cwd_of(const std::string& directory) { return fs::canonical(directory).string(); }

std::vector<std::string> entries_of(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

using Names = std::vector<std::string>;

std::vector<std::string> usage_lines(const std::string& program) {
  return {
      "使用方法: " + program + " <midi_filename> [mode]\n",
      "  mode:\n",
      "    circle           - ヒットサークルモード（デフォルト：音程ベースの固定配置）\n",
      "    slider-vertical  - 縦流しモード（小節内で上から下に流れる配置）\n",
      "    slider-horizontal- 横流しモード（小節内で左から右に流れる配置）\n",
      "    slider           - slider-verticalの省略形\n",
      "    both             - 全モードで出力（3つのファイル生成：circle + slider-vertical + slider-horizontal）\n",
  };
}

TEST(CommandLine, NoArgumentsPrintsUsageToStandardError) {
  TempDir dir;
  RunResult run = run_onpu({}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(lines_of(run.err), usage_lines(ONPU_EXECUTABLE));
  EXPECT_EQ(dir.entries(), Names{});
}

TEST(CommandLine, ThreeArgumentsPrintUsageAndConvertNothing) {
  TempDir dir;
  write_file(dir.file("song.mid"), one_note_song());
  RunResult run = run_onpu({"song.mid", "circle", "extra"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(lines_of(run.err), usage_lines(ONPU_EXECUTABLE));
  EXPECT_EQ(dir.entries(), Names{"song.mid"});
}

TEST(CommandLine, HelpFlagsPrintUsageToStandardOutput) {
  for (const char* flag : {"-h", "--help"}) {
    SCOPED_TRACE(flag);
    TempDir dir;
    RunResult run = run_onpu({flag}, dir.path());
    EXPECT_EQ(run.status, 0);
    // The usage of a wrong command line, then every option.
    std::vector<std::string> expected = usage_lines(ONPU_EXECUTABLE);
    for (const char* line :
         {"  options:\n", "    --osz            - 譜面セット (.osz) も作成（曲の音声とピアノ音を含む）\n",
          "    --soundfont PATH - --osz で使う SoundFont ファイル\n",
          "    --stars LIST     - 星の数 (例: 4.5 や 1.8,2.5,3.5) ごとに、その難易度で遊べる譜面 (スライダー・コンボ・休憩つき) も作成\n",
          "    --set            - --osz --stars 1.5,2.3,3.3,4.6,5.8 の省略形 (Easy から Expert まで1譜面ずつの譜面セット)\n",
          "    --out DIR        - 作成するファイルをすべて DIR に置く (DIR は既存のフォルダ)\n",
          "    --version        - バージョンを表示\n",
          "    -h, --help       - この使い方を表示\n"}) {
      expected.push_back(line);
    }
    EXPECT_EQ(lines_of(run.out), expected);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(dir.entries(), Names{});
  }
}

TEST(CommandLine, VersionPrintsOneLineWithNameAndVersion) {
  TempDir dir;
  RunResult run = run_onpu({"--version"}, dir.path());
  EXPECT_EQ(run.status, 0);
  ASSERT_EQ(lines_of(run.out).size(), 1u);
  EXPECT_EQ(run.out.rfind("onpu ", 0), 0u) << run.out;
  EXPECT_EQ(run.out.back(), '\n');
  EXPECT_NE(run.out.find_first_of("0123456789"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(dir.entries(), Names{});
}

TEST(CommandLine, ModeWordsAreCaseSensitiveAndExact) {
  for (const char* word : {"Circle", "SLIDER", "both ", "vertical", ""}) {
    SCOPED_TRACE(word);
    TempDir dir;
    write_file(dir.file("song.mid"), one_note_song());
    RunResult run = run_onpu({"song.mid", word}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string("エラー: 無効なモード '") + word + "'\n");
    EXPECT_EQ(dir.entries(), Names{"song.mid"});
  }
}

struct ModeCase {
  const char* word;  // "" for no mode word
  const char* mode_line;
  const char* version;
};

class SingleMode : public testing::TestWithParam<ModeCase> {};

TEST_P(SingleMode, WritesOneFileNamedAfterTheMidiFileWithTheModesVersion) {
  const ModeCase& mode = GetParam();
  TempDir dir;
  write_file(dir.file("song.mid"), one_note_song());
  std::vector<std::string> args = {"song.mid"};
  if (*mode.word) args.push_back(mode.word);
  RunResult run = run_onpu(args, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::string osu_path = cwd_of(dir.path()) + "/song.osu";
  std::vector<std::string> out = lines_of(run.out);
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out[0], mode.mode_line);
  EXPECT_EQ(out[1], "出力ファイル: " + osu_path + "\n");
  EXPECT_EQ(out[2], "MIDIファイルを解析中: song.mid\n");
  EXPECT_EQ(out.back(), "osu譜面ファイルを作成しました: " + osu_path + "\n");
  EXPECT_EQ(dir.entries(), (Names{"song.mid", "song.osu"}));
  std::string osu = read_file(osu_path);
  EXPECT_EQ(osu.rfind("\xEF\xBB\xBFosu file format v14\n", 0), 0u);
  EXPECT_NE(osu.find(std::string("\nVersion:") + mode.version + "\n"), std::string::npos) << osu;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SingleMode,
    testing::Values(ModeCase{"", kDefaultModeLine, "Circle Mode"},
                    ModeCase{"circle", "モード: ヒットサークルモード\n", "Circle Mode"},
                    ModeCase{"slider", "モード: 縦流しモード\n", "Vertical Slider Mode"},
                    ModeCase{"slider-vertical", "モード: 縦流しモード\n", "Vertical Slider Mode"},
                    ModeCase{"slider-horizontal", "モード: 横流しモード\n", "Horizontal Slider Mode"}),
    [](const testing::TestParamInfo<ModeCase>& info) {
      std::string name = *info.param.word ? info.param.word : "default";
      for (char& c : name) c = c == '-' ? '_' : c;
      return name;
    });

TEST(CommandLine, DefaultModeConsoleTextFromStartToSummary) {
  TempDir dir;
  write_file(dir.file("song.mid"), one_note_song());
  RunResult run = run_onpu({"song.mid"}, dir.path());
  const std::string osu_path = cwd_of(dir.path()) + "/song.osu";
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(kDefaultModeLine) +
                         "出力ファイル: " + osu_path + "\n"
                         "MIDIファイルを解析中: song.mid\n"
                         "MIDIフォーマット: 0, トラック数: 1\n"
                         "テンポ情報を収集中... (初期値: 120 BPM)\n"
                         "ノート情報を抽出してファイルに書き込み中...\n"
                         "変換完了: 合計 1 ノート, 0 テンポ変更\n"
                         "osu譜面ファイルを作成しました: " + osu_path + "\n");
  EXPECT_EQ(run.err, "");
}

TEST(CommandLine, SummaryCountsQualifyingNotesAndTempoChangesAfterTickZero) {
  TempDir dir;
  write_file(dir.file("song.mid"), two_track_song());
  RunResult run = run_onpu({"song.mid", "circle"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> out = lines_of(run.out);
  ASSERT_GE(out.size(), 2u);
  // Three notes of velocity 31 or more; the tempo at tick 0 replaces the
  // initial one and is no change.
  EXPECT_EQ(out[out.size() - 2], "変換完了: 合計 3 ノート, 2 テンポ変更\n");
  EXPECT_EQ(out.back(), "osu譜面ファイルを作成しました: " + cwd_of(dir.path()) + "/song.osu\n");
}

TEST(CommandLine, SliderAndSliderVerticalAreTheSameMode) {
  TempDir dir;
  write_file(dir.file("song.mid"), two_track_song());
  RunResult slider = run_onpu({"song.mid", "slider"}, dir.path());
  std::string slider_osu = read_file(dir.file("song.osu"));
  RunResult vertical = run_onpu({"song.mid", "slider-vertical"}, dir.path());
  ASSERT_EQ(slider.status, 0);
  ASSERT_EQ(vertical.status, 0);
  EXPECT_EQ(slider.out, vertical.out);
  EXPECT_EQ(slider_osu, read_file(dir.file("song.osu")));
}

TEST(CommandLine, SameConversionTwiceGivesIdenticalBytes) {
  TempDir first;
  TempDir second;
  write_file(first.file("song.mid"), two_track_song());
  write_file(second.file("song.mid"), two_track_song());
  RunResult a = run_onpu({"song.mid", "slider-horizontal"}, first.path());
  RunResult b = run_onpu({"song.mid", "slider-horizontal"}, second.path());
  RunResult again = run_onpu({"song.mid", "slider-horizontal"}, second.path());
  ASSERT_EQ(a.status, 0);
  ASSERT_EQ(again.status, 0);
  const std::string osu = read_file(first.file("song.osu"));
  EXPECT_FALSE(osu.empty());
  EXPECT_EQ(osu, read_file(second.file("song.osu")));
  EXPECT_EQ(b.out, again.out);
  EXPECT_EQ(second.entries(), (Names{"song.mid", "song.osu"}));
}

TEST(CommandLine, BothWritesThreeFilesIntoTheCurrentDirectory) {
  TempDir dir;
  fs::create_directories(dir.file("path/to"));
  write_file(dir.file("path/to/song.live.mid"), one_note_song());
  RunResult run = run_onpu({"path/to/song.live.mid", "both"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::string cwd = cwd_of(dir.path());
  const std::string names[3] = {"song.live-circle.osu", "song.live-slider-vertical.osu",
                                "song.live-slider-horizontal.osu"};
  std::vector<std::string> out = lines_of(run.out);
  ASSERT_GE(out.size(), 5u);
  EXPECT_EQ(out[0], kBothModeLine);
  EXPECT_EQ(out[1], "出力ファイル1: " + cwd + "/" + names[0] + "\n");
  EXPECT_EQ(out[2], "出力ファイル2: " + cwd + "/" + names[1] + "\n");
  EXPECT_EQ(out[3], "出力ファイル3: " + cwd + "/" + names[2] + "\n");
  EXPECT_EQ(out[4], "MIDIファイルを解析中: path/to/song.live.mid\n");
  EXPECT_EQ(count_of(run.out, kAnalysing), 3);
  // The three conversions run in this order.
  size_t circle = run.out.find("osu譜面ファイルを作成しました: " + cwd + "/" + names[0] + "\n");
  size_t vertical = run.out.find("osu譜面ファイルを作成しました: " + cwd + "/" + names[1] + "\n");
  size_t horizontal = run.out.find("osu譜面ファイルを作成しました: " + cwd + "/" + names[2] + "\n");
  EXPECT_LT(circle, vertical);
  EXPECT_LT(vertical, horizontal);
  EXPECT_NE(horizontal, std::string::npos);

  EXPECT_EQ(dir.entries(), (Names{"path", names[0], names[2], names[1]}));
  EXPECT_EQ(entries_of(dir.file("path/to")), Names{"song.live.mid"});
  const char* versions[3] = {"Circle Mode", "Vertical Slider Mode", "Horizontal Slider Mode"};
  for (int i = 0; i < 3; ++i) {
    std::string osu = read_file(dir.file(names[i]));
    EXPECT_NE(osu.find(std::string("\nVersion:") + versions[i] + "\n"), std::string::npos) << names[i];
    EXPECT_NE(osu.find("\nTitle:song.live\n"), std::string::npos) << names[i];
  }
}

TEST(CommandLine, MissingMidiFileFailsBeforeAnalysis) {
  TempDir dir;
  RunResult run = run_onpu({"missing.mid"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, std::string(kDefaultModeLine) + "出力ファイル: " + cwd_of(dir.path()) + "/missing.osu\n");
  EXPECT_EQ(run.err, "エラー: MIDIファイルを開けません: missing.mid\n");
  EXPECT_EQ(dir.entries(), Names{});
}

TEST(CommandLine, MissingMidiFileInBothEndsAtTheFirstConversion) {
  TempDir dir;
  RunResult run = run_onpu({"missing.mid", "both"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(lines_of(run.out).size(), 4u) << run.out;
  EXPECT_EQ(run.err, "エラー: MIDIファイルを開けません: missing.mid\n");
  EXPECT_EQ(dir.entries(), Names{});
}

TEST(CommandLine, FileWithoutMThdIsInvalid) {
  TempDir dir;
  write_file(dir.file("song.mid"), std::string("RIFF\0\0\0\x06\0\0\0\x01\x01\xE0", 14));
  RunResult run = run_onpu({"song.mid"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, std::string(kDefaultModeLine) + "出力ファイル: " + cwd_of(dir.path()) +
                         "/song.osu\n"
                         "MIDIファイルを解析中: song.mid\n");
  EXPECT_EQ(run.err, kInvalidMidi);
  EXPECT_EQ(dir.entries(), Names{"song.mid"});
}

TEST(CommandLine, InvalidFileInBothRunsNoConversionAfterTheFirst) {
  TempDir dir;
  write_file(dir.file("song.mid"), with_byte(one_note_song(), 0, 'm'));
  RunResult run = run_onpu({"song.mid", "both"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(count_of(run.out, kAnalysing), 1);
  EXPECT_EQ(lines_of(run.out).back(), "MIDIファイルを解析中: song.mid\n");
  EXPECT_EQ(run.err, kInvalidMidi);
  EXPECT_EQ(dir.entries(), Names{"song.mid"});
}

TEST(CommandLine, HeaderCutShortIsInvalid) {
  // Cut inside the tag, after the length, inside format, inside division.
  for (size_t size : {0, 3, 8, 9, 13}) {
    SCOPED_TRACE(size);
    TempDir dir;
    write_file(dir.file("song.mid"), truncated(Smf().header(0, 0, 480).bytes(), size));
    RunResult run = run_onpu({"song.mid"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, kInvalidMidi);
    EXPECT_EQ(count_of(run.out, "MIDIフォーマット"), 0);
    EXPECT_EQ(dir.entries(), Names{"song.mid"});
  }
}

TEST(CommandLine, FailedConversionLeavesExistingOsuUntouched) {
  TempDir dir;
  const std::string old_beatmap = "\xEF\xBB\xBFosu file format v14\n\n[General]\nAudioFilename: old.mp3\n";
  write_file(dir.file("song.osu"), old_beatmap);
  write_file(dir.file("song.mid"), truncated(one_note_song(), 12));
  RunResult run = run_onpu({"song.mid"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, kInvalidMidi);
  EXPECT_EQ(read_file(dir.file("song.osu")), old_beatmap);
  EXPECT_EQ(dir.entries(), (Names{"song.mid", "song.osu"}));
}

TEST(CommandLine, TargetThatIsADirectoryCannotBeCreated) {
  TempDir dir;
  write_file(dir.file("song.mid"), one_note_song());
  fs::create_directory(dir.file("song.osu"));
  write_file(dir.file("song.osu/keep.txt"), std::string("keep\n"));
  RunResult run = run_onpu({"song.mid"}, dir.path());
  const std::string osu_path = cwd_of(dir.path()) + "/song.osu";
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "エラー: osuファイルを作成できません: " + osu_path + "\n");
  EXPECT_EQ(count_of(run.out, "変換完了"), 0);
  EXPECT_EQ(dir.entries(), (Names{"song.mid", "song.osu"}));
  EXPECT_EQ(entries_of(dir.file("song.osu")), Names{"keep.txt"});
  EXPECT_EQ(read_file(dir.file("song.osu/keep.txt")), "keep\n");
}

TEST(CommandLine, BothStopsAtTheFirstFailingConversion) {
  TempDir dir;
  write_file(dir.file("song.mid"), one_note_song());
  fs::create_directory(dir.file("song-slider-vertical.osu"));
  RunResult run = run_onpu({"song.mid", "both"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "エラー: osuファイルを作成できません: " + cwd_of(dir.path()) + "/song-slider-vertical.osu\n");
  EXPECT_EQ(count_of(run.out, kAnalysing), 2);
  EXPECT_EQ(count_of(run.out, "osu譜面ファイルを作成しました"), 1);
  EXPECT_EQ(dir.entries(), (Names{"song-circle.osu", "song-slider-vertical.osu", "song.mid"}));
  EXPECT_EQ(entries_of(dir.file("song-slider-vertical.osu")), Names{});
}

TEST(CommandLine, ReadOnlyDirectoryCannotTakeTheOutput) {
  TempDir dir;
  write_file(dir.file("song.mid"), one_note_song());
  fs::create_directory(dir.file("locked"));
  chmod(dir.file("locked").c_str(), 0555);
  if (access(dir.file("locked").c_str(), W_OK) == 0) {
    GTEST_SKIP() << "this user may write into a read-only directory (root)";
  }
  RunResult run = run_onpu({"../song.mid"}, dir.file("locked"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "エラー: osuファイルを作成できません: " + cwd_of(dir.file("locked")) + "/song.osu\n");
  EXPECT_EQ(entries_of(dir.file("locked")), Names{});
}

TEST(CommandLine, JapaneseNamesKeepTheirUtf8Bytes) {
  TempDir dir;
  const std::string folder = dir.file("\xE3\x83\x95\xE3\x82\xA9\xE3\x83\xAB\xE3\x83\x80");  // フォルダ
  fs::create_directory(folder);
  write_file(folder + "/\xE6\x9B\xB2.mid", one_note_song());  // 曲.mid
  RunResult run = run_onpu({"\xE6\x9B\xB2.mid"}, folder);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string osu_path = cwd_of(folder) + "/\xE6\x9B\xB2.osu";
  EXPECT_EQ(lines_of(run.out)[1], "出力ファイル: " + osu_path + "\n");
  EXPECT_EQ(lines_of(run.out)[2], "MIDIファイルを解析中: \xE6\x9B\xB2.mid\n");
  EXPECT_EQ(entries_of(folder), (Names{"\xE6\x9B\xB2.mid", "\xE6\x9B\xB2.osu"}));
  std::string osu = read_file(osu_path);
  EXPECT_NE(osu.find("\nTitle:\xE6\x9B\xB2\nTitleUnicode:\xE6\x9B\xB2\n"), std::string::npos) << osu;
  EXPECT_NE(osu.find("\nAudioFilename: \xE6\x9B\xB2.mp3\n"), std::string::npos);
}

TEST(CommandLine, LongPathsAreNotCutShort) {
  TempDir dir;
  std::string deep = dir.path();
  for (char c : {'a', 'b', 'c', 'd', 'e'}) deep += "/" + std::string(60, c);
  fs::create_directories(deep);
  ASSERT_GT(cwd_of(deep).size(), 300u);
  const std::string name = std::string(120, 's') + ".mid";
  write_file(deep + "/" + name, one_note_song());
  RunResult run = run_onpu({name, "both"}, deep);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string horizontal = cwd_of(deep) + "/" + std::string(120, 's') + "-slider-horizontal.osu";
  EXPECT_EQ(lines_of(run.out)[3], "出力ファイル3: " + horizontal + "\n");
  EXPECT_EQ(lines_of(run.out).back(), "osu譜面ファイルを作成しました: " + horizontal + "\n");
  EXPECT_TRUE(file_exists(horizontal));
  EXPECT_EQ(entries_of(deep).size(), 4u);
}

}  // namespace
}  // namespace onpu::test
