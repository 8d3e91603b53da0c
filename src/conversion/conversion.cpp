#include "conversion/conversion.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "beatmap/beatmap_writer.h"
#include "beatmap/note_merge.h"
#include "beatmap/note_placement.h"
#include "common/file_io.h"
#include "common/messages.h"
#include "common/progress.h"
#include "conversion/base_name.h"
#include "conversion/thinned_maps.h"
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

// Parts pay off in large files only: each thread that makes them needs room
// for a part's text, and fresh memory costs time. Each track restarts its
// reading at every part, so parts grow with the number of tracks.
uint64_t part_notes_for(const TrackScan& scan, const ConversionOptions& options) {
  if (options.part_notes > 0) return options.part_notes;
  constexpr uint64_t kNotesForParts = uint64_t{1} << 20;
  if (count_notes(scan) < kNotesForParts) return 0;
  return std::max<uint64_t>(kPartNotes, scan.tracks.size() * 128);
}

}  // namespace

ConversionResult analyse_midi(const ByteSource& source, Console& console, MidiAnalysis* analysis,
                              uint64_t checkpoint_interval) {
  uint64_t first_chunk_offset = 0;
  if (!read_midi_header(source, &analysis->header, &first_chunk_offset)) return failure(ConversionError::kInvalidMidi);
  const MidiHeader& header = analysis->header;
  console.out(format(msg::kHeaderLine, header.format, header.track_count));

  // Tempo map, time signatures and what the note pass needs to know first.
  analysis->tempo_map = TempoMap(header.division);
  analysis->scan = TrackScan();
  console.out(msg::kCollectingTempo);
  ScanResult scanned =
      scan_tracks(source, header.track_count, first_chunk_offset, &analysis->tempo_map, &analysis->scan, console,
                  checkpoint_interval);
  if (scanned.outcome == ScanOutcome::kInvalidTrackHeader) {
    return failure(ConversionError::kInvalidTrackHeader, scanned.track_index);
  }
  if (scanned.outcome == ScanOutcome::kReadFailed) return failure(ConversionError::kReadFailed);
  analysis->tempo_map.finish();
  analysis->max_time = compute_max_time(analysis->scan, analysis->tempo_map);
  return ConversionResult();
}

ConversionResult write_beatmap(const ByteSource& source, const MidiAnalysis& analysis, const std::string& base_name,
                               const ConversionOptions& options, OutputTarget& target, Console& console) {
  const TempoMap& tempo_map = analysis.tempo_map;
  const TrackScan& scan = analysis.scan;
  PlacementContext context;
  context.slider_mode = options.slider_mode;
  context.horizontal = options.horizontal;
  context.max_time = analysis.max_time;

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
  // The hit objects go to the sink straight from the note pass.
  text.flush();
  const NotePassPlan plan = plan_note_pass(scan, tempo_map, part_notes_for(scan, options), options.threads);
  const NotePassResult pass = write_hit_objects_in_time_order(source, scan, tempo_map, grid, context, plan, *sink,
                                                              console);
  if (!pass.ok) return failure(ConversionError::kReadFailed);
  if (!sink->finish()) return failure(ConversionError::kCannotWriteOsu);

  ConversionResult result;
  result.note_count = pass.note_count;
  result.tempo_change_count = tempo_map.tempo_change_count();
  result.keys_used = pass.keys_used;
  return result;
}

