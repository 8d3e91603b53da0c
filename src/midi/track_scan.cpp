#include "midi/track_scan.h"

#include <algorithm>
#include <utility>

#include "common/messages.h"

namespace onpu {
namespace {

constexpr size_t kScanBufferSize = 1 << 16;

void handle_meta(const TrackEvent& event, TempoMap* tempo_map, Console& console) {
  const unsigned long long tick = event.tick;
  if (event.meta_type == 0x51 && event.meta_length == 3) {
    const uint8_t* d = event.meta_data;
    uint32_t tempo = (uint32_t{d[0]} << 16) | (uint32_t{d[1]} << 8) | d[2];
    if (tempo == 0) {
      // A tempo of 0 would stop time; it is a broken event, not a tempo.
      console.err(format(msg::kTempoZeroIgnored, tick));
      return;
    }
    double bpm = 60000000.0 / tempo;
    console.out(format(msg::kTempoFound, tick, tempo, tempo, bpm));
    console.out(format(msg::kTempoFormula, tempo, bpm));
    tempo_map->add_tempo(event.tick, tempo);
  } else if (event.meta_type == 0x58 && event.meta_length == 4) {
    tempo_map->add_time_signature(event.tick, event.meta_data);
    const TimeSignature& added = tempo_map->time_signatures().back();
    console.out(format(msg::kTimeSignatureFound, tick, added.numerator, added.denominator));
  }
}

}  // namespace

uint64_t checkpoint_interval_for(uint64_t file_size) {
  constexpr uint64_t kMinInterval = 512;
  constexpr uint64_t kMaxCheckpoints = 131072;
  return std::max(kMinInterval, file_size / kMaxCheckpoints);
}

ScanResult scan_tracks(const ByteSource& source, uint16_t track_count, uint64_t first_chunk_offset,
                       TempoMap* tempo_map, TrackScan* scan, Console& console, uint64_t checkpoint_interval) {
  if (checkpoint_interval == 0) checkpoint_interval = checkpoint_interval_for(source.size());
  ScanResult result;
  uint64_t offset = first_chunk_offset;
  for (int index = 0; index < track_count; ++index) {
    TrackChunk chunk;
    ChunkSearch search = find_track_chunk(source, offset, &chunk);
    if (search != ChunkSearch::kFound) {
      result.outcome = search == ChunkSearch::kInvalidTag ? ScanOutcome::kInvalidTrackHeader : ScanOutcome::kReadFailed;
      result.track_index = index;
      return result;
    }
    offset = chunk.next_offset;
    scan->tracks.push_back(chunk);

    TrackReader reader(source, chunk, kScanBufferSize);
    std::vector<TrackCheckpoint> checkpoints;
    uint64_t notes = 0;
    uint64_t next_checkpoint = chunk.data_offset + checkpoint_interval;
    TrackEvent event;
    ReadStatus status;
    while (true) {
      const TrackPosition here = reader.position_between_events();
      if (here.offset >= next_checkpoint) {
        checkpoints.push_back(TrackCheckpoint{here, notes});
        next_checkpoint = here.offset + checkpoint_interval;
      }
      if ((status = reader.next(&event)) != ReadStatus::kEvent) break;
      if (event.kind == EventKind::kMeta) {
        handle_meta(event, tempo_map, console);
      } else if (event.kind == EventKind::kNoteOn && event.data2 >= kMinimumVelocity) {
        ++notes;
        if (scan->first_notes.size() < kFirstNotesKept) {
          scan->first_notes.push_back(ScannedNote{event.tick, event.status & 0x0F, event.data1, event.data2});
        }
      }
    }
    scan->note_counts.push_back(notes);
    scan->checkpoints.push_back(std::move(checkpoints));
    if (status == ReadStatus::kFileEnded) {
      result.outcome = ScanOutcome::kReadFailed;
      result.track_index = index;
      return result;
    }
    if (status == ReadStatus::kMetaCut) console.err(msg::kMetaReadFailed);
    if (status == ReadStatus::kMetaCut || status == ReadStatus::kNoteOnCut) {
      scan->note_pass_failures.push_back(status);
    }
    scan->last_ticks.push_back(reader.has_status_tick() ? reader.last_status_tick() : 0);
  }
  return result;
}

int32_t compute_max_time(const TrackScan& scan, const TempoMap& tempo_map) {
  // Times only grow within a track, so its last event is its latest.
  int32_t max_time = 0;
  for (uint64_t tick : scan.last_ticks) {
    int32_t t = seconds_to_ms(tempo_map.ticks_to_seconds(tick));
    if (t > max_time) max_time = t;
  }
  return max_time;
}

}  // namespace onpu
