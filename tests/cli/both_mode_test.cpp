// Mode both analyses the file once for its three beatmaps; what it prints and
// writes must be exactly what three separate runs print and write.
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "support/harness.h"
#include "support/smf_builder.h"

namespace onpu::test {
namespace {

// The console text of a single run after its mode line and output line.
std::string after_two_lines(const std::string& text) {
  size_t first = text.find('\n');
  return text.substr(text.find('\n', first + 1) + 1);
}

void expect_both_equals_three_runs(const Bytes& midi) {
  TempDir dir;
  write_file(dir.file("song.mid"), midi);
  RunResult both = run_onpu({"song.mid", "both"}, dir.path());
  ASSERT_EQ(both.status, 0) << both.err;
  const std::string names[3] = {"song-circle.osu", "song-slider-vertical.osu", "song-slider-horizontal.osu"};
  std::string files[3];
  for (int i = 0; i < 3; ++i) files[i] = read_file(dir.file(names[i]));

  std::string expected_out = "モード: 全モード（3つのファイル生成：circle + slider-vertical + slider-horizontal）\n";
  for (int i = 0; i < 3; ++i) expected_out += "出力ファイル" + std::to_string(i + 1) + ": " + dir.file(names[i]) + "\n";
  std::string expected_err;
  const char* modes[3] = {"circle", "slider-vertical", "slider-horizontal"};
  for (int i = 0; i < 3; ++i) {
    RunResult single = run_onpu({"song.mid", modes[i]}, dir.path());
    ASSERT_EQ(single.status, 0) << single.err;
    std::string out = after_two_lines(single.out);
    const std::string created = "osu譜面ファイルを作成しました: " + dir.file("song.osu") + "\n";
    ASSERT_EQ(out.substr(out.size() - created.size()), created);
    expected_out += out.substr(0, out.size() - created.size()) + "osu譜面ファイルを作成しました: " + dir.file(names[i]) + "\n";
    expected_err += single.err;
    EXPECT_TRUE(read_file(dir.file("song.osu")) == files[i]) << names[i];
  }
  EXPECT_EQ(both.out, expected_out);
  EXPECT_EQ(both.err, expected_err);
}

TEST(BothMode, PrintsAndWritesWhatThreeSingleRunsDo) {
  // Tempo and meter changes, a tempo of 0 (a warning), and a track cut inside
  // a meta event (a message in the first walk and in each note pass).
  expect_both_equals_three_runs(Smf()
                                    .header(1, 3, 480)
                                    .track()
                                    .tempo(0, 600000)
                                    .time_signature(0, 3, 2)
                                    .tempo(960, 0)
                                    .tempo(960, 400000)
                                    .end_of_track()
                                    .track()
                                    .note_on(0, 0, 60, 100)
                                    .note_on(480, 1, 64, 90)
                                    .note_on(960, 0, 67, 80)
                                    .end_of_track()
                                    .track()
                                    .note_on(240, 2, 72, 70)
                                    .raw({0x00, 0xFF})
                                    .bytes());
}

TEST(BothMode, ManyTempoChangesAreShownAgainForEveryBeatmap) {
  // About 6 MB of tempo lines: more than mode both keeps to show again, so
  // it reads the file anew for the later beatmaps.
  Smf smf;
  smf.header(0, 1, 96).track();
  for (int i = 0; i < 60000; ++i) smf.tempo(1, 400000 + i % 3);
  smf.note_on(0, 0, 60, 100).end_of_track();
  expect_both_equals_three_runs(smf.bytes());
}

}  // namespace
}  // namespace onpu::test