ConversionResult run_conversion(const ByteSource& source, const std::string& base_name,
                                const ConversionOptions& options, OutputTarget& target, Console& console) {
  MidiAnalysis analysis;
  ConversionResult analysed = analyse_midi(source, console, &analysis);
  if (analysed.error != ConversionError::kNone) return analysed;
  return write_beatmap(source, analysis, base_name, options, target, console);
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

namespace {

// Passes text on and keeps a copy, so that the lines of one analysis can be
// shown again for the next conversion of the same file. Stops keeping once
// the copy grows large (a file of nothing but tempo changes); the caller then
// analyses afresh.
class RecordingConsole : public Console {
 public:
  // Keeps nothing when keeping is false: there is no later conversion.
  RecordingConsole(Console& inner, bool keeping) : inner_(inner), complete_(keeping) {}
  void out(std::string_view text) override {
    inner_.out(text);
    keep(false, text);
  }
  void err(std::string_view text) override {
    inner_.err(text);
    keep(true, text);
  }
  bool complete() const { return complete_; }
  void replay(Console& console) const {
    for (const auto& [to_err, text] : lines_) to_err ? console.err(text) : console.out(text);
  }

 private:
  static constexpr size_t kMaxBytes = size_t{4} << 20;
  void keep(bool to_err, std::string_view text) {
    if (!complete_) return;
    bytes_ += text.size();
    if (bytes_ > kMaxBytes) {
      complete_ = false;
      lines_.clear();
      return;
    }
    lines_.emplace_back(to_err, std::string(text));
  }
  Console& inner_;
  std::vector<std::pair<bool, std::string>> lines_;
  size_t bytes_ = 0;
  bool complete_;
};

ConversionResult commit(AtomicFileTarget& target, ConversionResult result) {
  if (result.error != ConversionError::kNone) return result;
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
  return result;
}

}  // namespace

ConversionResult convert_midi_to_osu(const std::string& midi_path, const std::string& osu_path,
                                     const ConversionOptions& options, Console& console) {
  return convert_midi_to_osu_files(midi_path, {OutputRequest{osu_path, options, {}}}, console);
}

ConversionResult convert_midi_to_osu_files(const std::string& midi_path, const std::vector<OutputRequest>& outputs,
                                           Console& console) {
  ConversionResult last;
  std::FILE* midi = open_utf8_file(midi_path, "rb");
  if (!midi) {
    last.error = ConversionError::kCannotOpenMidi;
    console.err(error_message(last, midi_path, outputs.empty() ? std::string() : outputs[0].osu_path));
    return last;
  }
  FileSource source(midi);
  const std::string base_name = get_base_name(midi_path);
  MidiAnalysis analysis;
  RecordingConsole recording(console, outputs.size() > 1);
  std::bitset<256> keys;
  std::optional<MomentPlan> plan;        // made for the first thinned map
  std::optional<PlayHeader> set_header;  // the same for every map of a set
  std::vector<std::string> left_out;
  // Every map, the full ones and those for play, counts alike in the progress.
  size_t maps_total = 0;
  size_t maps_done = 0;
  for (const OutputRequest& output : outputs) maps_total += 1 + output.thinned.size();
  auto map_done = [&] { report_progress(ProgressStage::kMaps, static_cast<double>(++maps_done) / maps_total); };
  report_progress(ProgressStage::kReading, 0);
  for (size_t i = 0; i < outputs.size(); ++i) {
    const OutputRequest& output = outputs[i];
    console.out(format(msg::kAnalysing, midi_path.c_str()));
    ConversionResult result;
    if (i == 0 || !recording.complete()) {
      result = analyse_midi(source, i == 0 ? static_cast<Console&>(recording) : console, &analysis);
    } else {
      recording.replay(console);
    }
    if (i == 0 && result.error == ConversionError::kNone) {
      report_progress(ProgressStage::kReading, 1);
      report_progress(ProgressStage::kMaps, 0);
    }
    AtomicFileTarget target(output.osu_path);
    if (result.error == ConversionError::kNone) {
      result = commit(target, write_beatmap(source, analysis, base_name, output.options, target, console));
    }
    if (result.error != ConversionError::kNone) {
      std::fclose(midi);
      console.err(error_message(result, midi_path, output.osu_path));
      return result;
    }
    console.out(format(msg::kSummary, result.note_count, result.tempo_change_count));
    console.out(format(msg::kCreated, output.osu_path.c_str()));
    keys |= result.keys_used;
    last = result;
    map_done();

    int lowest_top = INT_MAX;  // the lowest target that topped out, in hundredths
    for (const ThinnedRequest& thinned : output.thinned) {
      if (output.stop_at_top && thinned.target_hundredths > lowest_top) {
        console.out(format(msg::kThinnedMapAboveTop, thinned.target_hundredths / 100.0));
        left_out.push_back(thinned.osu_path);
        map_done();
        continue;
      }
      if (!plan) {
        plan.emplace();
        if (!plan_moments(source, analysis, &*plan)) {
          result.error = ConversionError::kReadFailed;
        } else if (plan->inferred) {
          console.out(format(msg::kTimingInferred, plan->slowest_bpm, plan->fastest_bpm, plan->meter));
        } else {
          console.out(msg::kTimingKept);
        }
      }
      if (output.in_set && !set_header && result.error == ConversionError::kNone) {
        set_header = set_header_for(analysis, *plan, base_name, output.background);
      }
      AtomicFileTarget thinned_target(thinned.osu_path);
      ThinnedMap chosen;
      if (result.error == ConversionError::kNone) {
        result =
            commit(thinned_target, write_thinned_beatmap(analysis, *plan, base_name, thinned.target_hundredths,
                                                         thinned_target, &chosen, set_header ? &*set_header : nullptr));
      }
      if (result.error != ConversionError::kNone) {
        std::fclose(midi);
        console.err(error_message(result, midi_path, thinned.osu_path));
        return result;
      }
      const std::string name = thinned.osu_path.substr(thinned.osu_path.find_last_of(kPathSeparator) + 1);
      console.out(format(msg::kThinnedMap, thinned.target_hundredths / 100.0, name.c_str(), chosen.rating.stars,
                         chosen.topped_out ? msg::kThinnedMapToppedOut : ""));
      if (chosen.topped_out) lowest_top = std::min(lowest_top, thinned.target_hundredths);
      map_done();
    }
  }
  std::fclose(midi);
  last.keys_used = keys;
  last.left_out = left_out;
  return last;
}

}  // namespace onpu
