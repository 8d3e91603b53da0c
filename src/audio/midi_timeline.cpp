#include "audio/midi_timeline.h"

#include <algorithm>
#include <limits>

#include "common/byte_source.h"
#include "common/messages.h"
#include "midi/midi_header.h"
#include "midi/tempo_map.h"
#include "midi/track_reader.h"

namespace onpu::audio {
namespace {

constexpr size_t kReadBufferSize = 1 << 16;
// A larger system exclusive message is no setup a synthesizer acts on (those
// are a few hundred bytes at most); it is passed over, not copied.
constexpr uint64_t kMaxSysexBytes = 64 * 1024;

struct PendingEvent {
  uint64_t tick = 0;
  TimedEvent event;  // everything but the seconds
};

uint8_t clamp_data(uint8_t byte) { return byte > 127 ? 127 : byte; }

// Copies a system exclusive body into *sysex_bytes; false when it is passed
// over. The reader has checked that the body lies inside the bytes.
bool keep_sysex(const std::vector<uint8_t>& bytes, const TrackEvent& event, std::vector<uint8_t>* sysex_bytes,
                TimedEvent* timed) {
  uint64_t size = event.data_length;
  if (size > kMaxSysexBytes) return false;
  const uint8_t* body = bytes.data() + event.data_offset;
  if (size > 0 && body[size - 1] == 0xF7) --size;
  // Offsets are 32-bit; a song with 4 GB of setup messages is not a song.
  if (sysex_bytes->size() + size > std::numeric_limits<uint32_t>::max()) return false;
  timed->status = 0xF0;
  timed->sysex_offset = static_cast<uint32_t>(sysex_bytes->size());
  timed->sysex_size = static_cast<uint32_t>(size);
  sysex_bytes->insert(sysex_bytes->end(), body, body + size);
  return true;
}

}  // namespace

bool read_midi_timeline(const std::vector<uint8_t>& bytes, MidiTimeline* timeline, std::string* error) {
  *timeline = MidiTimeline();
  MemorySource source(bytes.data(), bytes.size());
  MidiHeader header;
  uint64_t offset = 0;
  if (!read_midi_header(source, &header, &offset)) {
    *error = msg::kInvalidMidi;
    return false;
  }

  // Tempo changes and events are read the way the converter reads them, so
  // the song stays in time with the hit objects whatever the file's damage.
  TempoMap tempo_map(header.division);
  std::vector<PendingEvent> pending;
  uint64_t last_tick = 0;
  for (int index = 0; index < header.track_count; ++index) {
    TrackChunk chunk;
    // The conversion before has refused a file whose tracks are damaged like
    // this; a direct caller gets the tracks up to the damage.
    if (find_track_chunk(source, offset, &chunk) != ChunkSearch::kFound) break;
    offset = chunk.next_offset;
    TrackReader reader(source, chunk, kReadBufferSize);
    TrackEvent event;
    ReadStatus status;
    while ((status = reader.next(&event)) == ReadStatus::kEvent) {
      PendingEvent item;
      item.tick = event.tick;
      if (event.kind == EventKind::kNoteOn || event.kind == EventKind::kChannel) {
        item.event.status = event.status;
        item.event.data1 = clamp_data(event.data1);
        item.event.data2 = clamp_data(event.data2);
      } else if (event.kind == EventKind::kMeta) {
        if (event.meta_type == 0x51 && event.meta_length == 3) {
          const uint8_t* d = event.meta_data;
          uint32_t tempo = (uint32_t{d[0]} << 16) | (uint32_t{d[1]} << 8) | d[2];
          if (tempo != 0) tempo_map.add_tempo(event.tick, tempo);
        }
        continue;
      } else if (event.status != 0xF0 || !keep_sysex(bytes, event, &timeline->sysex_bytes, &item.event)) {
        continue;  // F7 packets (continuations, escapes) and system common bytes are not played
      }
      pending.push_back(item);
    }
    if (reader.has_status_tick()) last_tick = std::max(last_tick, reader.last_status_tick());
    if (status == ReadStatus::kFileEnded) break;
  }
  tempo_map.finish();

  // Per-track lists concatenated in track order: a stable sort by tick keeps
  // track order, then file order, at equal ticks.
  std::stable_sort(pending.begin(), pending.end(),
                   [](const PendingEvent& a, const PendingEvent& b) { return a.tick < b.tick; });
  timeline->events.reserve(pending.size());
  TempoCursor cursor(tempo_map);
  for (const PendingEvent& item : pending) {
    timeline->events.push_back(item.event);
    timeline->events.back().seconds = cursor.seconds(item.tick);
  }
  // The song length of the beatmap: the latest event of any track.
  timeline->end_seconds = tempo_map.ticks_to_seconds(last_tick);
  return true;
}

}  // namespace onpu::audio
