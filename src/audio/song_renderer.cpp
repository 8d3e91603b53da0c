#include "audio/song_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace onpu::audio {
namespace {

// Frames rendered per call between events; also how often progress is told.
constexpr size_t kChunkFrames = 16 * 1024;

void send_event(fluid_synth_t* synth, const MidiTimeline& timeline, const TimedEvent& event) {
  int channel = event.status & 0x0F;
  switch (event.status & 0xF0) {
    case 0x80:
      fluid_synth_noteoff(synth, channel, event.data1);
      break;
    case 0x90:
      fluid_synth_noteon(synth, channel, event.data1, event.data2);  // velocity 0 is a note-off
      break;
    case 0xA0:
      fluid_synth_key_pressure(synth, channel, event.data1, event.data2);
      break;
    case 0xB0:
      fluid_synth_cc(synth, channel, event.data1, event.data2);
      break;
    case 0xC0:
      fluid_synth_program_change(synth, channel, event.data1);
      break;
    case 0xD0:
      fluid_synth_channel_pressure(synth, channel, event.data1);
      break;
    case 0xE0:
      fluid_synth_pitch_bend(synth, channel, event.data1 | (event.data2 << 7));
      break;
    default:
      if (event.status == 0xF0 && event.sysex_size > 0) {
        const char* body = reinterpret_cast<const char*>(timeline.sysex_bytes.data() + event.sysex_offset);
        fluid_synth_sysex(synth, body, static_cast<int>(event.sysex_size), nullptr, nullptr, nullptr, 0);
      }
      break;
  }
}

}  // namespace

size_t song_frame_count(const MidiTimeline& timeline) {
  double seconds = std::min(timeline.end_seconds, kMaxSongSeconds * 2) + kSongTailSeconds;
  auto frames = static_cast<size_t>(std::ceil(seconds * SynthInstance::kSampleRate));
  const size_t block = SynthInstance::kBlockFrames;
  return (frames + block - 1) / block * block;
}

bool check_song_length(const MidiTimeline& timeline, std::string* error) {
  if (timeline.end_seconds + kSongTailSeconds <= kMaxSongSeconds) return true;
  char text[160];
  std::snprintf(text, sizeof text, "エラー: 曲が長すぎます (%.0f 分; 音声は %.0f 分までです)\n",
                timeline.end_seconds / 60.0, kMaxSongSeconds / 60.0);
  *error = text;
  return false;
}

bool render_song(SynthInstance& synth, const MidiTimeline& timeline, const RenderProgress& progress,
                 std::vector<float>* stereo, std::string* error) {
  stereo->clear();
  if (!check_song_length(timeline, error)) return false;
  const size_t total = song_frame_count(timeline);
  stereo->assign(total * 2, 0.0f);

  size_t done = 0;
  size_t last_report = 0;
  auto render_until = [&](size_t target) {
    while (done < target) {
      size_t count = std::min(kChunkFrames, target - done);
      synth.render(stereo->data() + done * 2, static_cast<int>(count));
      done += count;
      if (progress && done - last_report >= kChunkFrames) {
        last_report = done;
        progress(done, total);
      }
    }
  };

  for (const TimedEvent& event : timeline.events) {
    auto frame = static_cast<size_t>(std::llround(event.seconds * SynthInstance::kSampleRate));
    render_until(std::min(frame, total));
    send_event(synth.synth(), timeline, event);
  }
  render_until(total);
  if (progress) progress(total, total);
  return true;
}

}  // namespace onpu::audio
