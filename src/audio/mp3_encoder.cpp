#include "audio/mp3_encoder.h"

#include <algorithm>
#include <cstdarg>

#include <lame/lame.h>

#include "audio/pcm_buffer.h"

namespace onpu::audio {
namespace {

// Frames handed to LAME per call.
constexpr size_t kChunkFrames = 1152 * 32;

// LAME prints to the terminal unless told otherwise.
void quiet(const char*, va_list) {}

std::string lame_failure(int code) {
  return "エラー: MP3 に変換できません (LAME のエラー " + std::to_string(code) + ")\n";
}

}  // namespace

void Mp3Encoder::LameCloser::operator()(lame_global_struct* flags) const { lame_close(flags); }

Mp3Encoder::Mp3Encoder() = default;
Mp3Encoder::~Mp3Encoder() = default;

bool Mp3Encoder::start(const Mp3Format& format, std::string* error) {
  if (format.channels != 1 && format.channels != 2) {
    *error = "エラー: MP3 のチャンネル数は 1 か 2 です\n";
    return false;
  }
  lame_.reset(lame_init());
  if (!lame_) {
    *error = "エラー: LAME を初期化できません\n";
    return false;
  }
  lame_global_flags* gf = lame_.get();
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
  lame_set_bWriteVbrTag(gf, format.info_frame ? 1 : 0);
  lame_set_write_id3tag_automatic(gf, 0);
  if (lame_init_params(gf) < 0) {
    lame_.reset();
    *error = "エラー: LAME の設定が受け付けられません\n";
    return false;
  }
  channels_ = format.channels;
  buffer_.resize(kChunkFrames * 5 / 4 + 7200);
  pcm_.resize(kChunkFrames * static_cast<size_t>(channels_));
  scaled_.resize(pcm_.size());
  return true;
}

bool Mp3Encoder::encode(const float* samples, size_t frames, float gain, std::vector<uint8_t>* out,
                        std::string* error) {
  if (!lame_) {
    *error = "エラー: LAME を初期化できません\n";
    return false;
  }
  const auto channels = static_cast<size_t>(channels_);
  for (size_t done = 0; done < frames;) {
    size_t count = std::min(kChunkFrames, frames - done);
    const float* chunk = samples + done * channels;
    for (size_t i = 0; i < count * channels; ++i) scaled_[i] = chunk[i] * gain;
    to_pcm16(scaled_.data(), count * channels, pcm_.data());
    int written;
    if (channels == 2) {
      written = lame_encode_buffer_interleaved(lame_.get(), pcm_.data(), static_cast<int>(count), buffer_.data(),
                                               static_cast<int>(buffer_.size()));
    } else {
      written = lame_encode_buffer(lame_.get(), pcm_.data(), pcm_.data(), static_cast<int>(count), buffer_.data(),
                                   static_cast<int>(buffer_.size()));
    }
    if (written < 0) {
      *error = lame_failure(written);
      return false;
    }
    out->insert(out->end(), buffer_.begin(), buffer_.begin() + written);
    done += count;
  }
  return true;
}

bool Mp3Encoder::finish(std::vector<uint8_t>* out, std::vector<uint8_t>* info_frame, std::string* error) {
  if (!lame_) {
    *error = "エラー: LAME を初期化できません\n";
    return false;
  }
  int written = lame_encode_flush(lame_.get(), buffer_.data(), static_cast<int>(buffer_.size()));
  if (written < 0) {
    *error = lame_failure(written);
    return false;
  }
  out->insert(out->end(), buffer_.begin(), buffer_.begin() + written);
  info_frame->clear();
  return lame_get_bWriteVbrTag(lame_.get()) == 0 || this->info_frame(info_frame, error);
}

bool Mp3Encoder::info_frame(std::vector<uint8_t>* frame, std::string* error) {
  // Nothing (0) before the first frame.
  size_t size = lame_ ? lame_get_lametag_frame(lame_.get(), buffer_.data(), buffer_.size()) : 0;
  if (size > buffer_.size()) {
    *error = "エラー: MP3 のヘッダを書けません\n";
    return false;
  }
  frame->assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(size));
  return true;
}

int Mp3Encoder::padding() const { return lame_ ? lame_get_encoder_padding(lame_.get()) : 0; }

bool encode_mp3(const std::vector<float>& samples, const Mp3Format& format, std::vector<uint8_t>* mp3,
                std::string* error) {
  mp3->clear();
  Mp3Encoder encoder;
  std::vector<uint8_t> info_frame;
  if (!encoder.start(format, error) ||
      !encoder.encode(samples.data(), samples.size() / static_cast<size_t>(format.channels), 1.0f, mp3, error) ||
      !encoder.finish(mp3, &info_frame, error)) {
    return false;
  }
  if (info_frame.size() > mp3->size()) {
    *error = "エラー: MP3 のヘッダを書けません\n";
    return false;
  }
  std::copy(info_frame.begin(), info_frame.end(), mp3->begin());
  return true;
}

}  // namespace onpu::audio
