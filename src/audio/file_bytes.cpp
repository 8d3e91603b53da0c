#include "audio/file_bytes.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>

namespace onpu::audio {
namespace fs = std::filesystem;

namespace {

// std::filesystem takes UTF-8 only through u8path (wide paths on Windows).
fs::path to_path(const std::string& utf8) { return fs::u8path(utf8); }

std::string temporary_name_for(const std::string& path) {
  // Unique enough for one writer per target: a process-wide counter mixed
  // with the clock and, where available, real randomness.
  static unsigned counter = 0;
  std::random_device device;
  uint64_t mix = device();
  mix = mix * 0x9E3779B97F4A7C15ull ^
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  mix += ++counter;
  static const char digits[] = "0123456789abcdef";
  std::string suffix;
  for (int i = 0; i < 12; ++i) {
    suffix += digits[mix & 15];
    mix >>= 4;
  }
  fs::path target = to_path(path);
  fs::path name = target.filename();
  return (target.parent_path() / fs::u8path("." + name.u8string() + "." + suffix + ".tmp")).u8string();
}

}  // namespace

bool is_regular_file(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(to_path(path), ec);
}

std::string file_name_of(const std::string& path) { return to_path(path).filename().u8string(); }

bool read_file_bytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  bytes->clear();
  if (!is_regular_file(path)) {
    *error = "エラー: ファイルを開けません: " + path + "\n";
    return false;
  }
  std::ifstream in(to_path(path), std::ios::binary);
  if (!in) {
    *error = "エラー: ファイルを開けません: " + path + "\n";
    return false;
  }
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size < 0) {
    *error = "エラー: ファイルを読めません: " + path + "\n";
    return false;
  }
  bytes->resize(static_cast<size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes->data()), size)) {
    bytes->clear();
    *error = "エラー: ファイルを読めません: " + path + "\n";
    return false;
  }
  return true;
}

bool write_file_atomically(const std::string& path, const std::vector<uint8_t>& bytes,
                           std::string* error) {
  const std::string temporary = temporary_name_for(path);
  std::error_code ec;
  {
    std::ofstream out(to_path(temporary), std::ios::binary | std::ios::trunc);
    if (!out) {
      *error = "エラー: ファイルを作れません: " + path + "\n";
      return false;
    }
    if (!bytes.empty()) out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.flush();
    if (!out) {
      out.close();
      fs::remove(to_path(temporary), ec);
      *error = "エラー: ファイルに書き込めません: " + path + "\n";
      return false;
    }
  }
  fs::rename(to_path(temporary), to_path(path), ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(to_path(temporary), ignored);
    *error = "エラー: ファイルを置けません: " + path + "\n";
    return false;
  }
  return true;
}

}  // namespace onpu::audio
