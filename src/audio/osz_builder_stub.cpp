// build_osz for builds without FluidSynth, LAME or libzip (or with
// -DONPU_AUDIO=OFF): reports the missing support and touches no file.
#include "audio/osz_builder.h"

#include "common/messages.h"

namespace onpu::audio {

bool audio_supported() { return false; }

std::string audio_unsupported_message() { return msg::kOszUnsupported; }

bool build_osz(const OszRequest&, Console&, std::string* error) {
  *error = "エラー: このビルドは音声に対応していません (--osz には FluidSynth, LAME, libzip が必要です)\n";
  return false;
}

}  // namespace onpu::audio
