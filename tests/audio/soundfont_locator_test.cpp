#include "audio/soundfont_locator.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "audio_test_support.h"
#include "common/file_io.h"

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

TEST_F(SoundfontLocator, TheDefaultPlacesPutOnpusOwnFirstAndKnowOtherDistributions) {
  const std::vector<std::string>& places = default_soundfont_paths();
  auto at = [&](const std::string& place) { return std::find(places.begin(), places.end(), place) - places.begin(); };
  const std::string beside = executable_directory() + kPathSeparator + "soundfonts" + kPathSeparator;
  struct Case {
    std::string place;
    bool on_windows;
  };
  const Case in_order[] = {
      {beside + "FluidR3_GM.sf2", true},
      {beside + "FluidR3Mono_GM.sf3", true},  // what the packages bring
      {executable_directory().substr(0, executable_directory().rfind('/')) +
           "/share/onpu/soundfonts/FluidR3Mono_GM.sf3",
       false},
      {"/usr/share/sounds/sf2/FluidR3_GM.sf2", false},  // Debian's, before the others
      {"/usr/share/soundfonts/FluidR3_GM.sf2", false},  // Fedora's and Arch's
      {"/usr/share/soundfonts/default.sf2", false},
      {"/usr/share/sounds/sf3/MuseScore_General_Lite.sf3", false},
  };
  std::ptrdiff_t previous = -1;
  for (const Case& c : in_order) {
#ifdef _WIN32
    if (!c.on_windows) continue;
#endif
    const std::ptrdiff_t index = at(c.place);
    ASSERT_LT(index, static_cast<std::ptrdiff_t>(places.size())) << c.place << " is not looked at";
    EXPECT_GT(index, previous) << c.place;
    previous = index;
  }
}

}  // namespace
}  // namespace onpu::audio
