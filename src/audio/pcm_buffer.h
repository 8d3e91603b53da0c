// Sample-level steps between the synthesizer and the MP3 encoder: loudness
// normalisation, down-mixing, a fade-out and the conversion to the 16-bit PCM
// that LAME takes. Buffers hold 32-bit float samples in the range -1..1,
// interleaved when there is more than one channel. Every step is plain
// arithmetic in a fixed order, so equal input gives equal output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace onpu::audio {

// Below this peak a buffer counts as silent and is left alone by
// normalise_peak (about -140 dBFS: nothing a listener could hear).
constexpr float kSilentPeak = 1e-7f;

// Largest absolute sample value.
float peak_of(const std::vector<float>& samples);

// Scales the buffer so its peak becomes `target_peak`. Returns the factor
// applied (1 for a silent buffer).
double normalise_peak(std::vector<float>* samples, double target_peak);

// Averages interleaved stereo frames into one channel.
std::vector<float> mix_to_mono(const std::vector<float>& stereo);

// Ramps the last `fade_frames` frames linearly down to zero; the very last
// frame ends at exactly zero. A shorter buffer is faded as a whole.
void fade_out(std::vector<float>* samples, int channels, size_t fade_frames);

// Rounds `count` samples to the nearest 16-bit values, clamping at full scale.
void to_pcm16(const float* samples, size_t count, int16_t* out);

}  // namespace onpu::audio
