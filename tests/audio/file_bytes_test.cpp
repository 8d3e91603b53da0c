#include "audio/file_bytes.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "audio_test_support.h"

namespace onpu::audio {
namespace {

TEST(FileBytes, AtomicWriteReplacesTheTargetAndLeavesNoTemporaryFile) {
  testing::ScratchDir dir;
  dir.write("song.osz", {'o', 'l', 'd'});
  std::string error;
  std::vector<uint8_t> content(100000, 7);
  ASSERT_TRUE(write_file_atomically(dir.file("song.osz"), content, &error)) << error;
  EXPECT_EQ(testing::read_bytes(dir.file("song.osz")), content);
  EXPECT_EQ(dir.names(), std::vector<std::string>{"song.osz"});

  ASSERT_TRUE(write_file_atomically(dir.file("empty.osz"), {}, &error)) << error;
  EXPECT_TRUE(testing::read_bytes(dir.file("empty.osz")).empty());
}

TEST(FileBytes, FailedWriteLeavesNothingAndKeepsWhatWasThere) {
  testing::ScratchDir dir;
  std::string error;
  EXPECT_FALSE(write_file_atomically(dir.file("no/such/folder/x.osz"), {1, 2, 3}, &error));
  EXPECT_EQ(error.back(), '\n');
  EXPECT_TRUE(dir.names().empty());

  // The target is a folder: the rename fails, the temporary file goes away.
  dir.write("keep.txt", {'k'});
  std::filesystem::create_directory(std::filesystem::u8path(dir.file("taken.osz")));
  std::filesystem::create_directory(std::filesystem::u8path(dir.file("taken.osz/inside")));
  EXPECT_FALSE(write_file_atomically(dir.file("taken.osz"), {1, 2, 3}, &error));
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"keep.txt", "taken.osz"}));
}

}  // namespace
}  // namespace onpu::audio
