#include "audio/osz_archive.h"

#include <cstdio>
#include <set>

#include <zip.h>

namespace onpu::audio {
namespace {

// 2000-01-01 00:00:00 in MS-DOS date and time fields.
constexpr zip_uint16_t kDosDate = (20 << 9) | (1 << 5) | 1;
constexpr zip_uint16_t kDosTime = 0;
constexpr zip_uint32_t kUnixMode = 0100644;

std::string zip_failure(const char* what, zip_error_t* detail) {
  return std::string("エラー: .osz を作れません (") + what + ": " + zip_error_strerror(detail) + ")\n";
}

// Copies everything the source holds into *bytes.
bool read_source(zip_source_t* source, std::vector<uint8_t>* bytes, std::string* error) {
  if (zip_source_open(source) < 0) {
    *error = zip_failure("読み出し", zip_source_error(source));
    return false;
  }
  bool ok = zip_source_seek(source, 0, SEEK_END) == 0;
  zip_int64_t size = ok ? zip_source_tell(source) : -1;
  ok = size >= 0 && zip_source_seek(source, 0, SEEK_SET) == 0;
  if (ok) {
    bytes->resize(static_cast<size_t>(size));
    ok = size == 0 || zip_source_read(source, bytes->data(), static_cast<zip_uint64_t>(size)) == size;
  }
  if (!ok) *error = zip_failure("読み出し", zip_source_error(source));
  zip_source_close(source);
  return ok;
}

}  // namespace

bool build_zip(const std::vector<ArchiveEntry>& entries, std::vector<uint8_t>* zip, std::string* error) {
  zip->clear();
  std::set<std::string> names;
  for (const ArchiveEntry& entry : entries) {
    if (entry.name.empty() || !names.insert(entry.name).second) {
      *error = "エラー: .osz に同じ名前のファイルを二つは入れられません: " + entry.name + "\n";
      return false;
    }
  }

  zip_error_t open_error;
  zip_error_init(&open_error);
  zip_source_t* memory = zip_source_buffer_create(nullptr, 0, 0, &open_error);
  if (memory == nullptr) {
    *error = zip_failure("メモリ", &open_error);
    zip_error_fini(&open_error);
    return false;
  }
  zip_t* archive = zip_open_from_source(memory, ZIP_TRUNCATE, &open_error);
  if (archive == nullptr) {
    *error = zip_failure("開始", &open_error);
    zip_error_fini(&open_error);
    zip_source_free(memory);
    return false;
  }
  zip_error_fini(&open_error);
  zip_source_keep(memory);  // outlive zip_close so the bytes can be read back

  for (const ArchiveEntry& entry : entries) {
    zip_source_t* data = zip_source_buffer(archive, entry.data.data(), entry.data.size(), 0);
    zip_int64_t index = data == nullptr ? -1 : zip_file_add(archive, entry.name.c_str(), data, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
      if (data != nullptr) zip_source_free(data);
      *error = zip_failure(entry.name.c_str(), zip_get_error(archive));
      zip_discard(archive);
      zip_source_free(memory);
      return false;
    }
    auto i = static_cast<zip_uint64_t>(index);
    if (zip_set_file_compression(archive, i, ZIP_CM_STORE, 0) < 0 ||
        zip_file_set_dostime(archive, i, kDosTime, kDosDate, 0) < 0 ||
        zip_file_set_external_attributes(archive, i, 0, ZIP_OPSYS_UNIX, kUnixMode << 16) < 0) {
      *error = zip_failure(entry.name.c_str(), zip_get_error(archive));
      zip_discard(archive);
      zip_source_free(memory);
      return false;
    }
  }
  if (zip_close(archive) < 0) {
    *error = zip_failure("書き出し", zip_get_error(archive));
    zip_discard(archive);
    zip_source_free(memory);
    return false;
  }
  bool ok = read_source(memory, zip, error);
  zip_source_free(memory);
  if (ok && zip->empty()) {
    *error = "エラー: .osz に入れるファイルがありません\n";
    ok = false;
  }
  return ok;
}

}  // namespace onpu::audio
