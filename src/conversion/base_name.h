#pragma once

#include <string>
#include <string_view>

namespace onpu {

// The song's name from a MIDI path: the part after the last backslash (or,
// only when the path has no backslash, after the last forward slash), cut at
// its last full stop. "C:\music\song.live.mid" gives "song.live", "a/b.mid"
// gives "b", "C:\a/b.mid" gives "a/b" and ".mid" gives "".
std::string get_base_name(std::string_view path);

}  // namespace onpu
