// The output under faults, with the real program: a read-only directory, a
// disk that fills up during the write, and two conversions racing for one
// target. The file systems are small tmpfs mounts, made where this process
// may mount (as root in CI); elsewhere these tests skip.
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "support/harness.h"
#include "support/smf_builder.h"

namespace onpu::test {
namespace {

// A tmpfs mounted on a fresh directory for the life of the object.
class SmallFileSystem {
 public:
  SmallFileSystem(const std::string& directory, const char* options, bool read_only) : directory_(directory) {
    mounted_ = mount("tmpfs", directory.c_str(), "tmpfs", read_only ? MS_RDONLY : 0, options) == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) umount2(directory_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string directory_;
  bool mounted_ = false;
};

// Enough notes that the beatmap is far larger than 64 KB.
Bytes song_of(int notes) {
  Smf smf;
  smf.header(0, 1, 480).track();
  for (int i = 0; i < notes; ++i) smf.note_on(10, i % 16, 40 + i % 60, 100);
  return smf.end_of_track().bytes();
}

const char kWriteFailed[] = "エラー: osuファイルの書き込みに失敗しました: ";
const char kCannotCreate[] = "エラー: osuファイルを作成できません: ";

TEST(OutputFaults, ReadOnlyDirectoryGetsTheCreationMessageAndNothingIsWritten) {
  TempDir dir;
  write_file(dir.file("song.mid"), song_of(10));
  const std::string out = dir.file("out");
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
  SmallFileSystem read_only(out, "size=1m", true);
  if (!read_only.mounted()) GTEST_SKIP() << "cannot mount a read-only tmpfs here (needs root)";

  RunResult run = run_onpu({"../song.mid"}, out);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, std::string(kCannotCreate) + out + "/song.osu\n");
  EXPECT_EQ(directory_entries(out), std::vector<std::string>{});
}

TEST(OutputFaults, FullDiskGetsTheWriteMessageLeavesNoFileAndKeepsTheOldBeatmap) {
  TempDir dir;
  write_file(dir.file("song.mid"), song_of(20000));
  const std::string out = dir.file("out");
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
  SmallFileSystem small(out, "size=64k", false);
  if (!small.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  write_file(out + "/song.osu", std::string("the old beatmap\n"));

  RunResult run = run_onpu({"../song.mid"}, out);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, std::string(kWriteFailed) + out + "/song.osu\n");
  EXPECT_EQ(directory_entries(out), std::vector<std::string>{"song.osu"});
  EXPECT_EQ(read_file(out + "/song.osu"), "the old beatmap\n");
}

TEST(OutputFaults, TwoConversionsIntoOneTargetBothFinishWithOneCompleteBeatmap) {
  TempDir dir;
  write_file(dir.file("song.mid"), song_of(30000));
  RunResult alone = run_onpu({"song.mid"}, dir.path());
  ASSERT_EQ(alone.status, 0) << alone.err;
  const std::string expected = read_file(dir.file("song.osu"));
  ASSERT_GT(expected.size(), 500000u);

  for (int round = 0; round < 3; ++round) {
    RunResult first;
    RunResult second;
    std::thread other([&] { second = run_onpu({"song.mid"}, dir.path()); });
    first = run_onpu({"song.mid"}, dir.path());
    other.join();
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_TRUE(read_file(dir.file("song.osu")) == expected) << "round " << round;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"song.mid", "song.osu"}));
  }
}

}  // namespace
}  // namespace onpu::test
