// Files by UTF-8 path on Windows: Japanese names through UTF-16, and the
// temporary files behind an output that appears only when complete.
#ifdef _WIN32

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/file_io.h"
#include "support/harness.h"

namespace onpu::test {
namespace {

TEST(WindowsFileIo, JapaneseNameOpensThroughUtf16) {
  TempDir dir;
  write_file(dir.file("曲.mid"), std::string("MThd"));

  std::FILE* file = open_utf8_file(dir.path() + "\\曲.mid", "rb");

  ASSERT_NE(file, nullptr);
  char bytes[5] = {};
  EXPECT_EQ(std::fread(bytes, 1, 4, file), 4u);
  EXPECT_STREQ(bytes, "MThd");
  std::fclose(file);
}

// Outputs opened in the same instant start from the same candidate name; a
// name that is taken must be passed over, never opened a second time.
TEST(WindowsFileIo, OutputsOpenAtOnceEachGetTheirOwnTemporaryFile) {
  TempDir dir;
  const std::string target = dir.path() + "\\曲.osu";
  std::vector<std::unique_ptr<AtomicOutputFile>> outputs;
  std::set<std::string> temp_paths;
  for (int i = 0; i < 50; ++i) {
    outputs.push_back(std::make_unique<AtomicOutputFile>());
    ASSERT_TRUE(outputs.back()->open(target)) << "output " << i;
    std::fputs(std::to_string(i).c_str(), outputs.back()->stream());
    temp_paths.insert(outputs.back()->temp_path());
  }

  EXPECT_EQ(temp_paths.size(), 50u);
  EXPECT_EQ(outputs[7]->commit(), AtomicOutputFile::CommitResult::kOk);
  EXPECT_EQ(read_file(target), "7");
}

}  // namespace
}  // namespace onpu::test

#endif  // _WIN32
