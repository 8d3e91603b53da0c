#include "audio/osz_builder.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

#include "audio/file_bytes.h"
#include "audio/key_sample_renderer.h"
#include "audio/midi_timeline.h"
#include "audio/mp3_encoder.h"
#include "audio/osz_archive.h"
#include "audio/pcm_buffer.h"
#include "audio/song_renderer.h"
#include "audio/soundfont_locator.h"
#include "audio/synth_instance.h"

namespace onpu::audio {
namespace {

// The song peaks at -1 dBFS, like the key sounds.
constexpr double kSongPeak = 0.891;
// Songs at least this long (in audio seconds) report progress while rendering.
constexpr double kProgressFromSeconds = 60.0;

class Stopwatch {
 public:
  Stopwatch() : start_(std::chrono::steady_clock::now()) {}
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

std::string step_line(const std::string& what, double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, " (%.2f 秒)\n", seconds);
  return what + text;
}

std::string minutes_and_seconds(size_t frames) {
  auto total = static_cast<long>(frames / SynthInstance::kSampleRate);
  char text[48];
  std::snprintf(text, sizeof text, "%ld 分 %ld 秒", total / 60, total % 60);
  return text;
}

bool render_song_mp3(const std::string& soundfont, const MidiTimeline& timeline, Console& console,
                     std::vector<uint8_t>* mp3, std::string* error) {
  Stopwatch watch;
  std::vector<float> stereo;
  {
    std::unique_ptr<SynthInstance> synth = SynthInstance::create(soundfont, true, error);
    if (!synth) return false;
    int next_quarter = 1;
    bool report = static_cast<double>(song_frame_count(timeline)) / SynthInstance::kSampleRate >= kProgressFromSeconds;
    RenderProgress progress = [&](size_t done, size_t total) {
      while (report && next_quarter < 4 && done * 4 >= total * static_cast<size_t>(next_quarter)) {
        console.out("曲を合成中... " + std::to_string(next_quarter * 25) + "%\n");
        ++next_quarter;
      }
    };
    if (!render_song(*synth, timeline, progress, &stereo, error)) return false;
  }
  console.out(step_line("曲を合成しました: " + minutes_and_seconds(stereo.size() / 2), watch.seconds()));

  Stopwatch encode_watch;
  normalise_peak(&stereo, kSongPeak);
  Mp3Format format;
  format.channels = 2;
  if (!encode_mp3(stereo, format, mp3, error)) return false;
  console.out(step_line("曲を MP3 に変換しました", encode_watch.seconds()));
  return true;
}

bool render_key_mp3s(const std::string& soundfont, const std::set<int>& keys, Console& console,
                     std::vector<ArchiveEntry>* entries, std::string* error) {
  if (keys.empty()) return true;
  Stopwatch watch;
  std::unique_ptr<SynthInstance> synth = SynthInstance::create(soundfont, false, error);
  if (!synth) return false;
  KeySampleRenderer renderer(*synth);
  Mp3Format format;
  format.channels = 1;
  // Key bytes above 127 sound like 127: encode that sound once.
  std::map<int, std::vector<uint8_t>> by_pitch;
  for (int key : keys) {
    int pitch = key > 127 ? 127 : key;
    auto found = by_pitch.find(pitch);
    if (found == by_pitch.end()) {
      std::vector<float> mono;
      if (!renderer.render(pitch, &mono, error)) return false;
      std::vector<uint8_t> mp3;
      if (!encode_mp3(mono, format, &mp3, error)) return false;
      found = by_pitch.emplace(pitch, std::move(mp3)).first;
    }
    entries->push_back({"piano/" + std::to_string(key) + ".mp3", found->second});
  }
  console.out(step_line("ピアノ音を作りました: " + std::to_string(keys.size()) + " 個", watch.seconds()));
  return true;
}

}  // namespace

bool audio_supported() { return true; }

std::string audio_unsupported_message() { return std::string(); }

bool build_osz(const OszRequest& request, Console& console, std::string* error) {
  if (request.base_name.empty()) {
    *error = "エラー: .osz の曲名が空です\n";
    return false;
  }
  std::set<int> keys;
  for (int key : request.keys) {
    if (key < 0 || key > 255) {
      *error = "エラー: キー番号が 0 から 255 の範囲にありません: " + std::to_string(key) + "\n";
      return false;
    }
    keys.insert(key);
  }

  std::vector<ArchiveEntry> entries;
  for (const std::string& path : request.osu_paths) {
    ArchiveEntry entry;
    entry.name = file_name_of(path);
    if (!read_file_bytes(path, &entry.data, error)) return false;
    entries.push_back(std::move(entry));
  }
  std::vector<uint8_t> midi_bytes;
  if (!read_file_bytes(request.midi_path, &midi_bytes, error)) return false;
  MidiTimeline timeline;
  if (!read_midi_timeline(midi_bytes, &timeline, error)) return false;
  if (!check_song_length(timeline, error)) return false;

  std::string soundfont;
  if (!find_default_soundfont(request.soundfont, &soundfont, error)) return false;
  console.out("SoundFont: " + soundfont + "\n");

  ArchiveEntry song;
  song.name = request.base_name + ".mp3";
  if (!render_song_mp3(soundfont, timeline, console, &song.data, error)) return false;
  entries.push_back(std::move(song));
  if (!render_key_mp3s(soundfont, keys, console, &entries, error)) return false;

  Stopwatch watch;
  std::vector<uint8_t> archive;
  if (!build_zip(entries, &archive, error)) return false;
  if (!write_file_atomically(request.osz_path, archive, error)) return false;
  console.out(step_line(file_name_of(request.osz_path) + " を書き出しました", watch.seconds()));
  return true;
}

}  // namespace onpu::audio
