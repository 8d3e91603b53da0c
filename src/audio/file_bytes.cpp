#include "audio/file_bytes.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/file_io.h"

namespace onpu::audio {
namespace fs = std::filesystem;

namespace {

// std::filesystem takes UTF-8 only through u8path (wide paths on Windows).
fs::path to_path(const std::string& utf8) { return fs::u8path(utf8); }

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

bool seek_file(std::FILE* file, int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(file, offset, whence) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), whence) == 0;
#endif
}

int64_t tell_file(std::FILE* file) {
#ifdef _WIN32
  return _ftelli64(file);
#else
  return static_cast<int64_t>(ftello(file));
#endif
}

std::string cannot_write_scratch(const std::string& path) {
  return "エラー: 一時ファイルに書き込めません (ディスクの空きは足りていますか): " + path + "\n";
}

bool fill_file_atomically(const std::string& path, const FileWriter& write, std::string* error) {
  // The same all-or-nothing file as the beatmaps': a temporary file beside
  // the target, synced to disk and renamed over it.
  AtomicOutputFile file;
  if (!file.open(path)) {
    *error = "エラー: ファイルを作れません: " + path + "\n";
    return false;
  }
  if (!write(file.stream(), error)) return false;  // the file removes itself
  switch (file.commit()) {
    case AtomicOutputFile::CommitResult::kOk:
      return true;
    case AtomicOutputFile::CommitResult::kWriteFailed:
      *error = "エラー: ファイルに書き込めません: " + path + "\n";
      return false;
    case AtomicOutputFile::CommitResult::kRenameFailed:
      break;
  }
  *error = "エラー: ファイルを置けません: " + path + "\n";
  return false;
}

bool write_file_atomically(const std::string& path, const std::vector<uint8_t>& bytes,
                           std::string* error) {
  return fill_file_atomically(
      path,
      [&](std::FILE* out, std::string* write_error) {
        if (bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size()) return true;
        *write_error = "エラー: ファイルに書き込めません: " + path + "\n";
        return false;
      },
      error);
}

}  // namespace onpu::audio
