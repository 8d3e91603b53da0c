// Packs files into a zip archive through libzip, streaming it into an open
// file. The archive is reproducible: entries are stored (no compression, MP3
// does not shrink anyway), in the order given, all dated 2000-01-01 00:00:00
// in DOS time (no time zone involved) with Unix mode 0644, so equal entries
// give an archive that is equal byte for byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace onpu::audio {

struct ArchiveEntry {
  std::string name;           // UTF-8 path inside the archive, '/' between folders
  std::vector<uint8_t> data;  // the entry's bytes, unless data_path is set
  // UTF-8 path of a file whose bytes are the entry; read a little at a time
  // while the archive is written, so a long song never sits in memory.
  std::string data_path;
};

// Writes the archive into `out`, which must be open for writing, empty and
// seekable; the caller flushes and closes it. Fails (false, one line in
// *error) on an empty or duplicate name, an unreadable data_path, a write
// error (such as a full disk) or another libzip error.
bool write_zip(const std::vector<ArchiveEntry>& entries, std::FILE* out, std::string* error);

}  // namespace onpu::audio
