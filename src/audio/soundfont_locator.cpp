#include "audio/soundfont_locator.h"

#include <cstdlib>

#include "audio/file_bytes.h"

namespace onpu::audio {

const std::vector<std::string>& default_soundfont_paths() {
  static const std::vector<std::string> paths = {
      "/usr/share/sounds/sf2/FluidR3_GM.sf2",    // fluid-soundfont-gm
      "/usr/share/soundfonts/FluidR3_GM.sf2",    // other distributions
      "/usr/share/sounds/sf2/default-GM.sf2",    // Debian's alternative link
      "/usr/share/soundfonts/default.sf2",
      "/usr/share/sounds/sf3/default-GM.sf3",
      "/usr/share/sounds/sf2/TimGM6mb.sf2",      // timgm6mb-soundfont
      "/usr/share/sounds/sf3/MuseScore_General.sf3",
      "/usr/local/share/soundfonts/default.sf2",
  };
  return paths;
}

bool find_soundfont(const std::string& requested, const char* environment,
                    const std::vector<std::string>& candidates, std::string* path,
                    std::string* error) {
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
  *error = "エラー: SoundFont が見つかりません (--soundfont も ONPU_SOUNDFONT もなく、次のどれもありません: " +
           looked_at + ")。fluid-soundfont-gm を入れるか --soundfont で指定してください\n";
  return false;
}

bool find_default_soundfont(const std::string& requested, std::string* path, std::string* error) {
  return find_soundfont(requested, std::getenv("ONPU_SOUNDFONT"), default_soundfont_paths(), path,
                        error);
}

}  // namespace onpu::audio
