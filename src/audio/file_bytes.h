// Whole-file reading and all-or-nothing writing for the .osz module, with
// UTF-8 paths on every platform. No function throws; each failure comes back
// as false plus one line of text (ending in "\n") meant for standard error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace onpu::audio {

// True when `path` names an existing regular file (not a directory).
bool is_regular_file(const std::string& path);

// The last component of `path` ("dir/song.osu" -> "song.osu").
std::string file_name_of(const std::string& path);

// Reads the whole file into *bytes.
bool read_file_bytes(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

// Moves to byte `offset` (from `whence`) of a file of any size; false on
// failure.
bool seek_file(std::FILE* file, int64_t offset, int whence);

// The byte position in a file of any size; -1 on failure.
int64_t tell_file(std::FILE* file);

// The message for a temporary file that cannot be written (most often a
// full disk).
std::string cannot_write_scratch(const std::string& path);

// Fills the open temporary file; false with *error set on failure.
using FileWriter = std::function<bool(std::FILE* out, std::string* error)>;

// Lets `write` fill a temporary file in the directory of `path`, syncs it to
// disk and renames it over `path`. On failure the temporary file is
// removed and a file that was already at `path` stays as it was.
bool fill_file_atomically(const std::string& path, const FileWriter& write, std::string* error);

// fill_file_atomically with `bytes` as the whole content.
bool write_file_atomically(const std::string& path, const std::vector<uint8_t>& bytes,
                           std::string* error);

}  // namespace onpu::audio
