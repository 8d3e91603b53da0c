// MP3 encoding with LAME: constant bit rate, 44.1 kHz, with a LAME "Info"
// header frame that tells decoders the encoder delay and padding, so a
// gapless decoder gets back exactly the frames that went in. No ID3 tag.
// The same samples always give the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace onpu::audio {

struct Mp3Format {
  int channels = 2;           // 1 or 2; stereo input is interleaved
  int sample_rate = 44100;
  int kilobits_per_second = 128;
};

// Encodes float samples in -1..1 (frames * channels of them) into *mp3,
// rounding them to 16 bits a chunk at a time, so a long song needs no second
// full-length copy. On failure returns false with one line in *error.
bool encode_mp3(const std::vector<float>& samples, const Mp3Format& format, std::vector<uint8_t>* mp3,
                std::string* error);

}  // namespace onpu::audio
