#include "audio/soundfont_locator.h"

#include <cstdlib>

#include "audio/file_bytes.h"
#include "common/file_io.h"

namespace onpu::audio {
namespace {

#ifdef _WIN32
constexpr const char kNoSoundfontHint[] = "onpu.exe の横の soundfonts フォルダに置くか --soundfont で指定してください";
#else
constexpr const char kNoSoundfontHint[] = "fluid-soundfont-gm を入れるか --soundfont で指定してください";

// Where Linux distributions install General MIDI SoundFonts.
constexpr const char* kSystemSoundfonts[] = {
    "/usr/share/sounds/sf2/FluidR3_GM.sf2",  // fluid-soundfont-gm
    "/usr/share/soundfonts/FluidR3_GM.sf2",  // other distributions
    "/usr/share/sounds/sf2/default-GM.sf2",  // Debian's alternative link
    "/usr/share/soundfonts/default.sf2",
    "/usr/share/sounds/sf3/default-GM.sf3",
    "/usr/share/sounds/sf2/TimGM6mb.sf2",  // timgm6mb-soundfont
    "/usr/share/sounds/sf3/MuseScore_General.sf3",
    "/usr/share/sounds/sf3/MuseScore_General_Lite.sf3",  // musescore-general-soundfont-small
    "/usr/share/sounds/sf3/FluidR3Mono_GM.sf3",          // fluidr3mono-gm-soundfont
    "/usr/local/share/soundfonts/default.sf2",
};
#endif

}  // namespace

const std::vector<std::string>& default_soundfont_paths() {
  static const std::vector<std::string> paths = [] {
    // The SoundFont that comes with onpu, or one the user put beside it,
    // first: in soundfonts/ beside the executable (the Windows package), or
    // in share/onpu/soundfonts/ beside its bin/ (the Linux package and
    // cmake --install).
    const std::string separator(1, kPathSeparator);
    const std::string here = executable_directory();
    std::vector<std::string> folders = {here + separator + "soundfonts" + separator};
#ifndef _WIN32
    // The folder above bin/, named as such so that the SoundFont onpu names
    // on the console reads plainly.
    const size_t above = here.rfind(kPathSeparator);
    if (above != std::string::npos) folders.push_back(here.substr(0, above) + "/share/onpu/soundfonts/");
#endif
    std::vector<std::string> found;
    for (const std::string& folder : folders) {
      for (const char* name : {"FluidR3_GM.sf2", "default.sf2", "FluidR3Mono_GM.sf3"}) {
        found.push_back(folder + name);
      }
    }
#ifndef _WIN32
    for (const char* system : kSystemSoundfonts) found.push_back(system);
#endif
    return found;
  }();
  return paths;
}

bool find_soundfont(const std::string& requested, const char* environment, const std::vector<std::string>& candidates,
                    std::string* path, std::string* error) {
  path->clear();
  if (!requested.empty()) {
    if (is_regular_file(requested)) {
      *path = requested;
      return true;
    }
    *error = "エラー: --soundfont で指定された SoundFont がありません: " + requested + "\n";
    return false;
  }
  if (environment != nullptr && environment[0] != '\0') {
    if (is_regular_file(environment)) {
      *path = environment;
      return true;
    }
    *error = std::string("エラー: ONPU_SOUNDFONT で指定された SoundFont がありません: ") + environment + "\n";
    return false;
  }
  std::string looked_at;
  for (const std::string& candidate : candidates) {
    if (is_regular_file(candidate)) {
      *path = candidate;
      return true;
    }
    if (!looked_at.empty()) looked_at += ", ";
    looked_at += candidate;
  }
  *error =
      "エラー: SoundFont が見つかりません (--soundfont も ONPU_SOUNDFONT もなく、次のどれもありません: " + looked_at +
      ")。" + kNoSoundfontHint + "\n";
  return false;
}

bool find_default_soundfont(const std::string& requested, std::string* path, std::string* error) {
  return find_soundfont(requested, std::getenv("ONPU_SOUNDFONT"), default_soundfont_paths(), path, error);
}

}  // namespace onpu::audio
