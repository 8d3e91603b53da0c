#include "audio/soundfont_locator.h"

#include <gtest/gtest.h>

#include "audio_test_support.h"

namespace onpu::audio {
namespace {

class SoundfontLocator : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.write("given.sf2", {1});
    dir.write("env.sf2", {2});
    dir.write("second.sf2", {3});
    dir.write("third.sf2", {4});
  }
  testing::ScratchDir dir;
  std::string path;
  std::string error;
};

TEST_F(SoundfontLocator, TakesTheOptionFirstThenTheEnvironmentThenTheFirstExistingCandidate) {
  std::vector<std::string> candidates = {dir.file("absent.sf2"), dir.file("second.sf2"), dir.file("third.sf2")};
  std::string env = dir.file("env.sf2");
  ASSERT_TRUE(find_soundfont(dir.file("given.sf2"), env.c_str(), candidates, &path, &error));
  EXPECT_EQ(path, dir.file("given.sf2"));
  ASSERT_TRUE(find_soundfont("", env.c_str(), candidates, &path, &error));
  EXPECT_EQ(path, env);
  ASSERT_TRUE(find_soundfont("", "", candidates, &path, &error));  // set but empty counts as unset
  EXPECT_EQ(path, dir.file("second.sf2"));
  ASSERT_TRUE(find_soundfont("", nullptr, candidates, &path, &error));
  EXPECT_EQ(path, dir.file("second.sf2"));
}

TEST_F(SoundfontLocator, AWrongExplicitChoiceIsAnErrorNotAFallBack) {
  std::vector<std::string> candidates = {dir.file("second.sf2")};
  std::string env = dir.file("env.sf2");
  EXPECT_FALSE(find_soundfont(dir.file("typo.sf2"), env.c_str(), candidates, &path, &error));
  EXPECT_NE(error.find("--soundfont"), std::string::npos);
  EXPECT_NE(error.find(dir.file("typo.sf2")), std::string::npos);
  EXPECT_TRUE(path.empty());

  std::string missing_env = dir.file("moved.sf2");
  EXPECT_FALSE(find_soundfont("", missing_env.c_str(), candidates, &path, &error));
  EXPECT_NE(error.find("ONPU_SOUNDFONT"), std::string::npos);
  EXPECT_NE(error.find(missing_env), std::string::npos);

  // A folder is not a SoundFont.
  EXPECT_FALSE(find_soundfont(dir.path(), nullptr, candidates, &path, &error));
}

TEST_F(SoundfontLocator, NothingFoundNamesEveryPlaceLookedAtOnOneLine) {
  std::vector<std::string> candidates = {dir.file("a.sf2"), dir.file("b.sf2")};
  EXPECT_FALSE(find_soundfont("", nullptr, candidates, &path, &error));
  EXPECT_NE(error.find(dir.file("a.sf2")), std::string::npos);
  EXPECT_NE(error.find(dir.file("b.sf2")), std::string::npos);
  EXPECT_NE(error.find("ONPU_SOUNDFONT"), std::string::npos);
  EXPECT_EQ(error.find('\n'), error.size() - 1);
}

}  // namespace
}  // namespace onpu::audio
