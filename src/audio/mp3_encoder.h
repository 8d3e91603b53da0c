// MP3 encoding with LAME: constant bit rate, 44.1 kHz, with a LAME "Info"
// header frame that tells decoders the encoder delay and padding, so a
// gapless decoder gets back exactly the frames that went in. No ID3 tag.
// The same samples always give the same bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct lame_global_struct;

namespace onpu::audio {

struct Mp3Format {
  int channels = 2;           // 1 or 2; stereo input is interleaved
  int sample_rate = 44100;
  int kilobits_per_second = 128;
  // Leave room for the Info frame at the start. A stream that will follow
  // another's frames has none.
  bool info_frame = true;
};

// Encodes a stream piece by piece, so a song of any length passes through a
// fixed amount of memory. Every call appends the bytes made so far to *out;
// the caller keeps or writes them in order. Each failure is one line in
// *error.
class Mp3Encoder {
 public:
  Mp3Encoder();
  ~Mp3Encoder();
  Mp3Encoder(const Mp3Encoder&) = delete;
  Mp3Encoder& operator=(const Mp3Encoder&) = delete;

  bool start(const Mp3Format& format, std::string* error);
  // Encodes `frames` frames of float samples in -1..1, each multiplied by
  // `gain` and then rounded to 16 bits.
  bool encode(const float* samples, size_t frames, float gain, std::vector<uint8_t>* out, std::string* error);
  // Ends the stream. *info_frame receives the finished Info frame, which
  // overwrites the stream's first bytes (LAME left room for it); it is empty
  // for a stream without one.
  bool finish(std::vector<uint8_t>* out, std::vector<uint8_t>* info_frame, std::string* error);
  // The Info frame for the frames made so far (empty before the first).
  bool info_frame(std::vector<uint8_t>* frame, std::string* error);
  // Samples of silence the encoder added at the end (known after finish).
  int padding() const;

 private:
  struct LameCloser {
    void operator()(lame_global_struct* flags) const;
  };
  std::unique_ptr<lame_global_struct, LameCloser> lame_;
  int channels_ = 0;
  std::vector<float> scaled_;
  std::vector<int16_t> pcm_;
  std::vector<unsigned char> buffer_;
};

// Encodes a whole buffer (frames * channels float samples) into *mp3.
bool encode_mp3(const std::vector<float>& samples, const Mp3Format& format, std::vector<uint8_t>* mp3,
                std::string* error);

}  // namespace onpu::audio
