#include "audio/osz_builder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "audio/file_bytes.h"
#include "audio/key_sample_renderer.h"
#include "audio/midi_timeline.h"
#include "audio/mp3_encoder.h"
#include "audio/osz_archive.h"
#include "audio/pcm_buffer.h"
#include "audio/song_mp3.h"
#include "audio/song_parts.h"
#include "audio/song_picture.h"
#include "audio/song_renderer.h"
#include "audio/soundfont_locator.h"
#include "audio/synth_instance.h"
#include "common/file_io.h"
#include "common/progress.h"

namespace onpu::audio {
namespace {

namespace fs = std::filesystem;

// The song peaks at -1 dBFS, like the key sounds.
constexpr double kSongPeak = 0.891;
// Songs at least this long (in audio seconds) report progress while rendering.
constexpr double kProgressFromSeconds = 60.0;

class Stopwatch {
 public:
  Stopwatch() : start_(std::chrono::steady_clock::now()) {}
  double seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }

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

// The share of the MP3 stage's progress that the song takes; the piano keys
// take the rest.
constexpr double kSongShareOfMp3 = 0.8;

// Bytes a second of the song's MP3 takes (128 kbit/s).
constexpr double kMp3BytesPerSecond = 128000.0 / 8;

// A file beside the archive that only lives while the archive is made: it is
// never put in place, so every way out of build_osz removes it.
bool open_scratch(const std::string& osz_path, const char* suffix, AtomicOutputFile* file, std::string* error) {
  if (file->open(osz_path + suffix)) return true;
  *error = "エラー: 一時ファイルを作れません: " + osz_path + suffix + "\n";
  return false;
}

// The song needs room for its samples (a float per channel and frame) while
// it is encoded, then twice its MP3 (the MP3 and the archive); saying so
// before an hour of rendering beats failing after it.
bool check_free_space(const std::string& osz_path, size_t frames, std::string* error) {
  fs::path folder = fs::u8path(osz_path).parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  fs::space_info space = fs::space(folder, ec);
  if (ec) return true;  // unknown: the writes will tell
  double seconds = static_cast<double>(frames) / SynthInstance::kSampleRate;
  double needed = static_cast<double>(frames) * 2 * sizeof(float) + 2 * seconds * kMp3BytesPerSecond;
  if (static_cast<double>(space.available) >= needed) return true;
  char text[160];
  std::snprintf(text, sizeof text,
                "エラー: ディスクの空きが足りません (曲の作成に %.1f GB, 空きは %.1f GB): ", needed / 1e9,
                static_cast<double>(space.available) / 1e9);
  *error = text + folder.u8string() + "\n";
  return false;
}

// Renders the song into `samples` (raw floats) and returns its peak in
// *peak.
bool render_song_samples(const std::string& soundfont, const MidiTimeline& timeline, Console& console,
                         AtomicOutputFile& samples, float* peak, std::string* error) {
  Stopwatch watch;
  const size_t total = song_frame_count(timeline);
  int next_quarter = 1;
  bool report = static_cast<double>(total) / SynthInstance::kSampleRate >= kProgressFromSeconds;
  RenderProgress progress = [&](size_t done, size_t all) {
    report_progress(ProgressStage::kRender, static_cast<double>(done) / static_cast<double>(all));
    while (report && next_quarter < 4 && done * 4 >= all * static_cast<size_t>(next_quarter)) {
      console.out("曲を合成中... " + std::to_string(next_quarter * 25) + "%\n");
      ++next_quarter;
    }
  };
  report_progress(ProgressStage::kRender, 0);
  *peak = 0;
  SongSink sink = [&](const float* stereo, size_t frames) {
    for (size_t i = 0; i < frames * 2; ++i) *peak = std::max(*peak, std::fabs(stereo[i]));
    if (std::fwrite(stereo, sizeof(float) * 2, frames, samples.stream()) == frames) return true;
    *error = cannot_write_scratch(samples.temp_path());
    return false;
  };
  if (!render_song(soundfont, timeline, plan_song_parts(timeline), progress, sink, error)) return false;
  if (std::fflush(samples.stream()) != 0) {
    *error = cannot_write_scratch(samples.temp_path());
    return false;
  }
  console.out(step_line("曲を合成しました: " + minutes_and_seconds(total), watch.seconds()));
  return true;
}

// Encodes the rendered song (`frames` frames), normalised to kSongPeak,
// into `mp3`, on two cores.
bool encode_song(const AtomicOutputFile& samples, size_t frames, float peak, Console& console, AtomicOutputFile& mp3,
                 AtomicOutputFile& spare, std::string* error) {
  Stopwatch watch;
  // The gain normalise_peak would apply to the whole song at once.
  float gain = peak >= kSilentPeak ? static_cast<float>(kSongPeak / peak) : 1.0f;
  Mp3Format format;
  format.channels = 2;
  Mp3SplitOptions options;
  options.progress = [](double fraction) { report_progress(ProgressStage::kMp3, kSongShareOfMp3 * fraction); };
  report_progress(ProgressStage::kMp3, 0);
  if (!encode_samples_mp3(samples.temp_path(), frames, gain, format, options, mp3, spare, error)) {
    return false;
  }
  console.out(step_line("曲を MP3 に変換しました", watch.seconds()));
  return true;
}

bool render_key_mp3s(const std::string& soundfont, const std::set<int>& keys, Console& console,
                     std::vector<ArchiveEntry>* entries, std::string* error) {
  if (keys.empty()) {
    report_progress(ProgressStage::kMp3, 1);
    return true;
  }
  Stopwatch watch;
  std::unique_ptr<SynthInstance> synth = SynthInstance::create(soundfont, false, error);
  if (!synth) return false;
  KeySampleRenderer renderer(*synth);
  Mp3Format format;
  format.channels = 1;
  // Key bytes above 127 sound like 127: encode that sound once.
  std::map<int, std::vector<uint8_t>> by_pitch;
  size_t keys_done = 0;
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
    entries->push_back({"piano/" + std::to_string(key) + ".mp3", found->second, std::string()});
    ++keys_done;
    report_progress(ProgressStage::kMp3, kSongShareOfMp3 + (1 - kSongShareOfMp3) * static_cast<double>(keys_done) /
                                                               static_cast<double>(keys.size()));
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

  // Beatmaps go into the archive straight from their files (those of a
  // black MIDI are large); that they are there is checked before the long
  // steps.
  std::vector<ArchiveEntry> entries;
  for (const std::string& path : request.osu_paths) {
    if (!is_regular_file(path)) {
      *error = "エラー: ファイルを開けません: " + path + "\n";
      return false;
    }
    ArchiveEntry entry;
    entry.name = file_name_of(path);
    entry.data_path = path;
    entries.push_back(std::move(entry));
  }
  std::vector<uint8_t> midi_bytes;
  if (!read_file_bytes(request.midi_path, &midi_bytes, error)) return false;
  MidiTimeline timeline;
  if (!read_midi_timeline(midi_bytes, &timeline, error)) return false;
  std::vector<uint8_t>().swap(midi_bytes);
  if (!check_song_length(timeline, error)) return false;
  ArchiveEntry picture;
  picture.name = kSongPictureName;
  picture.data =
      song_picture_png(picture_notes(timeline), static_cast<int32_t>(std::llround(timeline.end_seconds * 1000)));
  if (picture.data.empty()) {
    *error = "エラー: 背景画像を作れません\n";
    return false;
  }

  const size_t frames = song_frame_count(timeline);
  if (!check_free_space(request.osz_path, frames, error)) return false;

  std::string soundfont;
  if (!find_default_soundfont(request.soundfont, &soundfont, error)) return false;
  console.out("SoundFont: " + soundfont + "\n");

  // The rendered song and its MP3 wait in files beside the archive, so
  // memory does not grow with the song's length.
  AtomicOutputFile samples;
  AtomicOutputFile song_mp3;
  AtomicOutputFile second_half;
  float peak = 0;
  if (!open_scratch(request.osz_path, ".pcm", &samples, error) ||
      !render_song_samples(soundfont, timeline, console, samples, &peak, error)) {
    return false;
  }
  timeline = MidiTimeline();  // no longer needed: give back its memory before encoding
  if (!open_scratch(request.osz_path, ".mp3", &song_mp3, error) ||
      !open_scratch(request.osz_path, ".mp3b", &second_half, error) ||
      !encode_song(samples, frames, peak, console, song_mp3, second_half, error)) {
    return false;
  }
  samples.abandon();
  second_half.abandon();
  ArchiveEntry song;
  song.name = request.base_name + ".mp3";
  song.data_path = song_mp3.temp_path();
  entries.push_back(std::move(song));
  entries.push_back(std::move(picture));
  if (!render_key_mp3s(soundfont, keys, console, &entries, error)) return false;

  Stopwatch watch;
  report_progress(ProgressStage::kArchive, 0);
  auto zip = [&](std::FILE* out, std::string* zip_error) { return write_zip(entries, out, zip_error); };
  if (!fill_file_atomically(request.osz_path, zip, error)) return false;
  report_progress(ProgressStage::kArchive, 1);
  console.out(step_line(file_name_of(request.osz_path) + " を書き出しました", watch.seconds()));
  return true;
}

}  // namespace onpu::audio
