// A beatmap set in one step (--set), the folder every file goes into
// (--out), and files dropped on onpu.exe: each becomes a set beside it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "audio/osz_builder.h"
#include "audio/soundfont_locator.h"
#include "cli/command_line.h"
#include "common/console.h"
#include "support/harness.h"
#include "support/played_piece.h"
#include "support/smf_builder.h"

namespace onpu {
namespace {

using Names = std::vector<std::string>;

// Skips the test where no .osz can be made: the build has no audio, or the
// machine no SoundFont.
#define SKIP_WITHOUT_OSZ()                                                      \
  do {                                                                          \
    std::string soundfont, why;                                                 \
    if (!audio::audio_supported()) GTEST_SKIP() << "this build has no audio";   \
    if (!audio::find_default_soundfont("", &soundfont, &why)) GTEST_SKIP() << why; \
  } while (0)

// The names inside an .osz, in order.
std::string listing(const std::string& osz) {
  FILE* pipe = popen(("unzip -Z1 '" + osz + "' 2>&1").c_str(), "r");
  std::string text;
  char buffer[512];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
  if (pipe) pclose(pipe);
  return text;
}

// A short tune: it tops out below Insane, so a set leaves out the targets
// above its top.
test::Bytes tune() {
  test::Smf smf;
  smf.header(0, 1, 480).track();
  for (int i = 0; i < 48; ++i) smf.note_on(i == 0 ? 0 : 240, 0, 60 + (i * 5) % 12, 100).note_off(220, 0, 60 + (i * 5) % 12);
  return smf.end_of_track().bytes();
}

TEST(SetAndOut, SetWritesTheMapsOfEveryBandUpToTheSongsTopAndPacksThem) {
  SKIP_WITHOUT_OSZ();
  if (test::run_program("/bin/sh", {"-c", "command -v unzip"}, ".").status != 0) GTEST_SKIP() << "no unzip";
  test::TempDir dir;
  test::write_file(dir.file("tune.mid"), tune());
  test::RunResult run = test::run_onpu({"tune.mid", "--set"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("難易度 1.50★: tune-1.50stars.osu → "), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("★ (この曲の最高)\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("難易度 5.80★: この曲の最高を超えるため作成しません\n"), std::string::npos) << run.out;
  // Exactly one map says it is the song's top; the ones above it are not written.
  std::vector<std::string> maps;
  for (const std::string& name : dir.entries()) {
    if (name.find("stars.osu") != std::string::npos) maps.push_back(name);
  }
  ASSERT_GE(maps.size(), 2u);
  ASSERT_LE(maps.size(), 4u);
  EXPECT_EQ(maps.front(), "tune-1.50stars.osu");
  size_t tops = 0;
  for (size_t at = run.out.find("(この曲の最高)"); at != std::string::npos; at = run.out.find("(この曲の最高)", at + 1)) {
    ++tops;
  }
  EXPECT_EQ(tops, 1u) << run.out;
  std::string expected = "tune.osu\n";
  for (const std::string& name : maps) expected += name + "\n";
  expected += "tune.mp3\nbackground.png\n";
  const std::string inside = listing(dir.file("tune.osz"));
  EXPECT_EQ(inside.substr(0, expected.size()), expected);
  // The maps for play name the picture and, the tune being shorter than a
  // preview, preview it from its first bar line: its beats are taken from
  // the notes (3/4 after a pickup of two beats), whose first bar line the
  // timing point at 958 ms draws. The full map keeps its header.
  const std::string play = test::read_file(dir.file("tune-1.50stars.osu"));
  EXPECT_NE(play.find("PreviewTime: 958\n"), std::string::npos) << play.substr(0, 200);
  EXPECT_NE(play.find("\n958,479.000000,3,1,0,100,1,0\n"), std::string::npos);
  EXPECT_NE(play.find("Title:tune\nTitleUnicode:tune\nArtist:Unknown\n"), std::string::npos);
  EXPECT_NE(play.find("//Background and Video events\n0,0,\"background.png\",0,0\n"), std::string::npos);
  const std::string full = test::read_file(dir.file("tune.osu"));
  EXPECT_NE(full.find("PreviewTime: -1\n"), std::string::npos);
  EXPECT_NE(full.find("//Background and Video events\n//Break Periods\n"), std::string::npos);
}

TEST(SetAndOut, OutPutsEveryFileOfTheRunIntoTheFolderOrRefusesBeforeWritingAnything) {
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string err;
    Names in_folder;  // of "out", when it is there
  };
  const Case cases[] = {
      {"a folder given as it is typed", {"tune.mid", "--out", "out/"}, 0, "", {"tune.osu"}},
      {"with =", {"tune.mid", "both", "--out=out", "--stars", "2"}, 0, "",
       {"tune-2.00stars.osu", "tune-circle.osu", "tune-slider-horizontal.osu", "tune-slider-vertical.osu"}},
      {"a folder that is not there", {"tune.mid", "--out", "missing"}, 1,
       "エラー: 出力先のフォルダがありません: missing\n", {}},
      {"a file, not a folder", {"tune.mid", "--out", "tune.mid"}, 1,
       "エラー: 出力先のフォルダがありません: tune.mid\n", {}},
      {"no folder at all", {"tune.mid", "--out"}, 1, "エラー: --out には出力先のフォルダを指定してください\n", {}},
      {"an empty folder name", {"tune.mid", "--out="}, 1, "エラー: --out には出力先のフォルダを指定してください\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    test::write_file(dir.file("tune.mid"), tune());
    ASSERT_EQ(test::run_program("/bin/mkdir", {dir.file("out")}, ".").status, 0);
    test::RunResult run = test::run_onpu(c.args, dir.path());
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(dir.entries(), (Names{"out", "tune.mid"}));
    EXPECT_EQ(test::directory_entries(dir.file("out")), c.in_folder);
    if (c.status == 0) {
      // The output lines name the files by their full paths.
      EXPECT_NE(run.out.find(": " + dir.file("out") + "/tune"), std::string::npos) << run.out;
    } else {
      EXPECT_EQ(run.out, "");
    }
  }
}

TEST(Drop, OnlyFilesDroppedOnItsOwnWindowMakeADrop) {
  auto is_file = [](const std::string& path) { return path.find(".mid") != std::string::npos; };
  struct Case {
    bool own_window;
    std::vector<std::string> args;
    bool drop;
  };
  const Case cases[] = {
      {true, {"onpu.exe", "C:\\曲\\a.mid"}, true},
      {true, {"onpu.exe", "C:\\曲\\a.mid", "D:\\b.mid"}, true},
      {true, {"onpu.exe"}, false},                        // a double click: the hint, as before
      {true, {"onpu.exe", "a.mid", "both"}, false},       // a mode word is not a drop
      {true, {"onpu.exe", "a.mid", "--osz"}, false},
      {false, {"onpu.exe", "a.mid"}, false},              // from a console nothing changes
      {false, {"onpu.exe", "a.mid", "b.mid"}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(is_drop(c.own_window, c.args, is_file), c.drop) << c.args.size() << " " << c.own_window;
  }
  // A folder that takes no files sends the set to the working folder.
  auto writable = [](const std::string& folder) { return folder.find("readonly") == std::string::npos; };
  const DropDestination beside = drop_destination("/music/a.mid", "/home/me", writable);
  EXPECT_EQ(beside.folder, "/music");
  EXPECT_FALSE(beside.in_working_folder);
  const DropDestination elsewhere = drop_destination("/readonly/a.mid", "/home/me", writable);
  EXPECT_EQ(elsewhere.folder, "/home/me");
  EXPECT_TRUE(elsewhere.in_working_folder);
}

TEST(Drop, TwoFilesOneDamagedMakeOneSetBesideItsFileAndNothingInTheWorkingFolder) {
  SKIP_WITHOUT_OSZ();
  test::TempDir music, broken, working;
  test::write_file(music.file("曲.mid"), tune());
  test::write_file(broken.file("bad.mid"), test::Bytes{'M', 'T', 'h', 'd', 0, 0});
  CaptureConsole console;
  const int status = run_drop({"onpu.exe", music.file("曲.mid"), broken.file("bad.mid")}, working.path(), console);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(working.entries(), Names{});
  EXPECT_EQ(broken.entries(), Names{"bad.mid"});
  // The maps are inside the set; nothing else is left beside the file.
  EXPECT_EQ(music.entries(), (Names{"曲.mid", "曲.osz"}));
  EXPECT_NE(listing(music.file("曲.osz")).find("曲-1.50stars.osu\n"), std::string::npos);
  const std::string results = console.out_text.substr(console.out_text.rfind("\n結果:\n"));
  EXPECT_EQ(results, "\n結果:\n○ 曲.mid → " + music.file("曲.osz") + "\n× bad.mid: " + console.err_text +
                         ".osz ファイルをダブルクリックすると、譜面セットが osu! に取り込まれます\n");
  EXPECT_EQ(console.out_text.rfind("[1/2] 曲.mid\n", 0), 0u);
  EXPECT_NE(console.out_text.find("[2/2] bad.mid\n"), std::string::npos);
}

}  // namespace
}  // namespace onpu
