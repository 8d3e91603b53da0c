#include "midi/track_scan.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "common/messages.h"
#include "common/threads.h"

namespace onpu {
namespace {

constexpr size_t kScanBufferSize = 1 << 16;
// Tracks are walked in groups, side by side, and their findings taken in
// track order; a group's findings are all that is held at once.
constexpr size_t kTracksAtOnce = 64;
// Threads pay off only for groups of this many bytes.
constexpr uint64_t kBytesForThreads = uint64_t{1} << 20;

// A Set Tempo or Time Signature event.
struct MetaEvent {
  uint64_t tick = 0;
  uint8_t type = 0;
  uint8_t data[4] = {0, 0, 0, 0};
};

// What walking one track finds, to be taken in track order.
struct TrackWalk {
  std::vector<MetaEvent> metas;
  std::vector<ScannedNote> first_notes;  // at most kFirstNotesKept
  uint64_t notes = 0;
  std::vector<TrackCheckpoint> checkpoints;
  ReadStatus end = ReadStatus::kTrackEnded;
  bool has_status_tick = false;
  uint64_t last_status_tick = 0;
};

void walk_track(const ByteSource& source, const TrackChunk& chunk, uint64_t checkpoint_interval, TrackWalk* walk) {
  TrackReader reader(source, chunk, kScanBufferSize);
  uint64_t next_checkpoint = chunk.data_offset + checkpoint_interval;
  TrackEvent event;
  ReadStatus status;
  while (true) {
    const TrackPosition here = reader.position_between_events();
    if (here.offset >= next_checkpoint) {
      walk->checkpoints.push_back(TrackCheckpoint{here, walk->notes});
      next_checkpoint = here.offset + checkpoint_interval;
    }
    if ((status = reader.next(&event)) != ReadStatus::kEvent) break;
    if (event.kind == EventKind::kMeta) {
      if ((event.meta_type == 0x51 && event.meta_length == 3) || (event.meta_type == 0x58 && event.meta_length == 4)) {
        MetaEvent meta;
        meta.tick = event.tick;
        meta.type = event.meta_type;
        std::copy(event.meta_data, event.meta_data + 4, meta.data);
        walk->metas.push_back(meta);
      }
    } else if (event.kind == EventKind::kNoteOn && event.data2 >= kMinimumVelocity) {
      ++walk->notes;
      if (walk->first_notes.size() < kFirstNotesKept) {
        walk->first_notes.push_back(ScannedNote{event.tick, event.status & 0x0F, event.data1, event.data2});
      }
    }
  }
  walk->end = status;
  walk->has_status_tick = reader.has_status_tick();
  walk->last_status_tick = reader.last_status_tick();
}

void take_meta(const MetaEvent& event, TempoMap* tempo_map, Console& console) {
  const unsigned long long tick = event.tick;
  if (event.type == 0x51) {
    const uint8_t* d = event.data;
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
  } else {
    tempo_map->add_time_signature(event.tick, event.data);
    const TimeSignature& added = tempo_map->time_signatures().back();
    console.out(format(msg::kTimeSignatureFound, tick, added.numerator, added.denominator));
  }
}

// Walks chunks[first, first + walks->size()) into *walks, on several threads
// when the tracks are large enough to be worth it.
void walk_tracks(const ByteSource& source, const std::vector<TrackChunk>& chunks, size_t first,
                 uint64_t checkpoint_interval, std::vector<TrackWalk>* walks) {
  uint64_t bytes = 0;
  for (size_t i = 0; i < walks->size(); ++i) bytes += chunks[first + i].data_end - chunks[first + i].data_offset;
  const size_t threads = bytes >= kBytesForThreads ? std::min<size_t>(core_threads(), walks->size()) : 1;
  std::atomic<size_t> next{0};
  run_on_threads(threads, [&] {
    for (size_t i = next.fetch_add(1); i < walks->size(); i = next.fetch_add(1)) {
      walk_track(source, chunks[first + i], checkpoint_interval, &(*walks)[i]);
    }
  });
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
  // The chunks first: each starts where the one before says it ends.
  ScanResult result;
  std::vector<TrackChunk> chunks;
  uint64_t offset = first_chunk_offset;
  for (int index = 0; index < track_count; ++index) {
    TrackChunk chunk;
    ChunkSearch search = find_track_chunk(source, offset, &chunk);
    if (search != ChunkSearch::kFound) {
      result.outcome = search == ChunkSearch::kInvalidTag ? ScanOutcome::kInvalidTrackHeader : ScanOutcome::kReadFailed;
      result.track_index = index;
      break;
    }
    offset = chunk.next_offset;
    chunks.push_back(chunk);
  }

  // Then the tracks, whose findings are taken in order: the lines come out
  // and the tempo map fills as if the tracks were walked one by one.
  for (size_t first = 0; first < chunks.size(); first += kTracksAtOnce) {
    std::vector<TrackWalk> walks(std::min(kTracksAtOnce, chunks.size() - first));
    walk_tracks(source, chunks, first, checkpoint_interval, &walks);
    for (size_t i = 0; i < walks.size(); ++i) {
      TrackWalk& walk = walks[i];
      scan->tracks.push_back(chunks[first + i]);
      for (const MetaEvent& meta : walk.metas) take_meta(meta, tempo_map, console);
      for (const ScannedNote& note : walk.first_notes) {
        if (scan->first_notes.size() < kFirstNotesKept) scan->first_notes.push_back(note);
      }
      scan->note_counts.push_back(walk.notes);
      scan->checkpoints.push_back(std::move(walk.checkpoints));
      if (walk.end == ReadStatus::kFileEnded) {
        result.outcome = ScanOutcome::kReadFailed;
        result.track_index = static_cast<int>(first + i);
        return result;
      }
      if (walk.end == ReadStatus::kMetaCut) console.err(msg::kMetaReadFailed);
      if (walk.end == ReadStatus::kMetaCut || walk.end == ReadStatus::kNoteOnCut) {
        scan->note_pass_failures.push_back(walk.end);
      }
      scan->last_ticks.push_back(walk.has_status_tick ? walk.last_status_tick : 0);
    }
  }
  return result;
}

uint64_t count_notes(const TrackScan& scan) {
  uint64_t total = 0;
  for (uint64_t count : scan.note_counts) total += count;
  return total;
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
