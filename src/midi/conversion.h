// One conversion of a MIDI file into one .osu file for one mode.
#pragma once

#include <bitset>
#include <string>

#include "common/byte_source.h"
#include "common/console.h"
#include "common/output_sink.h"

namespace onpu {

struct ConversionOptions {
  bool slider_mode = false;
  bool horizontal = false;  // only together with slider_mode
  std::string version_name = "Circle Mode";
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
};

// Where the beatmap goes. open() is called once, after the MIDI file has
// been analysed; it returns null when the output cannot be created.
class OutputTarget {
 public:
  virtual ~OutputTarget() = default;
  virtual OutputSink* open() = 0;
};

// Converts the MIDI bytes in source, from the header check to the last hit
// object: prints the header line, the tempo and time-signature changes, the
// measure listing of the slider modes and the notes' progress to console;
// writes the beatmap into the target's sink. base_name names the song in the
// beatmap. Warnings go to console as they arise; a fatal problem stops the
// conversion and is returned in the result, its message not yet printed
// (see error_message).
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

}  // namespace onpu
