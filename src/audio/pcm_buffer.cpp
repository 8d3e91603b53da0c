#include "audio/pcm_buffer.h"

#include <algorithm>
#include <cmath>

namespace onpu::audio {

float peak_of(const std::vector<float>& samples) {
  float peak = 0;
  for (float s : samples) peak = std::max(peak, std::fabs(s));
  return peak;
}

double normalise_peak(std::vector<float>* samples, double target_peak) {
  float peak = peak_of(*samples);
  if (!(peak >= kSilentPeak)) return 1.0;  // also catches NaN
  double gain = target_peak / peak;
  float factor = static_cast<float>(gain);
  for (float& s : *samples) s *= factor;
  return gain;
}

std::vector<float> mix_to_mono(const std::vector<float>& stereo) {
  std::vector<float> mono(stereo.size() / 2);
  for (size_t i = 0; i < mono.size(); ++i) mono[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
  return mono;
}

void fade_out(std::vector<float>* samples, int channels, size_t fade_frames) {
  if (channels <= 0) return;
  size_t frames = samples->size() / static_cast<size_t>(channels);
  fade_frames = std::min(fade_frames, frames);
  if (fade_frames == 0) return;
  size_t first = frames - fade_frames;
  for (size_t i = 0; i < fade_frames; ++i) {
    // From just under 1 at the first faded frame down to 0 at the last one.
    float gain = fade_frames == 1 ? 0.0f
                                  : static_cast<float>(fade_frames - 1 - i) / static_cast<float>(fade_frames);
    for (int c = 0; c < channels; ++c) (*samples)[(first + i) * channels + c] *= gain;
  }
}

void to_pcm16(const float* samples, size_t count, int16_t* out) {
  for (size_t i = 0; i < count; ++i) {
    float scaled = samples[i] * 32767.0f;
    if (!(scaled > -32768.0f)) scaled = -32768.0f;  // NaN lands here too
    if (scaled > 32767.0f) scaled = 32767.0f;
    out[i] = static_cast<int16_t>(std::lround(scaled));
  }
}

}  // namespace onpu::audio
