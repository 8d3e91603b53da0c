// Running conversions in tests: in memory through the library, or the real
// program in a fresh temporary directory.
#pragma once

#include <string>
#include <vector>

#include "conversion/conversion.h"
#include "support/smf_builder.h"

namespace onpu::test {

enum class Mode { kCircle, kVertical, kHorizontal };

ConversionOptions options_for(Mode mode);

struct Converted {
  ConversionResult result;
  std::string osu;  // everything written to the output
  std::string out;  // standard output
  std::string err;  // standard error
  bool output_opened = false;
};

// Converts bytes in memory, as the program would, without files.
Converted convert_bytes(const Bytes& midi, Mode mode, const std::string& base_name = "song");

// The same with the note pass cut into parts of about part_notes notes, made
// by threads threads, from checkpoints every checkpoint_bytes bytes.
Converted convert_bytes_in_parts(const Bytes& midi, Mode mode, uint64_t part_notes, unsigned threads,
                                 uint64_t checkpoint_bytes);

// The part of a beatmap after "[HitObjects]\n".
std::string hit_object_lines(const std::string& osu);

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  // Names of the entries in the directory, sorted.
  std::vector<std::string> entries() const;

 private:
  std::string path_;
};

// Names of the entries in a directory, sorted.
std::vector<std::string> directory_entries(const std::string& path);

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the built onpu with args in directory (its current directory).
RunResult run_onpu(const std::vector<std::string>& args, const std::string& directory);
#ifndef _WIN32
// The same for another program, such as a copy of onpu.
RunResult run_program(const std::string& path, const std::vector<std::string>& args, const std::string& directory);
#endif

void write_file(const std::string& path, const Bytes& bytes);
void write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path);
bool file_exists(const std::string& path);

// The shared corpus of MIDI test files, or "" when this checkout has none.
std::string corpus_dir();

}  // namespace onpu::test
