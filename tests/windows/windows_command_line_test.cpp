// onpu.exe started as its own process the way a Windows console starts it:
// one command line string that the program splits itself; and when it waits
// for a key before its window closes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "support/harness.h"
#include "support/smf_builder.h"

namespace onpu::test {
namespace {

TEST(WaitForKey, OnlyAWindowOfItsOwnWithInteractiveInputWaits) {
  EXPECT_TRUE(should_wait_for_key(1, true));    // a double click, or a file dropped on onpu.exe
  EXPECT_FALSE(should_wait_for_key(1, false));  // its own console, but input from a file or pipe
  EXPECT_FALSE(should_wait_for_key(2, true));   // started from cmd or PowerShell
  EXPECT_FALSE(should_wait_for_key(3, false));
  EXPECT_FALSE(should_wait_for_key(0, true));  // no console at all
  EXPECT_FALSE(should_wait_for_key(0, false));
}

#ifdef _WIN32

// One track, one note of velocity 100 at tick 0.
Bytes one_note_song() {
  return Smf().header(0, 1, 480).track().note_on(0, 0, 60, 100).note_off(480, 0, 60).end_of_track().bytes();
}

TEST(WindowsCommandLine, QuotedJapaneseArgumentWithSpacesStaysOneArgument) {
  TempDir dir;
  write_file(dir.file("my 曲 song.mid"), one_note_song());

  RunResult run = run_onpu({"my 曲 song.mid", "circle"}, dir.path());

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"my 曲 song.mid", "my 曲 song.osu"}));
  // Console text in a pipe: UTF-8 bytes, lines ended by the C runtime's CR LF.
  EXPECT_NE(run.out.find("出力ファイル: " + dir.path() + "\\my 曲 song.osu\r\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("MIDIファイルを解析中: my 曲 song.mid\r\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");
}

#endif  // _WIN32

}  // namespace
}  // namespace onpu::test
