#include "beatmap/hit_object_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/harness.h"

namespace onpu {
namespace {

HitObject object_at(int32_t time, int channel, uint8_t note = 60, uint8_t velocity = 100) {
  HitObject object;
  object.x = 243;
  object.y = 50;
  object.time = time;
  object.channel = channel;
  object.note = note;
  object.velocity = velocity;
  return object;
}

// Writes the objects and returns the text; the console lines go to console.
std::string write_all(const std::vector<HitObject>& objects, CaptureConsole& console) {
  StringSink sink;
  {
    TextBuffer out(sink);
    HitObjectWriter writer(out, console);
    for (const HitObject& object : objects) writer.add_hit_object(object);
    out.flush();
  }
  return sink.text;
}

std::string write_all(const std::vector<HitObject>& objects) {
  CaptureConsole console;
  return write_all(objects, console);
}

TEST(HitObjectWriter, LineCarriesPositionTimeTypeVolumeAndSampleName) {
  EXPECT_EQ(write_all({object_at(1500, 0, 60, 100)}), "243,50,1500,5,0,0:0:0:78:piano/60.mp3\n");
}

TEST(HitObjectWriter, NewComboStartsWheneverTheChannelChanges) {
  EXPECT_EQ(write_all({object_at(0, 0), object_at(10, 0), object_at(20, 1), object_at(30, 1), object_at(40, 0)}),
            "243,50,0,5,0,0:0:0:78:piano/60.mp3\n"
            "243,50,10,1,0,0:0:0:78:piano/60.mp3\n"
            "243,50,20,5,0,0:0:0:78:piano/60.mp3\n"
            "243,50,30,1,0,0:0:0:78:piano/60.mp3\n"
            "243,50,40,5,0,0:0:0:78:piano/60.mp3\n");
}

TEST(HitObjectWriter, VolumeIsVelocityOver127TimesHundredTruncated) {
  EXPECT_EQ(
      write_all({object_at(0, 0, 1, 127), object_at(0, 0, 2, 64), object_at(0, 0, 3, 31), object_at(0, 0, 4, 255)}),
      "243,50,0,5,0,0:0:0:100:piano/1.mp3\n"
      "243,50,0,1,0,0:0:0:50:piano/2.mp3\n"
      "243,50,0,1,0,0:0:0:24:piano/3.mp3\n"
      "243,50,0,1,0,0:0:0:200:piano/4.mp3\n");
}

TEST(HitObjectWriter, SampleNameKeepsAKeyByteAbove127) {
  HitObject object = object_at(0, 0, 200, 100);
  object.x = 482;
  EXPECT_EQ(write_all({object}), "482,50,0,5,0,0:0:0:78:piano/200.mp3\n");
}

int progress_lines_after(int notes, std::string* console_text) {
  std::vector<HitObject> objects(static_cast<size_t>(notes), object_at(0, 0));
  CaptureConsole console;
  std::string text = write_all(objects, console);
  *console_text = console.out_text;
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

TEST(HitObjectWriter, ProgressIsReportedAtEachMultipleOfTenThousand) {
  std::string console;
  EXPECT_EQ(progress_lines_after(9999, &console), 9999);
  EXPECT_EQ(console, "");
  EXPECT_EQ(progress_lines_after(10000, &console), 10000);
  EXPECT_EQ(console, "変換済ノート数: 10000\n");
  EXPECT_EQ(progress_lines_after(25000, &console), 25000);
  EXPECT_EQ(console, "変換済ノート数: 10000\n変換済ノート数: 20000\n");
}

TEST(HitObjectWriter, ProgressLineComesDuringTheNotePassOfAConversion) {
  test::Smf smf;
  smf.header(0, 1, 480).track();
  for (int i = 0; i < 10000; ++i) smf.note_on(i == 0 ? 0 : 1, i % 2, 60, 100);
  test::Converted c = test::convert_bytes(smf.end_of_track().bytes(), test::Mode::kCircle);
  EXPECT_EQ(c.result.note_count, 10000);
  const std::string extracting = "ノート情報を抽出してファイルに書き込み中...\n";
  const std::string tail = c.out.substr(c.out.find(extracting));
  EXPECT_EQ(tail, extracting + "変換済ノート数: 10000\n");
}

TEST(HitObjectWriter, SongWithoutNotesEndsAtTheSectionLineAndCountsNone) {
  test::TempDir dir;
  test::write_file(dir.file("quiet.mid"),
                   test::Smf().header(1, 1, 480).track().note_on(0, 0, 60, 30).end_of_track(960).bytes());
  CaptureConsole console;
  ConversionResult result = convert_midi_to_osu(dir.file("quiet.mid"), dir.file("quiet.osu"),
                                                test::options_for(test::Mode::kVertical), console);
  EXPECT_EQ(result.error, ConversionError::kNone);
  EXPECT_EQ(result.note_count, 0);
  const std::string osu = test::read_file(dir.file("quiet.osu"));
  ASSERT_GE(osu.size(), 13u);
  EXPECT_EQ(osu.substr(osu.size() - 14), "\n[HitObjects]\n");
  const std::string summary =
      "変換完了: 合計 0 ノート, 0 テンポ変更\nosu譜面ファイルを作成しました: " + dir.file("quiet.osu") + "\n";
  ASSERT_GE(console.out_text.size(), summary.size());
  EXPECT_EQ(console.out_text.substr(console.out_text.size() - summary.size()), summary);
  EXPECT_EQ(console.out_text.find("変換済ノート数"), std::string::npos);
  EXPECT_EQ(console.out_text.find("sliderモード"), std::string::npos);
}

}  // namespace
}  // namespace onpu
