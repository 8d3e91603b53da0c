#include "beats/performed_notes.h"

#include <algorithm>
#include <array>
#include <numeric>

#include "common/console.h"
#include "midi/midi_header.h"
#include "midi/track_reader.h"
#include "midi/track_scan.h"

namespace onpu {
namespace {

constexpr size_t kBufferSize = size_t{64} << 10;

struct TickedNote {
  uint64_t tick;
  uint64_t release_tick;
  uint32_t track;
  uint8_t key;
  uint8_t velocity;
};

}  // namespace

bool read_performed_song(const ByteSource& source, PerformedSong* song, size_t most_notes) {
  MidiHeader header;
  uint64_t first_chunk = 0;
  if (!read_midi_header(source, &header, &first_chunk)) return false;
  TempoMap tempo_map(header.division);
  TrackScan scan;
  CaptureConsole quiet;  // the scan describes tempo changes; nobody asked here
  if (scan_tracks(source, header.track_count, first_chunk, &tempo_map, &scan, quiet).outcome != ScanOutcome::kOk) {
    return false;
  }
  tempo_map.finish();

  std::vector<TickedNote> notes;
  for (uint32_t t = 0; t < scan.tracks.size(); ++t) {
    // The note sounding on each channel and key, as an index into notes.
    std::array<size_t, 16 * 128> sounding;
    sounding.fill(SIZE_MAX);
    auto release = [&](size_t slot, uint64_t tick) {
      if (sounding[slot] != SIZE_MAX) notes[sounding[slot]].release_tick = tick;
      sounding[slot] = SIZE_MAX;
    };
    TrackReader reader(source, scan.tracks[t], kBufferSize);
    TrackEvent event;
    ReadStatus status;
    while ((status = reader.next(&event)) == ReadStatus::kEvent) {
      const size_t slot = static_cast<size_t>(event.status & 0x0F) * 128 + (event.data1 & 0x7F);
      if (event.kind == EventKind::kNoteOn) {
        release(slot, event.tick);
        if (event.data2 == 0) continue;
        if (notes.size() >= most_notes) return false;
        sounding[slot] = notes.size();
        notes.push_back({event.tick, event.tick, t, static_cast<uint8_t>(event.data1 & 0x7F), event.data2});
      } else if (event.kind == EventKind::kChannel && (event.status & 0xF0) == 0x80) {
        release(slot, event.tick);
      }
    }
    if (status == ReadStatus::kFileEnded) return false;
  }
  std::stable_sort(notes.begin(), notes.end(), [](const TickedNote& a, const TickedNote& b) {
    return a.tick != b.tick ? a.tick < b.tick : a.track < b.track;
  });
  song->division = header.division;
  song->notes.clear();
  song->ticks.clear();
  for (const TickedNote& n : notes) {
    PerformedNote note;
    note.time_ms = seconds_to_ms(tempo_map.ticks_to_seconds(n.tick));
    note.end_ms = seconds_to_ms(tempo_map.ticks_to_seconds(n.release_tick));
    note.key = n.key;
    note.velocity = n.velocity;
    song->notes.push_back(note);
    song->ticks.push_back(n.tick);
  }
  return true;
}

}  // namespace onpu
