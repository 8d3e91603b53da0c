#include "midi/conversion.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "beatmap/beatmap_writer.h"
#include "beatmap/hit_object_writer.h"
#include "beatmap/note_merge.h"
#include "beatmap/note_placement.h"
#include "cli/base_name.h"
#include "cli/file_io.h"
#include "common/messages.h"
#include "midi/measure_grid.h"
#include "midi/midi_header.h"
#include "midi/tempo_map.h"
#include "midi/track_scan.h"

namespace onpu {
namespace {

ConversionResult failure(ConversionError error, int track_index = 0) {
  ConversionResult result;
  result.error = error;
  result.track_index = track_index;
  return result;
}

// The first placed notes, described before the note pass writes anything:
// they are the first notes of the first tracks, while the lines are written
// in time order across all tracks.
void describe_first_notes(const TrackScan& scan, const TempoMap& tempo_map, const std::vector<Measure>& grid,
                          const PlacementContext& context, Console& console) {
  for (const ScannedNote& note : scan.first_notes) {
    int32_t time = seconds_to_ms(tempo_map.ticks_to_seconds(note.tick));
    Placement placement = place_note(context, time, find_measure(grid, time), note.channel, note.key, note.velocity);
    console.out(describe_placement(placement, context.max_time));
  }
}

}  // namespace

ConversionResult run_conversion(const ByteSource& source, const std::string& base_name,
                                const ConversionOptions& options, OutputTarget& target, Console& console) {
  MidiHeader header;
  uint64_t first_chunk_offset = 0;
  if (!read_midi_header(source, &header, &first_chunk_offset)) return failure(ConversionError::kInvalidMidi);
  console.out(format(msg::kHeaderLine, header.format, header.track_count));

  // Tempo map, time signatures and what the note pass needs to know first.
  TempoMap tempo_map(header.division);
  console.out(msg::kCollectingTempo);
  TrackScan scan;
  ScanResult scanned = scan_tracks(source, header.track_count, first_chunk_offset, &tempo_map, &scan, console);
  if (scanned.outcome == ScanOutcome::kInvalidTrackHeader) {
    return failure(ConversionError::kInvalidTrackHeader, scanned.track_index);
  }
  if (scanned.outcome == ScanOutcome::kReadFailed) return failure(ConversionError::kReadFailed);
  tempo_map.finish();

  PlacementContext context;
  context.slider_mode = options.slider_mode;
  context.horizontal = options.horizontal;
  context.max_time = compute_max_time(scan, tempo_map);

  std::vector<Measure> grid;
  if (options.slider_mode) {
    grid = build_measure_grid(tempo_map, context.max_time);
    console.out(print_measure_grid(grid));
  }

  OutputSink* sink = target.open();
  if (!sink) return failure(ConversionError::kCannotCreateOsu);
  TextBuffer text(*sink);
  write_beatmap_header(text, base_name, options.version_name, tempo_map);

  console.out(msg::kExtractingNotes);
  for (ReadStatus failed : scan.note_pass_failures) {
    console.err(failed == ReadStatus::kMetaCut ? msg::kMetaReadFailed : msg::kNoteOnReadFailed);
  }
  if (options.slider_mode) describe_first_notes(scan, tempo_map, grid, context, console);
  HitObjectWriter writer(text, console);
  if (!write_hit_objects_in_time_order(source, scan.tracks, tempo_map, grid, context, writer)) {
    return failure(ConversionError::kReadFailed);
  }
  text.flush();
  if (!sink->ok()) return failure(ConversionError::kCannotWriteOsu);

  ConversionResult result;
  result.note_count = writer.note_count();
  result.tempo_change_count = tempo_map.tempo_change_count();
  result.keys_used = writer.keys_used();
  return result;
}

std::string error_message(const ConversionResult& result, const std::string& midi_path, const std::string& osu_path) {
  switch (result.error) {
    case ConversionError::kNone:
      break;
    case ConversionError::kCannotOpenMidi:
      return format(msg::kCannotOpenMidi, midi_path.c_str());
    case ConversionError::kInvalidMidi:
      return msg::kInvalidMidi;
    case ConversionError::kInvalidTrackHeader:
      return format(msg::kInvalidTrackHeader, result.track_index);
    case ConversionError::kReadFailed:
      return msg::kReadFailed;
    case ConversionError::kCannotCreateOsu:
      return format(msg::kCannotCreateOsu, osu_path.c_str());
    case ConversionError::kCannotWriteOsu:
      return format(msg::kCannotWriteOsu, osu_path.c_str());
  }
  return std::string();
}

namespace {

class AtomicFileTarget : public OutputTarget {
 public:
  explicit AtomicFileTarget(const std::string& path) : path_(path) {}
  OutputSink* open() override {
    if (!file_.open(path_)) return nullptr;
    sink_.reset(new FileSink(file_.stream()));
    return sink_.get();
  }
  AtomicOutputFile& file() { return file_; }

 private:
  std::string path_;
  AtomicOutputFile file_;
  std::unique_ptr<FileSink> sink_;
};

}  // namespace

ConversionResult convert_midi_to_osu(const std::string& midi_path, const std::string& osu_path,
                                     const ConversionOptions& options, Console& console) {
  ConversionResult result;
  std::FILE* midi = open_utf8_file(midi_path, "rb");
  if (!midi) {
    result.error = ConversionError::kCannotOpenMidi;
  } else {
    console.out(format(msg::kAnalysing, midi_path.c_str()));
    FileSource source(midi);
    AtomicFileTarget target(osu_path);
    result = run_conversion(source, get_base_name(midi_path), options, target, console);
    std::fclose(midi);
    if (result.error == ConversionError::kNone) {
      switch (target.file().commit()) {
        case AtomicOutputFile::CommitResult::kOk:
          break;
        case AtomicOutputFile::CommitResult::kWriteFailed:
          result.error = ConversionError::kCannotWriteOsu;
          break;
        case AtomicOutputFile::CommitResult::kRenameFailed:
          result.error = ConversionError::kCannotCreateOsu;
          break;
      }
    }
  }
  if (result.error != ConversionError::kNone) {
    console.err(error_message(result, midi_path, osu_path));
    return result;
  }
  console.out(format(msg::kSummary, result.note_count, result.tempo_change_count));
  console.out(format(msg::kCreated, osu_path.c_str()));
  return result;
}

}  // namespace onpu
