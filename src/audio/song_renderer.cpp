#include "audio/song_renderer.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "common/threads.h"

namespace onpu::audio {
namespace {

// Frames rendered per part between two hand-overs to the sink; also how
// often progress is told.
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

// One part: its synthesizer and how far it has come through the timeline.
class PartPlayer {
 public:
  PartPlayer(std::unique_ptr<SynthInstance> synth, const MidiTimeline& timeline, const SongPartPlan& plan, int part,
             size_t total_frames)
      : synth_(std::move(synth)), timeline_(timeline), plan_(plan), part_(part), total_(total_frames) {}

  // Renders the next `frames` frames into `out`, sending the part's events
  // on the way. An event is sent once every frame before its own is
  // rendered, whatever the chunks, so the output does not depend on them.
  void render(float* out, size_t frames) {
    const size_t end = done_ + frames;
    size_t at = done_;
    for (; next_ < timeline_.events.size(); ++next_) {
      const TimedEvent& event = timeline_.events[next_];
      auto frame = static_cast<size_t>(std::llround(event.seconds * SynthInstance::kSampleRate));
      frame = std::min(frame, total_);
      if (frame >= end) break;  // the next chunk's, or past the song's end
      if (frame > at) {
        synth_->render(out + (at - done_) * 2, static_cast<int>(frame - at));
        at = frame;
      }
      if (part_plays(plan_, part_, event)) send_event(synth_->synth(), timeline_, event);
    }
    if (end > at) synth_->render(out + (at - done_) * 2, static_cast<int>(end - at));
    done_ = end;
  }

 private:
  std::unique_ptr<SynthInstance> synth_;
  const MidiTimeline& timeline_;
  const SongPartPlan& plan_;
  const int part_;
  const size_t total_;
  size_t done_ = 0;
  size_t next_ = 0;
};

// Runs one PartPlayer on a thread of its own, chunk after chunk (the same
// chunks as the caller's), up to kAhead chunks ahead of the one taken. Each
// part's chunks take more or less time than the other's; running ahead
// evens that out instead of waiting for the slower one at every chunk.
class PartThread {
 public:
  static constexpr size_t kAhead = 8;

  PartThread(PartPlayer& player, size_t total_frames)
      : player_(player), total_(total_frames), buffers_(kAhead, std::vector<float>(kChunkFrames * 2)),
        thread_([this] { run(); }) {}
  ~PartThread() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();  // after the chunk in hand, if any
  }
  PartThread(const PartThread&) = delete;
  PartThread& operator=(const PartThread&) = delete;

  // The next chunk, once rendered; valid until release().
  const float* take() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return rendered_ > taken_; });
    return buffers_[taken_ % kAhead].data();
  }

  void release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++taken_;
    }
    changed_.notify_all();
  }

 private:
  void run() {
    size_t done = 0;
    for (size_t chunk = 0; done < total_; ++chunk) {
      {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || chunk - taken_ < kAhead; });
        if (stop_) return;
      }
      size_t count = std::min(kChunkFrames, total_ - done);
      player_.render(buffers_[chunk % kAhead].data(), count);
      done += count;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        rendered_ = chunk + 1;
      }
      changed_.notify_all();
    }
  }

  PartPlayer& player_;
  const size_t total_;
  std::vector<std::vector<float>> buffers_;
  std::mutex mutex_;
  std::condition_variable changed_;
  size_t rendered_ = 0;  // chunks rendered
  size_t taken_ = 0;     // chunks released by the caller
  bool stop_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

}  // namespace

size_t song_frame_count(const MidiTimeline& timeline) {
  double seconds = std::min(timeline.end_seconds, kMaxSongSeconds * 2) + kSongTailSeconds;
  auto frames = static_cast<size_t>(std::ceil(seconds * SynthInstance::kSampleRate));
  const size_t block = SynthInstance::kBlockFrames;
  return (frames + block - 1) / block * block;
}

bool check_song_length(const MidiTimeline& timeline, std::string* error) {
  if (timeline.end_seconds + kSongTailSeconds <= kMaxSongSeconds) return true;
  char text[200];
  std::snprintf(text, sizeof text,
                "エラー: 曲が長すぎます (%.1f 時間; 音声は %.0f 時間までです。テンポか時刻が壊れていませんか)\n",
                timeline.end_seconds / 3600.0, kMaxSongSeconds / 3600.0);
  *error = text;
  return false;
}

bool render_song(const std::string& soundfont, const MidiTimeline& timeline, const SongPartPlan& plan,
                 const RenderProgress& progress, const SongSink& sink, std::string* error) {
  if (!check_song_length(timeline, error)) return false;
  const size_t total = song_frame_count(timeline);
  const int parts = std::clamp(plan.parts_used, 1, kSongParts);
  std::vector<std::unique_ptr<PartPlayer>> players;
  for (int part = 0; part < parts; ++part) {
    // The parts share one synthesizer's voices: a dense song steals voices
    // as one synthesizer would, and costs no more to render.
    std::unique_ptr<SynthInstance> synth =
        SynthInstance::create(soundfont, true, error, SynthInstance::kPolyphony / parts);
    if (!synth) return false;
    players.push_back(std::make_unique<PartPlayer>(std::move(synth), timeline, plan, part, total));
  }

  std::vector<float> mix(kChunkFrames * 2);
  // The second part's chunks when no thread can be started for it: then
  // this thread renders them too, with the same result.
  std::vector<float> second;
  // Declared after everything it touches, so it stops before they go.
  std::unique_ptr<PartThread> helper;
  if (parts > 1 && !kThreadsAvailable) {
    second.resize(kChunkFrames * 2);
  } else if (parts > 1) {
    try {
      helper = std::make_unique<PartThread>(*players[1], total);
    } catch (const std::system_error&) {
      second.resize(kChunkFrames * 2);
    }
  }

  for (size_t done = 0; done < total;) {
    size_t count = std::min(kChunkFrames, total - done);
    players[0]->render(mix.data(), count);
    if (parts > 1) {
      if (!helper) players[1]->render(second.data(), count);
      const float* other = helper ? helper->take() : second.data();
      for (size_t i = 0; i < count * 2; ++i) mix[i] += other[i];
      if (helper) helper->release();
    }
    if (!sink(mix.data(), count)) return false;
    done += count;
    if (progress) progress(done, total);
  }
  return true;
}

}  // namespace onpu::audio
