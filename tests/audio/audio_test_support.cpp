#include "audio_test_support.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace onpu::audio::testing {
namespace fs = std::filesystem;

Bytes vlq(uint32_t value) {
  Bytes out{static_cast<uint8_t>(value & 0x7F)};
  while (value >>= 7) out.insert(out.begin(), static_cast<uint8_t>(0x80 | (value & 0x7F)));
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

Bytes mtrk(const Bytes& events, uint32_t end_delta) {
  Bytes body = concat({events, vlq(end_delta), Bytes{0xFF, 0x2F, 0x00}});
  auto size = static_cast<uint32_t>(body.size());
  return concat({Bytes{'M', 'T', 'r', 'k', static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                       static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)},
                 body});
}

Bytes smf(uint16_t format, uint16_t division, const std::vector<Bytes>& tracks) {
  auto count = static_cast<uint16_t>(tracks.size());
  Bytes out{'M', 'T', 'h', 'd', 0, 0, 0, 6,
            static_cast<uint8_t>(format >> 8), static_cast<uint8_t>(format),
            static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count),
            static_cast<uint8_t>(division >> 8), static_cast<uint8_t>(division)};
  for (const Bytes& track : tracks) out.insert(out.end(), track.begin(), track.end());
  return out;
}

Bytes tempo_event(uint32_t delta, uint32_t tempo) {
  return concat({vlq(delta), Bytes{0xFF, 0x51, 0x03, static_cast<uint8_t>(tempo >> 16),
                                   static_cast<uint8_t>(tempo >> 8), static_cast<uint8_t>(tempo)}});
}

Bytes channel_event(uint32_t delta, std::initializer_list<uint8_t> message) {
  return concat({vlq(delta), Bytes(message)});
}

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  fs::path base = fs::temp_directory_path() /
                  ("onpu_audio_test_" + std::to_string(stamp) + "_" + std::to_string(counter++));
  fs::create_directories(base);
  path_ = base.u8string();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(fs::u8path(path_), ec);
}

std::string ScratchDir::file(const std::string& name) const { return (fs::u8path(path_) / fs::u8path(name)).u8string(); }

std::vector<std::string> ScratchDir::names() const {
  std::vector<std::string> out;
  for (const auto& entry : fs::directory_iterator(fs::u8path(path_))) out.push_back(entry.path().filename().u8string());
  std::sort(out.begin(), out.end());
  return out;
}

void ScratchDir::write(const std::string& name, const Bytes& bytes) const {
  std::ofstream out(fs::u8path(file(name)), std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes read_bytes(const std::string& path) {
  std::ifstream in(fs::u8path(path), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {
uint32_t le(const Bytes& b, size_t at, int count) {
  uint32_t value = 0;
  for (int i = count - 1; i >= 0; --i) value = (value << 8) | b[at + static_cast<size_t>(i)];
  return value;
}
}  // namespace

bool read_zip(const Bytes& archive, std::vector<ZipEntry>* entries) {
  entries->clear();
  if (archive.size() < 22) return false;
  size_t eocd = archive.size() - 22;  // our archives carry no comment
  if (le(archive, eocd, 4) != 0x06054b50) return false;
  uint32_t count = le(archive, eocd + 10, 2);
  size_t at = le(archive, eocd + 16, 4);
  for (uint32_t i = 0; i < count; ++i) {
    if (at + 46 > archive.size() || le(archive, at, 4) != 0x02014b50) return false;
    ZipEntry entry;
    entry.method = static_cast<uint16_t>(le(archive, at + 10, 2));
    entry.dos_time = static_cast<uint16_t>(le(archive, at + 12, 2));
    entry.dos_date = static_cast<uint16_t>(le(archive, at + 14, 2));
    uint32_t size = le(archive, at + 20, 4);
    uint32_t name_length = le(archive, at + 28, 2);
    uint32_t extra_length = le(archive, at + 30, 2);
    uint32_t comment_length = le(archive, at + 32, 2);
    size_t local = le(archive, at + 42, 4);
    if (at + 46 + name_length > archive.size()) return false;
    entry.name.assign(archive.begin() + static_cast<std::ptrdiff_t>(at + 46),
                      archive.begin() + static_cast<std::ptrdiff_t>(at + 46 + name_length));
    if (local + 30 > archive.size() || le(archive, local, 4) != 0x04034b50) return false;
    size_t data = local + 30 + le(archive, local + 26, 2) + le(archive, local + 28, 2);
    if (entry.method == 0) {
      if (data + size > archive.size()) return false;
      entry.data.assign(archive.begin() + static_cast<std::ptrdiff_t>(data),
                        archive.begin() + static_cast<std::ptrdiff_t>(data + size));
    }
    entries->push_back(std::move(entry));
    at += 46 + name_length + extra_length + comment_length;
  }
  return true;
}

Mp3Header first_mp3_header(const Bytes& mp3) {
  Mp3Header header;
  if (mp3.size() < 4 || mp3[0] != 0xFF || (mp3[1] & 0xE0) != 0xE0) return header;
  static const int kBitrates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
  static const int kRates[4] = {44100, 48000, 32000, 0};
  header.valid = true;
  header.mpeg1_layer3 = (mp3[1] & 0x1E) == 0x1A;  // version 1, layer III
  header.kilobits_per_second = kBitrates[mp3[2] >> 4];
  header.sample_rate = kRates[(mp3[2] >> 2) & 3];
  header.channels = (mp3[3] >> 6) == 3 ? 1 : 2;
  return header;
}

bool have_mpg123() {
#ifdef _WIN32
  return false;
#else
  return std::system("mpg123 --version >/dev/null 2>&1") == 0;
#endif
}

bool decode_mp3(const std::string& mp3_path, int channels, std::vector<int16_t>* samples) {
  std::string raw = mp3_path + ".raw";
  std::string command = "mpg123 -q -s '" + mp3_path + "' > '" + raw + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return false;
  Bytes bytes = read_bytes(raw);
  std::remove(raw.c_str());
  samples->resize(bytes.size() / 2);
  for (size_t i = 0; i < samples->size(); ++i)
    (*samples)[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return samples->size() % static_cast<size_t>(channels) == 0;
}

int peak_of(const std::vector<int16_t>& samples) {
  int peak = 0;
  for (int16_t s : samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
  return peak;
}

double zero_crossing_hz(const std::vector<int16_t>& mono, size_t from, size_t to, int sample_rate) {
  to = std::min(to, mono.size());
  int crossings = 0;
  for (size_t i = from + 1; i < to; ++i)
    if ((mono[i - 1] < 0) != (mono[i] < 0)) ++crossings;
  return crossings / 2.0 * sample_rate / static_cast<double>(to - from);
}

}  // namespace onpu::audio::testing
