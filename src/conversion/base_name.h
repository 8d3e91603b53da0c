#pragma once

#include <string>
#include <string_view>

namespace onpu {

// The song's name from a MIDI path: the part after the last backslash (or,
// only when the path has no backslash, after the last forward slash), cut at
// its last full stop. "C:\music\song.live.mid" gives "song.live", "a/b.mid"
// gives "b", "C:\a/b.mid" gives "a/b" and ".mid" gives "".
std::string get_base_name(std::string_view path);

// The song's title and artist as its file name gives them, and words to find
// it by. A name "Artist - Title" (split at the first " - ", each side trimmed
// of spaces, tabs and ideographic spaces, neither left empty) gives both;
// any other name is the title as it stands, by the artist "Unknown". The
// tags are "midi converted" and then each other word of the name once, in
// order, "-" not counted.
struct SongNames {
  std::string title;
  std::string artist;
  std::string tags;
};
SongNames song_names(std::string_view base_name);

}  // namespace onpu
