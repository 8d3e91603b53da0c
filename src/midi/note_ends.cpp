#include "midi/note_ends.h"

#include <array>
#include <unordered_map>

#include "midi/track_reader.h"

namespace onpu {
namespace {

constexpr size_t kBufferSize = size_t{64} << 10;

uint64_t note_id(uint64_t tick, uint8_t channel, uint8_t key) {
  return (tick << 11) ^ (static_cast<uint64_t>(channel & 0x0F) << 7) ^ (key & 0x7F);
}

}  // namespace

bool find_note_releases(const ByteSource& source, const TrackScan& scan, std::vector<HeldNote>* notes) {
  // The notes asked for, by their Note On: several notes may share one.
  std::unordered_multimap<uint64_t, size_t> wanted;
  wanted.reserve(notes->size());
  for (size_t i = 0; i < notes->size(); ++i) {
    HeldNote& note = (*notes)[i];
    note.release_tick = note.tick;
    wanted.emplace(note_id(note.tick, note.channel, note.key), i);
  }
  if (wanted.empty()) return true;

  constexpr uint64_t kNone = UINT64_MAX;
  for (const TrackChunk& chunk : scan.tracks) {
    // The tick of the sounding Note On of each channel and key.
    std::array<uint64_t, 16 * 128> sounding;
    sounding.fill(kNone);
    auto release = [&](uint8_t channel, uint8_t key, uint64_t tick) {
      const size_t slot = static_cast<size_t>(channel) * 128 + (key & 0x7F);
      if (sounding[slot] == kNone) return;
      auto [first, last] = wanted.equal_range(note_id(sounding[slot], channel, key));
      for (auto it = first; it != last; ++it) {
        HeldNote& note = (*notes)[it->second];
        if (note.tick == sounding[slot] && note.channel == channel && note.key == key && note.release_tick == note.tick) {
          note.release_tick = tick;
        }
      }
      sounding[slot] = kNone;
    };
    TrackReader reader(source, chunk, kBufferSize);
    TrackEvent event;
    ReadStatus status;
    while ((status = reader.next(&event)) == ReadStatus::kEvent) {
      const uint8_t high = event.status & 0xF0;
      const uint8_t channel = event.status & 0x0F;
      if (event.kind == EventKind::kNoteOn) {
        release(channel, event.data1, event.tick);
        if (event.data2 > 0) sounding[static_cast<size_t>(channel) * 128 + (event.data1 & 0x7F)] = event.tick;
      } else if (event.kind == EventKind::kChannel && high == 0x80) {
        release(channel, event.data1, event.tick);
      }
    }
    if (status == ReadStatus::kFileEnded) return false;
  }
  return true;
}

}  // namespace onpu
