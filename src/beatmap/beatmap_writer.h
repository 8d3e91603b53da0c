// The .osu text before the first hit object.
#pragma once

#include <string_view>

#include "common/output_sink.h"
#include "midi/tempo_map.h"

namespace onpu {

// Writes the byte-order mark, "osu file format v14", the fixed sections, one
// uninherited timing point per tempo segment (with the meter of the time
// signature in force at the segment's tick), the combo colours and the
// "[HitObjects]" line. base_name names the audio file and the title;
// version_name is the difficulty's name. Lines end in a line feed only.
void write_beatmap_header(TextBuffer& out, std::string_view base_name, std::string_view version_name,
                          const TempoMap& tempo_map);

}  // namespace onpu
