// Output files appear whole or not at all, and a failed write is reported.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/console.h"
#include "common/file_io.h"
#include "common/output_sink.h"
#include "conversion/conversion.h"
#include "support/harness.h"
#include "support/smf_builder.h"

namespace onpu {
namespace {

using test::Bytes;
using test::read_file;
using test::Smf;
using test::TempDir;
using test::write_file;
using Names = std::vector<std::string>;

void put(AtomicOutputFile& file, const std::string& text) {
  ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file.stream()), text.size());
}

TEST(AtomicOutputFile, CommitPutsTheBytesInPlaceAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string target = dir.file("song.osu");
  AtomicOutputFile file;
  ASSERT_TRUE(file.open(target));
  ASSERT_NE(file.stream(), nullptr);
  // The temporary file lives beside the target, so the rename stays on one
  // file system.
  EXPECT_EQ(std::filesystem::path(file.temp_path()).parent_path(), std::filesystem::path(dir.path()));
  put(file, "osu file format v14\n");
  EXPECT_FALSE(test::file_exists(target));
  EXPECT_EQ(file.commit(), AtomicOutputFile::CommitResult::kOk);
  EXPECT_EQ(file.stream(), nullptr);
  EXPECT_EQ(read_file(target), "osu file format v14\n");
  EXPECT_EQ(dir.entries(), Names{"song.osu"});
}

TEST(AtomicOutputFile, ExistingTargetIsReplacedOnlyAtCommit) {
  TempDir dir;
  const std::string target = dir.file("song.osu");
  write_file(target, std::string("old\n"));
  AtomicOutputFile file;
  ASSERT_TRUE(file.open(target));
  put(file, "new\n");
  std::fflush(file.stream());
  EXPECT_EQ(read_file(target), "old\n");
  EXPECT_EQ(file.commit(), AtomicOutputFile::CommitResult::kOk);
  EXPECT_EQ(read_file(target), "new\n");
  EXPECT_EQ(dir.entries(), Names{"song.osu"});
}

TEST(AtomicOutputFile, CommittedFileGetsOrdinaryPermissions) {
  TempDir dir;
  const std::string target = dir.file("song.osu");
  AtomicOutputFile file;
  ASSERT_TRUE(file.open(target));
  ASSERT_EQ(file.commit(), AtomicOutputFile::CommitResult::kOk);
  mode_t mask = umask(0);
  umask(mask);
  struct stat info;
  ASSERT_EQ(stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST(AtomicOutputFile, AbandonRemovesTheTemporaryFileAndKeepsTheTarget) {
  TempDir dir;
  const std::string target = dir.file("song.osu");
  write_file(target, std::string("old\n"));
  AtomicOutputFile file;
  ASSERT_TRUE(file.open(target));
  put(file, "half a beatmap");
  file.abandon();
  EXPECT_EQ(file.stream(), nullptr);
  EXPECT_EQ(read_file(target), "old\n");
  EXPECT_EQ(dir.entries(), Names{"song.osu"});
}

TEST(AtomicOutputFile, DestructionWithoutCommitLeavesNothing) {
  TempDir dir;
  {
    AtomicOutputFile file;
    ASSERT_TRUE(file.open(dir.file("song.osu")));
    put(file, "half a beatmap");
    EXPECT_EQ(dir.entries().size(), 1u);
  }
  EXPECT_EQ(dir.entries(), Names{});
}

TEST(AtomicOutputFile, DirectoryTargetCannotBeOpened) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("song.osu"));
  AtomicOutputFile file;
  EXPECT_FALSE(file.open(dir.file("song.osu")));
  EXPECT_EQ(file.stream(), nullptr);
  EXPECT_EQ(dir.entries(), Names{"song.osu"});
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("song.osu")));
}

TEST(AtomicOutputFile, TargetInAMissingDirectoryCannotBeOpened) {
  TempDir dir;
  AtomicOutputFile file;
  EXPECT_FALSE(file.open(dir.file("missing/song.osu")));
  EXPECT_EQ(file.stream(), nullptr);
  EXPECT_EQ(file.temp_path(), "");
  EXPECT_EQ(dir.entries(), Names{});
}

