#include "audio/synth_instance.h"

#include <cstdio>
#include <cstring>

#ifdef ONPU_AUDIO_HAVE_GLIB
#include <glib.h>
#endif
#include <vector>

namespace onpu::audio {
namespace {

// FluidSynth logs to standard error by itself; we keep the last error for our
// own message instead.
std::string& last_fluid_error() {
  static std::string text;
  return text;
}

void keep_error(int, const char* message, void*) {
  if (message != nullptr) last_fluid_error() = message;
}

void route_fluid_logging() {
  static bool done = false;
  if (done) return;
  done = true;
  fluid_set_log_function(FLUID_PANIC, keep_error, nullptr);
  fluid_set_log_function(FLUID_ERR, keep_error, nullptr);
  fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
  fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
  fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
}

// FluidSynth hands files it does not know to helper libraries that complain
// on standard error; a quick look at the RIFF header keeps those away.
bool looks_like_soundfont(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return true;  // let FluidSynth report it
  char bytes[12] = {};
  size_t got = std::fread(bytes, 1, sizeof bytes, file);
  std::fclose(file);
  if (got < sizeof bytes || std::memcmp(bytes, "RIFF", 4) != 0) return false;
  return std::memcmp(bytes + 8, "sfbk", 4) == 0 || std::memcmp(bytes + 8, "DLS ", 4) == 0;
}

#ifdef ONPU_AUDIO_HAVE_GLIB
void drop_glib_message(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}
#endif

// Loads the SoundFont with GLib's console messages switched off: when
// FluidSynth's own loader refuses a file, the DLS loader it tries next
// complains on standard error, and our error line already says it all.
int load_quietly(fluid_synth_t* synth, const std::string& path) {
#ifdef ONPU_AUDIO_HAVE_GLIB
  GLogFunc previous = g_log_set_default_handler(drop_glib_message, nullptr);
  int id = fluid_synth_sfload(synth, path.c_str(), 1);
  g_log_set_default_handler(previous, nullptr);
  return id;
#else
  return fluid_synth_sfload(synth, path.c_str(), 1);
#endif
}

}  // namespace

std::unique_ptr<SynthInstance> SynthInstance::create(const std::string& soundfont, bool effects, std::string* error,
                                                     int polyphony) {
  route_fluid_logging();
  last_fluid_error().clear();
  std::unique_ptr<SynthInstance> instance(new SynthInstance());
  instance->settings_ = new_fluid_settings();
  if (instance->settings_ == nullptr) {
    *error = "エラー: FluidSynth を初期化できません\n";
    return nullptr;
  }
  fluid_settings_t* s = instance->settings_;
  fluid_settings_setnum(s, "synth.sample-rate", kSampleRate);
  fluid_settings_setint(s, "synth.reverb.active", effects ? 1 : 0);
  fluid_settings_setint(s, "synth.chorus.active", effects ? 1 : 0);
  fluid_settings_setint(s, "synth.polyphony", polyphony);
  fluid_settings_setint(s, "synth.cpu-cores", 1);
  fluid_settings_setint(s, "synth.threadsafe-api", 0);
  fluid_settings_setint(s, "synth.lock-memory", 0);
  fluid_settings_setint(s, "synth.verbose", 0);
  // Samples are read when a preset is first chosen, so a piano-only piece
  // does not pay for the whole General MIDI set.
  fluid_settings_setint(s, "synth.dynamic-sample-loading", 1);

  instance->synth_ = new_fluid_synth(s);
  if (instance->synth_ == nullptr) {
    *error = "エラー: FluidSynth のシンセサイザを作れません\n";
    return nullptr;
  }
  if (!looks_like_soundfont(soundfont)) {
    *error = "エラー: SoundFont (.sf2/.sf3/.dls) ではありません: " + soundfont + "\n";
    return nullptr;
  }
  if (load_quietly(instance->synth_, soundfont) == FLUID_FAILED) {
    std::string detail = last_fluid_error();
    for (char& c : detail) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    *error = "エラー: SoundFont を読み込めません: " + soundfont + (detail.empty() ? "" : " (" + detail + ")") + "\n";
    return nullptr;
  }
  return instance;
}

SynthInstance::~SynthInstance() {
  if (synth_ != nullptr) delete_fluid_synth(synth_);
  if (settings_ != nullptr) delete_fluid_settings(settings_);
}

void SynthInstance::render(float* interleaved, int frames) {
  fluid_synth_write_float(synth_, frames, interleaved, 0, 2, interleaved, 1, 2);
}

}  // namespace onpu::audio
