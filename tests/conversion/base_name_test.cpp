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

// The title and artist a set shows, from the file name.
TEST(SongNames, ArtistAndTitleSplitAtTheFirstSpacedDashOtherwiseTheNameIsTheTitle) {
  struct Case {
    const char* base_name;
    const char* artist;
    const char* title;
    const char* tags;
  };
  const Case cases[] = {
      {"Hikari Sora - 夜明けの歌", "Hikari Sora", "夜明けの歌", "midi converted Hikari Sora 夜明けの歌"},
      {"song", "Unknown", "song", "midi converted song"},
      {"  Artist   -   Title  ", "Artist", "Title", "midi converted Artist Title"},
      {"光　-　歌", "Unknown", "光　-　歌", "midi converted 光 歌"},  // ideographic spaces do not split
      {"光 - 歌　", "光", "歌", "midi converted 光 歌"},              // but are trimmed
      {"A - B - C", "A", "B - C", "midi converted A B C"},
      {"Rock-n-Roll", "Unknown", "Rock-n-Roll", "midi converted Rock-n-Roll"},
      {" - Title", "Unknown", " - Title", "midi converted Title"},  // no artist: no split
      {"Artist - ", "Unknown", "Artist - ", "midi converted Artist"},
      {"Midi Song - song", "Midi Song", "song", "midi converted Midi Song song"},
      {"", "Unknown", "", "midi converted"},
  };
  for (const Case& c : cases) {
    const SongNames names = song_names(c.base_name);
    EXPECT_EQ(names.artist, c.artist) << c.base_name;
    EXPECT_EQ(names.title, c.title) << c.base_name;
    EXPECT_EQ(names.tags, c.tags) << c.base_name;
  }
}

}  // namespace
}  // namespace onpu
