// One offline FluidSynth synthesizer with one SoundFont loaded: no audio or
// MIDI driver, no player, no extra threads. Audio is pulled with render(),
// so the output depends only on the calls made, never on a clock.
//
// FluidSynth applies events at the start of its 64-frame blocks; callers that
// need sample-exact repeatability keep their segments multiples of
// kBlockFrames.
#pragma once

#include <memory>
#include <string>

#include <fluidsynth.h>

namespace onpu::audio {

class SynthInstance {
 public:
  static constexpr int kSampleRate = 44100;
  static constexpr int kBlockFrames = 64;

  // Voices a synthesizer sounds at once unless told otherwise (FluidSynth's
  // default).
  static constexpr int kPolyphony = 256;

  // Creates the synthesizer and loads `soundfont`. `effects` switches reverb
  // and chorus on (the song) or off (dry key sounds); `polyphony` is the
  // number of voices it sounds at once. Returns nullptr and sets *error to
  // one line on failure.
  static std::unique_ptr<SynthInstance> create(const std::string& soundfont, bool effects, std::string* error,
                                               int polyphony = kPolyphony);
  ~SynthInstance();
  SynthInstance(const SynthInstance&) = delete;
  SynthInstance& operator=(const SynthInstance&) = delete;

  fluid_synth_t* synth() const { return synth_; }

  // Renders `frames` stereo frames into `interleaved` (2 * frames floats).
  void render(float* interleaved, int frames);

 private:
  SynthInstance() = default;
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
};

}  // namespace onpu::audio
