#include "conversion/base_name.h"

#include <gtest/gtest.h>

namespace onpu {
namespace {

TEST(BaseName, CutsDirectoryAndLastExtension) {
  EXPECT_EQ(get_base_name("C:\\music\\song.live.mid"), "song.live");
  EXPECT_EQ(get_base_name("music/song.mid"), "song");
  EXPECT_EQ(get_base_name("song"), "song");
}

TEST(BaseName, BackslashTakesPrecedenceOverLaterSlash) { EXPECT_EQ(get_base_name("C:\\a/b.mid"), "a/b"); }

TEST(BaseName, DotFileGivesEmptyName) {
  EXPECT_EQ(get_base_name(".mid"), "");
  EXPECT_EQ(get_base_name("dir/.mid"), "");
}

TEST(BaseName, KeepsUtf8Bytes) { EXPECT_EQ(get_base_name("曲/ピアノ曲.mid"), "ピアノ曲"); }

}  // namespace
}  // namespace onpu
