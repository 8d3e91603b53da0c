// libFuzzer target: the whole conversion, in each of the three modes, on
// arbitrary bytes. Nothing touches the disk or the console: the MIDI bytes
// are read from memory, the beatmap goes to a sink that keeps no text and
// the console drops every line.
//
// Besides the sanitizers' own checks, the target holds the conversion to
// what any input must give:
//   - the three modes agree on the outcome, the note count and the tempo
//     changes (the mode changes where a note goes, never which notes there
//     are);
//   - a successful conversion wrote a beatmap with one hit-object line per
//     note, in ascending time, each inside the playfield (x 0-512, y 0-384);
//   - every note costs at least three bytes of the file (delta time, key,
//     velocity), so there are never more notes than a third of the bytes;
//   - the note pass cut into parts of a few notes, made by several threads,
//     writes the same beatmap as the whole pass;
//   - a map thinned to a star rating (of a song up to 3 minutes long) holds
//     no more circles than the full map, in ascending time, inside the
//     playfield, and rates a finite number of stars.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/byte_source.h"
#include "common/console.h"
#include "common/output_sink.h"
#include "conversion/conversion.h"
#include "conversion/thinned_maps.h"

namespace {

void check(bool holds) {
  if (!holds) std::abort();
}

// Follows the beatmap text line by line without keeping it, and checks the
// hit-object lines: "x,y,time,type,...".
class CheckingSink : public onpu::OutputSink {
 public:
  void write(const char* data, size_t n) override {
    bytes += n;
    text.append(data, n);
    for (size_t i = 0; i < n; ++i) {
      if (data[i] != '\n') {
        if (line_.size() < kLongestLine) line_.push_back(data[i]);
        continue;
      }
      take_line();
      line_.clear();
    }
  }
  bool ok() const override { return true; }

  uint64_t bytes = 0;
  std::string text;
  int hit_objects = 0;
  bool in_hit_objects = false;
  bool line_open() const { return !line_.empty(); }

 private:
  static constexpr size_t kLongestLine = 256;

  void take_line() {
    if (!in_hit_objects) {
      in_hit_objects = line_ == "[HitObjects]";
      return;
    }
    long fields[3];
    const char* p = line_.c_str();
    for (long& field : fields) {
      char* end = nullptr;
      field = std::strtol(p, &end, 10);
      check(end != p && *end == ',');
      p = end + 1;
    }
    check(fields[0] >= 0 && fields[0] <= 512);
    check(fields[1] >= 0 && fields[1] <= 384);
    check(fields[2] >= previous_time_);
    previous_time_ = fields[2];
    ++hit_objects;
  }

  std::string line_;
  long previous_time_ = 0;
};

class CheckingTarget : public onpu::OutputTarget {
 public:
  onpu::OutputSink* open() override {
    opened = true;
    return &sink;
  }
  CheckingSink sink;
  bool opened = false;
};

onpu::ConversionOptions options_for(int mode) {
  onpu::ConversionOptions options;
  options.slider_mode = mode != 0;
  options.horizontal = mode == 2;
  options.version_name = mode == 0 ? "Circle Mode" : mode == 1 ? "Vertical Slider Mode" : "Horizontal Slider Mode";
  return options;
}

// The map for play, the same in every mode: no more circles than the full
// map's note_count, in ascending time, inside the playfield, rating a finite
// number of stars. Inferring the beats of a performance costs time for every
// 10 ms of music, and a few bytes can hold an hour of it: longer songs would
// only find the time limit.
void check_map_for_play(const onpu::ByteSource& source, size_t size, int note_count) {
  constexpr int32_t kLongestSongMs = 3 * 60 * 1000;
  onpu::NullConsole console;
  onpu::MidiAnalysis analysis;
  check(onpu::analyse_midi(source, console, &analysis).error == onpu::ConversionError::kNone);
  if (analysis.max_time > kLongestSongMs) return;
  onpu::MomentPlan plan;
  check(onpu::plan_moments(source, analysis, &plan));
  CheckingTarget thinned;
  onpu::ThinnedMap chosen;
  const int target_hundredths = 50 + static_cast<int>(size % 1151);
  onpu::ConversionResult thinned_result =
      onpu::write_thinned_beatmap(analysis, plan, "fuzz", target_hundredths, thinned, &chosen);
  check(thinned_result.error == onpu::ConversionError::kNone);
  check(thinned.sink.hit_objects == thinned_result.note_count && thinned_result.note_count <= note_count);
  check(chosen.rating.stars >= 0 && chosen.rating.stars < 1e6);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  onpu::MemorySource source(data, size);
  onpu::NullConsole console;
  onpu::ConversionResult first;
  for (int mode = 0; mode < 3; ++mode) {
    CheckingTarget target;
    onpu::ConversionResult result = onpu::run_conversion(source, "fuzz", options_for(mode), target, console);
    if (result.error == onpu::ConversionError::kNone) {
      check(target.opened && target.sink.in_hit_objects && !target.sink.line_open());
      check(target.sink.hit_objects == result.note_count);
      check(static_cast<uint64_t>(result.note_count) * 3 <= size);
    }
    if (result.error == onpu::ConversionError::kNone && mode == 0) check_map_for_play(source, size, result.note_count);
    if (mode == 0) {
      first = result;
      // The same in parts, with checkpoints at nearly every event.
      onpu::MidiAnalysis analysis;
      CheckingTarget parts;
      onpu::ConversionOptions options = options_for(mode);
      options.part_notes = 1 + size % 29;
      options.threads = 2;
      onpu::ConversionResult in_parts = onpu::analyse_midi(source, console, &analysis, 1 + size % 3);
      if (in_parts.error == onpu::ConversionError::kNone) {
        in_parts = onpu::write_beatmap(source, analysis, "fuzz", options, parts, console);
      }
      check(in_parts.error == result.error && in_parts.note_count == result.note_count);
      check(parts.sink.text == target.sink.text);
    } else {
      check(result.error == first.error);
      check(result.track_index == first.track_index);
      check(result.note_count == first.note_count);
      check(result.tempo_change_count == first.tempo_change_count);
    }
  }
  return 0;
}
