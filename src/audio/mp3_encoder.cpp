#include "audio/mp3_encoder.h"

#include <algorithm>
#include <cstdarg>
#include <memory>

#include <lame/lame.h>

#include "audio/pcm_buffer.h"

namespace onpu::audio {
namespace {

// Frames handed to LAME per call.
constexpr size_t kChunkFrames = 1152 * 32;

struct LameCloser {
  void operator()(lame_global_flags* flags) const { lame_close(flags); }
};

// LAME prints to the terminal unless told otherwise.
void quiet(const char*, va_list) {}

}  // namespace

bool encode_mp3(const std::vector<float>& samples, const Mp3Format& format, std::vector<uint8_t>* mp3,
                std::string* error) {
  mp3->clear();
  if (format.channels != 1 && format.channels != 2) {
    *error = "エラー: MP3 のチャンネル数は 1 か 2 です\n";
    return false;
  }
  std::unique_ptr<lame_global_flags, LameCloser> lame(lame_init());
  if (!lame) {
    *error = "エラー: LAME を初期化できません\n";
    return false;
  }
  lame_global_flags* gf = lame.get();
  lame_set_errorf(gf, quiet);
  lame_set_debugf(gf, quiet);
  lame_set_msgf(gf, quiet);
  lame_set_num_channels(gf, format.channels);
  lame_set_in_samplerate(gf, format.sample_rate);
  lame_set_out_samplerate(gf, format.sample_rate);
  lame_set_mode(gf, format.channels == 1 ? MONO : JOINT_STEREO);
  lame_set_VBR(gf, vbr_off);
  lame_set_brate(gf, format.kilobits_per_second);
  lame_set_quality(gf, 5);
  lame_set_bWriteVbrTag(gf, 1);
  lame_set_write_id3tag_automatic(gf, 0);
  if (lame_init_params(gf) < 0) {
    *error = "エラー: LAME の設定が受け付けられません\n";
    return false;
  }

  const size_t channels = static_cast<size_t>(format.channels);
  const size_t frames = samples.size() / channels;
  std::vector<unsigned char> out(kChunkFrames * 5 / 4 + 7200);
  std::vector<int16_t> pcm(kChunkFrames * channels);
  for (size_t done = 0; done < frames;) {
    size_t count = std::min(kChunkFrames, frames - done);
    to_pcm16(samples.data() + done * channels, count * channels, pcm.data());
    int written;
    if (channels == 2) {
      written = lame_encode_buffer_interleaved(gf, pcm.data(), static_cast<int>(count), out.data(),
                                               static_cast<int>(out.size()));
    } else {
      written = lame_encode_buffer(gf, pcm.data(), pcm.data(), static_cast<int>(count), out.data(),
                                   static_cast<int>(out.size()));
    }
    if (written < 0) {
      *error = "エラー: MP3 に変換できません (LAME のエラー " + std::to_string(written) + ")\n";
      return false;
    }
    mp3->insert(mp3->end(), out.begin(), out.begin() + written);
    done += count;
  }
  int written = lame_encode_flush(gf, out.data(), static_cast<int>(out.size()));
  if (written < 0) {
    *error = "エラー: MP3 に変換できません (LAME のエラー " + std::to_string(written) + ")\n";
    return false;
  }
  mp3->insert(mp3->end(), out.begin(), out.begin() + written);

  // LAME left room for the Info frame at the very start; fill it in now that
  // the totals are known.
  size_t tag_size = lame_get_lametag_frame(gf, out.data(), out.size());
  if (tag_size > out.size() || tag_size > mp3->size()) {
    *error = "エラー: MP3 のヘッダを書けません\n";
    return false;
  }
  std::copy(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(tag_size), mp3->begin());
  return true;
}

}  // namespace onpu::audio