TEST(AtomicOutputFile, FailedFlushIsAWriteFailureAndKeepsTheTarget) {
  int full = ::open("/dev/full", O_WRONLY);
  if (full < 0) GTEST_SKIP() << "no /dev/full on this system";
  TempDir dir;
  const std::string target = dir.file("song.osu");
  write_file(target, std::string("old\n"));
  AtomicOutputFile file;
  ASSERT_TRUE(file.open(target));
  // From here on the temporary file's stream writes to a full device, as if
  // the disk had filled up; the text stays in the stream's buffer until the
  // flush at commit.
  ASSERT_GE(dup2(full, fileno(file.stream())), 0);
  close(full);
  put(file, "a whole beatmap\n");
  EXPECT_EQ(file.commit(), AtomicOutputFile::CommitResult::kWriteFailed);
  EXPECT_EQ(file.stream(), nullptr);
  EXPECT_EQ(read_file(target), "old\n");
  EXPECT_EQ(dir.entries(), Names{"song.osu"});
}

TEST(FileSink, RecordsAWriteThatDoesNotReachTheStream) {
  std::FILE* full = std::fopen("/dev/full", "wb");
  if (!full) GTEST_SKIP() << "no /dev/full on this system";
  std::setvbuf(full, nullptr, _IONBF, 0);
  FileSink sink(full);
  EXPECT_TRUE(sink.ok());
  sink.write("x", 1);
  EXPECT_FALSE(sink.ok());
  std::fclose(full);
}

TEST(FileSink, StaysOkWhileEveryWriteSucceeds) {
  TempDir dir;
  std::FILE* file = std::fopen(dir.file("out").c_str(), "wb");
  ASSERT_NE(file, nullptr);
  FileSink sink(file);
  sink.write("abc", 3);
  sink.write("", 0);
  sink.write("de\n", 3);
  EXPECT_TRUE(sink.ok());
  std::fclose(file);
  EXPECT_EQ(read_file(dir.file("out")), "abcde\n");
}

TEST(FileSink, LargeOutputArrivesWholeWhileItIsSyncedOnTheWay) {
  // Large enough for the writeback steps and several syncs on the sink's
  // own thread; the blocks differ, so a lost or repeated one shows.
  TempDir dir;
  std::FILE* file = std::fopen(dir.file("out").c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::string expected;
  {
    FileSink sink(file);
    std::string block(256 * 1024 - 1, ' ');
    for (int i = 0; i < 400; ++i) {
      block.replace(0, 8, format("%08d", i));
      sink.write(block.data(), block.size());
      expected += block;
    }
    EXPECT_TRUE(sink.finish());
    EXPECT_TRUE(sink.finish());
  }
  std::fclose(file);
  const std::string written = read_file(dir.file("out"));
  EXPECT_EQ(written.size(), expected.size());
  EXPECT_TRUE(written == expected);
}

// A sink that loses every byte, as a full disk would.
class FailingSink : public OutputSink {
 public:
  void write(const char*, size_t n) override {
    if (n > 0) failed_ = true;
  }
  bool ok() const override { return !failed_; }

 private:
  bool failed_ = false;
};

class FixedTarget : public OutputTarget {
 public:
  explicit FixedTarget(OutputSink* sink) : sink_(sink) {}
  OutputSink* open() override { return sink_; }

 private:
  OutputSink* sink_;
};

Bytes one_note_song() {
  return Smf().header(0, 1, 480).track().note_on(0, 0, 60, 100).note_off(480, 0, 60).end_of_track().bytes();
}

TEST(ConversionOutput, FailedWriteEndsTheConversionWithTheWriteMessage) {
  Bytes midi = one_note_song();
  MemorySource source(midi.data(), midi.size());
  FailingSink sink;
  FixedTarget target(&sink);
  CaptureConsole console;
  ConversionResult result = run_conversion(source, "song", ConversionOptions(), target, console);
  EXPECT_EQ(result.error, ConversionError::kCannotWriteOsu);
  EXPECT_EQ(error_message(result, "in/song.mid", "/out/song.osu"),
            "エラー: osuファイルの書き込みに失敗しました: /out/song.osu\n");
  EXPECT_EQ(console.out_text.find("変換完了"), std::string::npos);
}

TEST(ConversionOutput, OutputThatCannotBeOpenedEndsTheConversionWithTheCreateMessage) {
  Bytes midi = one_note_song();
  MemorySource source(midi.data(), midi.size());
  FixedTarget target(nullptr);
  CaptureConsole console;
  ConversionResult result = run_conversion(source, "song", ConversionOptions(), target, console);
  EXPECT_EQ(result.error, ConversionError::kCannotCreateOsu);
  EXPECT_EQ(error_message(result, "in/song.mid", "/out/song.osu"),
            "エラー: osuファイルを作成できません: /out/song.osu\n");
  EXPECT_EQ(console.out_text.find("ノート情報を抽出"), std::string::npos);
}

}  // namespace
}  // namespace onpu
