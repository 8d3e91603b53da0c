// One conversion of a MIDI file into one .osu file for one mode.
#pragma once

#include <bitset>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/byte_source.h"
#include "common/console.h"
#include "common/output_sink.h"
#include "midi/midi_header.h"
#include "midi/tempo_map.h"
#include "midi/track_scan.h"

namespace onpu {

struct ConversionOptions {
  bool slider_mode = false;
  bool horizontal = false;  // only together with slider_mode
  std::string version_name = "Circle Mode";
  // How the note pass divides its work; 0 lets the program choose. Tests
  // ask for tiny parts and several threads, to see that the result stays
  // the same.
  uint64_t part_notes = 0;
  unsigned threads = 0;
};

enum class ConversionError {
  kNone,
  kCannotOpenMidi,
  kInvalidMidi,
  kInvalidTrackHeader,  // with track_index
  kReadFailed,
  kCannotCreateOsu,
  kCannotWriteOsu,
};

struct ConversionResult {
  ConversionError error = ConversionError::kNone;
  int track_index = 0;
  int note_count = 0;
  int tempo_change_count = 0;
  std::bitset<256> keys_used;
  // Maps asked for but left out, above the song's top (OutputRequest::stop_at_top).
  std::vector<std::string> left_out;
};

// Where the beatmap goes. open() is called once, after the MIDI file has
// been analysed; it returns null when the output cannot be created.
class OutputTarget {
 public:
  virtual ~OutputTarget() = default;
  virtual OutputSink* open() = 0;
};

// What the first walk over a MIDI file learns: the header, the tracks, the
// tempo map and time signatures, the song length. Every conversion of the
// file needs the same, whatever its mode.
struct MidiAnalysis {
  MidiHeader header;
  TempoMap tempo_map{0};
  TrackScan scan;
  int32_t max_time = 0;
};

// The header check and the first walk: prints the header line and the tempo
// and time-signature changes to console and fills *analysis. A fatal problem
// is returned in the result, its message not yet printed (see error_message).
// A checkpoint interval of 0 is chosen by the file's size (see scan_tracks).
ConversionResult analyse_midi(const ByteSource& source, Console& console, MidiAnalysis* analysis,
                              uint64_t checkpoint_interval = 0);

// The rest of a conversion of an analysed file: the measure grid of the
// slider modes with its listing, then the beatmap into the target's sink,
// its notes' progress on console. base_name names the song in the beatmap.
ConversionResult write_beatmap(const ByteSource& source, const MidiAnalysis& analysis, const std::string& base_name,
                               const ConversionOptions& options, OutputTarget& target, Console& console);

// analyse_midi, then write_beatmap.
ConversionResult run_conversion(const ByteSource& source, const std::string& base_name,
                                const ConversionOptions& options, OutputTarget& target, Console& console);

// The message for a failed conversion; path is the MIDI path or the .osu
// path, whichever the error is about.
std::string error_message(const ConversionResult& result, const std::string& midi_path, const std::string& osu_path);

// The whole conversion of the file at midi_path into osu_path: opens the
// file, runs the conversion, and puts the beatmap in place only when it is
// complete. On failure prints the message to standard error and returns the
// result with its error; no output file or temporary file remains, and an
// existing file at osu_path is untouched. On success prints the summary.
ConversionResult convert_midi_to_osu(const std::string& midi_path, const std::string& osu_path,
                                     const ConversionOptions& options, Console& console);

// A map thinned to target_hundredths / 100 stars.
struct ThinnedRequest {
  std::string osu_path;
  int target_hundredths = 0;
};

struct OutputRequest {
  std::string osu_path;
  ConversionOptions options;
  // Written after the full map, each with one line on console that gives
  // its rating. They do not depend on the mode: a run asks for them once.
  std::vector<ThinnedRequest> thinned;
  // A set holds one map at the song's top: once a target tops out, higher
  // targets are left out (with a line that says so).
  bool stop_at_top = false;
  // The maps for play go into a set: their header names the song by its
  // file name's artist and title, previews it and names this background
  // picture (set_header_for).
  bool in_set = false;
  std::string background{};
};

// Several conversions of one file, in order, each as convert_midi_to_osu
// would run it and print it; the file is analysed once for all of them.
// Stops at the first failure and returns its result; otherwise returns the
// last result with keys_used gathered from all.
ConversionResult convert_midi_to_osu_files(const std::string& midi_path, const std::vector<OutputRequest>& outputs,
                                           Console& console);

}  // namespace onpu
