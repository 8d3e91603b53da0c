// Renders the piano sound for one key byte of a hit object: General MIDI
// program 0, dry (the synthesizer must have reverb and chorus off), mono,
// kKeySampleFrames long with a fade-out, normalised to a fixed peak.
//
// Which key is played:
//   - key bytes 0..127 play their own key when the SoundFont sounds it;
//   - otherwise the nearest key that sounds is played (the lower one on a
//     tie), bent to the wanted pitch with the pitch wheel;
//   - key bytes 128..255 have no MIDI pitch of their own and sound like 127.
//
// Every sample is independent of the ones rendered before it: a discarded
// warm-up note is played once, and before each note all voices are cut and
// one block is rendered and dropped; all segments are whole 64-frame blocks.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "audio/synth_instance.h"

namespace onpu::audio {

// About 1.5 s: 1034 blocks of 64 frames.
constexpr int kKeySampleFrames = 1034 * SynthInstance::kBlockFrames;
// Peak of every key sample after normalisation (-1 dBFS).
constexpr double kKeySamplePeak = 0.891;

// The MIDI key sent to the synthesizer and the key whose pitch it sounds at.
struct KeyPlan {
  int played_key = 0;
  int pitch_key = 0;
};

class KeySampleRenderer {
 public:
  // `synth` must outlive the renderer and be used by nothing else.
  explicit KeySampleRenderer(SynthInstance& synth);

  // Works out which key plays `key_byte` (0..255). Fails when the SoundFont
  // sounds no key at all for program 0.
  bool plan_for(int key_byte, KeyPlan* plan, std::string* error);

  // Renders the sample of `key_byte` into *mono (kKeySampleFrames floats).
  bool render(int key_byte, std::vector<float>* mono, std::string* error);

 private:
  void warm_up();
  void silence();
  void bend(int semitones);
  bool sounds(int key);

  SynthInstance& synth_;
  std::array<signed char, 128> sounding_;  // -1 unknown, 0 silent, 1 sounds
  std::vector<float> scratch_;
};

}  // namespace onpu::audio
