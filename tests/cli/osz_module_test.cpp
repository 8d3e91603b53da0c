// The executable and its audio module: a conversion needs only the
// executable, and --osz without the module says why it cannot go on.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/smf_builder.h"

namespace onpu {
namespace {

using Names = std::vector<std::string>;

TEST(OszModule, ExecutableAloneConvertsAndReportsTheMissingModuleForOsz) {
  const std::filesystem::path built(ONPU_EXECUTABLE);
  if (!std::filesystem::exists(built.parent_path() / "onpu_osz.so")) {
    GTEST_SKIP() << "this build has no audio module beside the executable";
  }
  test::TempDir dir;
  const std::string lone = dir.file("onpu");
  std::filesystem::copy_file(built, lone);
  ASSERT_EQ(chmod(lone.c_str(), 0755), 0);
  test::write_file(dir.file("song.mid"),
                   test::Smf().header(0, 1, 480).track().note_on(0, 0, 60, 100).end_of_track(480).bytes());

  test::RunResult plain = test::run_program(lone, {"song.mid"}, dir.path());
  EXPECT_EQ(plain.status, 0) << plain.err;
  EXPECT_TRUE(test::file_exists(dir.file("song.osu")));

  test::RunResult osz = test::run_program(lone, {"song.mid", "--osz", "slider-vertical"}, dir.path());
  EXPECT_EQ(osz.status, 1);
  EXPECT_EQ(osz.err.rfind("エラー: --osz の音声モジュールを読み込めません: ", 0), 0u) << osz.err;
  EXPECT_NE(osz.err.find("onpu_osz.so"), std::string::npos) << osz.err;
  EXPECT_EQ(osz.out, "");
  EXPECT_EQ(test::directory_entries(dir.path()), (Names{"onpu", "song.mid", "song.osu"}));
}

}  // namespace
}  // namespace onpu
