// Chooses the General MIDI SoundFont the synthesizer loads:
//   1. the path given with --soundfont, when there is one;
//   2. otherwise the ONPU_SOUNDFONT environment variable, when it is set;
//   3. otherwise the first existing file among the usual install places
//      (Debian's fluid-soundfont-gm first).
// A path chosen in step 1 or 2 must exist: a wrong explicit choice is an
// error, never a silent fall-back to another SoundFont.
#pragma once

#include <string>
#include <vector>

namespace onpu::audio {

// The places looked at in step 3, in order.
const std::vector<std::string>& default_soundfont_paths();

// Runs the three steps. `requested` is the --soundfont value ("" = none),
// `environment` the value of ONPU_SOUNDFONT (nullptr or "" = unset).
// On failure returns false and sets *error to one line naming everything
// that was looked for.
bool find_soundfont(const std::string& requested, const char* environment,
                    const std::vector<std::string>& candidates, std::string* path,
                    std::string* error);

// find_soundfont with the real environment and default_soundfont_paths().
bool find_default_soundfont(const std::string& requested, std::string* path, std::string* error);

}  // namespace onpu::audio
