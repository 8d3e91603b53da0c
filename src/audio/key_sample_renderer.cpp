#include "audio/key_sample_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "audio/pcm_buffer.h"

namespace onpu::audio {
namespace {

constexpr int kChannel = 0;
constexpr int kVelocity = 100;
// The key is held for about one second, then released inside the sample.
constexpr int kHoldFrames = 689 * SynthInstance::kBlockFrames;
// The last 0.3 s fade to silence.
constexpr int kFadeFrames = SynthInstance::kSampleRate * 3 / 10;
// Probing a key: render this long and look for any output at all.
constexpr int kProbeFrames = 64 * SynthInstance::kBlockFrames;
constexpr float kProbeThreshold = 1e-5f;
// FluidSynth takes pitch-wheel sensitivities up to 72 semitones.
constexpr int kMaxBendSemitones = 72;

}  // namespace

KeySampleRenderer::KeySampleRenderer(SynthInstance& synth) : synth_(synth) {
  sounding_.fill(-1);
  fluid_synth_bank_select(synth_.synth(), kChannel, 0);
  fluid_synth_program_change(synth_.synth(), kChannel, 0);
  warm_up();
}

void KeySampleRenderer::warm_up() {
  // The first note after start-up may differ from later ones; play one and
  // throw it away so every real sample starts from the same state.
  silence();
  bend(0);
  fluid_synth_noteon(synth_.synth(), kChannel, 60, kVelocity);
  scratch_.assign(static_cast<size_t>(kProbeFrames) * 2, 0.0f);
  synth_.render(scratch_.data(), kProbeFrames);
  fluid_synth_noteoff(synth_.synth(), kChannel, 60);
  synth_.render(scratch_.data(), kProbeFrames);
}

void KeySampleRenderer::silence() {
  // Voices cut now are only released at the next block: render it and drop it.
  fluid_synth_all_sounds_off(synth_.synth(), -1);
  float block[SynthInstance::kBlockFrames * 2];
  synth_.render(block, SynthInstance::kBlockFrames);
}

void KeySampleRenderer::bend(int semitones) {
  // The wheel at half way with a sensitivity of twice the shift lands on the
  // exact pitch; beyond 36 semitones the largest sensitivity is used and the
  // value rounded (within half a cent), beyond 72 the shift is cut to 72.
  // Sent before every note, shifted or not, so no note inherits a setting.
  int sensitivity = std::min(2 * std::abs(semitones), kMaxBendSemitones);
  int value = 8192;
  if (semitones != 0) {
    value = 8192 + static_cast<int>(std::lround(8192.0 * semitones / sensitivity));
    value = std::max(0, std::min(16383, value));
  }
  fluid_synth_pitch_wheel_sens(synth_.synth(), kChannel, sensitivity);
  fluid_synth_pitch_bend(synth_.synth(), kChannel, value);
}

bool KeySampleRenderer::sounds(int key) {
  if (sounding_[key] < 0) {
    silence();
    bend(0);
    fluid_synth_noteon(synth_.synth(), kChannel, key, kVelocity);
    scratch_.assign(static_cast<size_t>(kProbeFrames) * 2, 0.0f);
    synth_.render(scratch_.data(), kProbeFrames);
    sounding_[key] = peak_of(scratch_) > kProbeThreshold ? 1 : 0;
    silence();
  }
  return sounding_[key] == 1;
}

bool KeySampleRenderer::plan_for(int key_byte, KeyPlan* plan, std::string* error) {
  if (key_byte < 0 || key_byte > 255) {
    *error = "エラー: キー番号が 0 から 255 の範囲にありません: " + std::to_string(key_byte) + "\n";
    return false;
  }
  int pitch = key_byte > 127 ? 127 : key_byte;
  plan->pitch_key = pitch;
  for (int distance = 0; distance < 128; ++distance) {
    if (pitch - distance >= 0 && sounds(pitch - distance)) {
      plan->played_key = pitch - distance;
      return true;
    }
    if (distance > 0 && pitch + distance < 128 && sounds(pitch + distance)) {
      plan->played_key = pitch + distance;
      return true;
    }
  }
  *error = "エラー: SoundFont のピアノ (プログラム 0) がどのキーでも鳴りません\n";
  return false;
}

bool KeySampleRenderer::render(int key_byte, std::vector<float>* mono, std::string* error) {
  KeyPlan plan;
  if (!plan_for(key_byte, &plan, error)) return false;
  silence();
  bend(plan.pitch_key - plan.played_key);
  std::vector<float> stereo(static_cast<size_t>(kKeySampleFrames) * 2, 0.0f);
  fluid_synth_noteon(synth_.synth(), kChannel, plan.played_key, kVelocity);
  synth_.render(stereo.data(), kHoldFrames);
  fluid_synth_noteoff(synth_.synth(), kChannel, plan.played_key);
  synth_.render(stereo.data() + static_cast<size_t>(kHoldFrames) * 2, kKeySampleFrames - kHoldFrames);
  *mono = mix_to_mono(stereo);
  normalise_peak(mono, kKeySamplePeak);
  fade_out(mono, 1, kFadeFrames);
  return true;
}

}  // namespace onpu::audio
