// The first walk over the track chunks: finds the tracks, collects the tempo
// map and time signatures (printing each change), and gathers what the note
// pass needs to know beforehand: the song length and the first notes.
#pragma once

#include <cstdint>
#include <vector>

#include "common/byte_source.h"
#include "common/console.h"
#include "midi/midi_header.h"
#include "midi/tempo_map.h"
#include "midi/track_reader.h"

namespace onpu {

// A Note On loud enough to become a hit object, as the scan met it.
struct ScannedNote {
  uint64_t tick = 0;
  int channel = 0;
  uint8_t key = 0;
  uint8_t velocity = 0;
};

// The lowest velocity that makes a hit object.
constexpr uint8_t kMinimumVelocity = 31;

// A place to start reading a track from, and how many of the track's notes
// that make hit objects come before it.
struct TrackCheckpoint {
  TrackPosition position;
  uint64_t notes_before = 0;
};

struct TrackScan {
  std::vector<TrackChunk> tracks;  // the "MTrk" chunks, in file order
  // Per track: the notes that make hit objects, and checkpoints in file order
  // about every checkpoint_interval bytes, so that the note pass can start
  // reading a track anywhere in the song.
  std::vector<uint64_t> note_counts;
  std::vector<std::vector<TrackCheckpoint>> checkpoints;
  // The latest event time of any track in whole milliseconds (0 with no
  // events), valid once the tempo map is finished: see compute_max_time.
  std::vector<uint64_t> last_ticks;  // per track; only tracks with an event
  // The first notes in track order (at most five): the slider modes describe
  // them on the console.
  std::vector<ScannedNote> first_notes;
  // The read failures the note pass reports, one per track at most, in track
  // order: kMetaCut or kNoteOnCut.
  std::vector<ReadStatus> note_pass_failures;
};

enum class ScanOutcome { kOk, kInvalidTrackHeader, kReadFailed };

struct ScanResult {
  ScanOutcome outcome = ScanOutcome::kOk;
  int track_index = 0;  // the track looked for, with kInvalidTrackHeader
};

inline constexpr size_t kFirstNotesKept = 5;

// The bytes between two checkpoints of a track: at least 512, and more in a
// file of over 64 MB, so that a file has at most 131072 of them (4 MB).
uint64_t checkpoint_interval_for(uint64_t file_size);

// Walks track_count track chunks from first_chunk_offset, filling tempo_map
// (not yet finished) and scan, and printing the tempo, time-signature and
// meta-event lines. Stops at the first fatal problem. A checkpoint interval
// of 0 is chosen by the file's size.
ScanResult scan_tracks(const ByteSource& source, uint16_t track_count, uint64_t first_chunk_offset,
                       TempoMap* tempo_map, TrackScan* scan, Console& console, uint64_t checkpoint_interval = 0);

// The notes of all tracks that make hit objects.
uint64_t count_notes(const TrackScan& scan);

// The song length: the latest event time of any track, in whole milliseconds.
int32_t compute_max_time(const TrackScan& scan, const TempoMap& tempo_map);

}  // namespace onpu
