// Packs files into a zip archive in memory through libzip. The archive is
// reproducible: entries are stored (no compression, MP3 does not shrink
// anyway), in the order given, all dated 2000-01-01 00:00:00 in DOS time
// (no time zone involved) with Unix mode 0644, so equal entries give an
// archive that is equal byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace onpu::audio {

struct ArchiveEntry {
  std::string name;           // UTF-8 path inside the archive, '/' between folders
  std::vector<uint8_t> data;
};

// Builds the archive bytes into *zip. Fails (false, one line in *error) on
// an empty or duplicate name or a libzip error.
bool build_zip(const std::vector<ArchiveEntry>& entries, std::vector<uint8_t>* zip, std::string* error);

}  // namespace onpu::audio
