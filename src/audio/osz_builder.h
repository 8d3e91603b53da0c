// The --osz step: after the beatmaps are written, packs them with the song
// and the piano key sounds into one .osz archive (a zip file):
//
//   <every .osu file given, under its own file name>
//   <base_name>.mp3        the MIDI file rendered with FluidSynth: stereo,
//                          44.1 kHz, 128 kbit/s CBR, normalised, ending a
//                          fixed tail after the end of the MIDI file
//   piano/<key>.mp3        for each key byte used by a hit object: program 0
//                          (piano), mono, dry, about 1.5 s, normalised
//   background.png         the song drawn as a piano roll (song_picture.h),
//                          which the maps for play name as their background
//
// The same MIDI file, SoundFont and .osu files always give the same archive,
// byte for byte. This is the only header the rest of the program needs from
// the audio module.
#pragma once

#include <string>
#include <vector>

#include "common/console.h"

namespace onpu::audio {

// The background picture's name in the archive.
inline constexpr const char kSongPictureName[] = "background.png";

struct OszRequest {
  std::string midi_path;               // UTF-8 path of the MIDI file
  std::string osz_path;                // UTF-8 path of the archive to write
  std::string base_name;               // the song entry is "<base_name>.mp3"
  std::vector<std::string> osu_paths;  // .osu files stored at the root under their own names
  std::vector<int> keys;               // distinct key bytes 0..255 used by hit objects
  std::string soundfont;               // --soundfont; "" = $ONPU_SOUNDFONT, then the usual places
};

// True when this build has FluidSynth, LAME and libzip.
bool audio_supported();
// The error line to show when audio_supported() is false.
std::string audio_unsupported_message();

// Renders, encodes and writes the archive. Prints one line per finished
// step (with the seconds it took) to console.out(), plus progress lines
// while a long song is rendered. On failure returns false, sets *error to
// one line of UTF-8 text ending in "\n" for standard error, and leaves no
// new file behind (an archive already at osz_path stays untouched).
bool build_osz(const OszRequest& request, Console& console, std::string* error);

}  // namespace onpu::audio
