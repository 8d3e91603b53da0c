// Helpers for the audio module's tests: hand-made MIDI files, a scratch
// folder, a small zip reader that works without libzip (so the archives are
// checked by code other than the code that wrote them), and MP3 decoding
// through the mpg123 program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace onpu::audio::testing {

using Bytes = std::vector<uint8_t>;

// Standard MIDI File pieces. A track body is the events with their delta
// times; mtrk() wraps it in a chunk and appends End of Track after
// `end_delta` ticks.
Bytes vlq(uint32_t value);
Bytes mtrk(const Bytes& events, uint32_t end_delta = 0);
Bytes smf(uint16_t format, uint16_t division, const std::vector<Bytes>& tracks);
Bytes tempo_event(uint32_t delta, uint32_t microseconds_per_quarter);
Bytes channel_event(uint32_t delta, std::initializer_list<uint8_t> message);
Bytes concat(std::initializer_list<Bytes> parts);

// A fresh folder under the system temporary folder, removed with everything
// in it when the object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const;
  std::vector<std::string> names() const;  // sorted, files and folders
  void write(const std::string& name, const Bytes& bytes) const;

 private:
  std::string path_;
};

Bytes read_bytes(const std::string& path);

struct ZipEntry {
  std::string name;
  uint16_t method = 0;
  uint16_t dos_time = 0;
  uint16_t dos_date = 0;
  Bytes data;  // only for stored entries
};

// Reads the central directory and the stored data; false on any damage.
bool read_zip(const Bytes& archive, std::vector<ZipEntry>* entries);

// First MPEG audio frame header of an MP3 file without an ID3v2 tag.
struct Mp3Header {
  bool valid = false;
  bool mpeg1_layer3 = false;
  int sample_rate = 0;
  int kilobits_per_second = 0;
  int channels = 0;
};
Mp3Header first_mp3_header(const Bytes& mp3);

// True when the mpg123 program can be run.
bool have_mpg123();

// Decodes with mpg123 (gapless, so encoder padding is removed) into 16-bit
// samples, interleaved when stereo. False when mpg123 fails.
bool decode_mp3(const std::string& mp3_path, int channels, std::vector<int16_t>* samples);

int peak_of(const std::vector<int16_t>& samples);

// Fundamental frequency estimate of a mono signal from its zero crossings
// between two sample positions.
double zero_crossing_hz(const std::vector<int16_t>& mono, size_t from, size_t to, int sample_rate);

}  // namespace onpu::audio::testing
