#include "audio/osz_archive.h"

#include <cerrno>
#include <set>

#include <zip.h>

#include "audio/file_bytes.h"
#include "common/file_io.h"

namespace onpu::audio {
namespace {

// 2000-01-01 00:00:00 in MS-DOS date and time fields.
constexpr zip_uint16_t kDosDate = (20 << 9) | (1 << 5) | 1;
constexpr zip_uint16_t kDosTime = 0;
constexpr zip_uint32_t kUnixMode = 0100644;

std::string zip_failure(const char* what, zip_error_t* detail) {
  return std::string("エラー: .osz を作れません (") + what + ": " + zip_error_strerror(detail) + ")\n";
}

// The archive's target for libzip: a write-only source over an open stream.
// libzip writes each entry's header, its data, then seeks back to finish the
// header, and the central directory last. The source claims to be readable
// as libzip insists, but says that nothing is there yet, so it is never read.
struct StreamTarget {
  std::FILE* file = nullptr;
  zip_error_t error;
};

zip_int64_t stream_target(void* user, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* target = static_cast<StreamTarget*>(user);
  switch (command) {
    case ZIP_SOURCE_SUPPORTS:
      return ZIP_SOURCE_SUPPORTS_WRITABLE;
    case ZIP_SOURCE_STAT:
      // What a file source says of a file that is not there yet.
      zip_error_set(&target->error, ZIP_ER_READ, ENOENT);
      return -1;
    case ZIP_SOURCE_BEGIN_WRITE:
      return seek_file(target->file, 0, SEEK_SET) ? 0 : (zip_error_set(&target->error, ZIP_ER_SEEK, errno), -1);
    case ZIP_SOURCE_WRITE:
      if (std::fwrite(data, 1, length, target->file) != length) {
        zip_error_set(&target->error, ZIP_ER_WRITE, errno);
        return -1;
      }
      return static_cast<zip_int64_t>(length);
    case ZIP_SOURCE_SEEK_WRITE: {
      auto* args = ZIP_SOURCE_GET_ARGS(zip_source_args_seek_t, data, length, &target->error);
      if (args == nullptr) return -1;
      if (!seek_file(target->file, args->offset, args->whence)) {
        zip_error_set(&target->error, ZIP_ER_SEEK, errno);
        return -1;
      }
      return 0;
    }
    case ZIP_SOURCE_TELL_WRITE: {
      zip_int64_t offset = tell_file(target->file);
      if (offset < 0) zip_error_set(&target->error, ZIP_ER_TELL, errno);
      return offset;
    }
    case ZIP_SOURCE_COMMIT_WRITE:
      if (std::fflush(target->file) != 0 || std::ferror(target->file)) {
        zip_error_set(&target->error, ZIP_ER_WRITE, errno);
        return -1;
      }
      return 0;
    case ZIP_SOURCE_ROLLBACK_WRITE:
    case ZIP_SOURCE_REMOVE:
    case ZIP_SOURCE_FREE:
      return 0;  // the caller abandons its file
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&target->error, data, length);
    default:
      zip_error_set(&target->error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

// The data of one entry for libzip, which owns it from then on.
zip_source_t* entry_source(zip_t* archive, const ArchiveEntry& entry, std::string* error) {
  if (entry.data_path.empty()) {
    zip_source_t* source = zip_source_buffer(archive, entry.data.data(), entry.data.size(), 0);
    if (source == nullptr) *error = zip_failure(entry.name.c_str(), zip_get_error(archive));
    return source;
  }
  std::FILE* file = open_utf8_file(entry.data_path, "rb");
  if (file == nullptr) {
    *error = "エラー: ファイルを開けません: " + entry.data_path + "\n";
    return nullptr;
  }
  zip_source_t* source = zip_source_filep(archive, file, 0, -1);
  if (source == nullptr) {
    std::fclose(file);
    *error = zip_failure(entry.name.c_str(), zip_get_error(archive));
  }
  return source;
}

}  // namespace

bool write_zip(const std::vector<ArchiveEntry>& entries, std::FILE* out, std::string* error) {
  std::set<std::string> names;
  for (const ArchiveEntry& entry : entries) {
    if (entry.name.empty() || !names.insert(entry.name).second) {
      *error = "エラー: .osz に同じ名前のファイルを二つは入れられません: " + entry.name + "\n";
      return false;
    }
  }
  if (entries.empty()) {
    *error = "エラー: .osz に入れるファイルがありません\n";
    return false;
  }

  StreamTarget target;
  target.file = out;
  zip_error_init(&target.error);
  zip_error_t open_error;
  zip_error_init(&open_error);
  zip_source_t* sink = zip_source_function_create(stream_target, &target, &open_error);
  zip_t* archive = sink == nullptr ? nullptr : zip_open_from_source(sink, ZIP_CREATE | ZIP_TRUNCATE, &open_error);
  if (archive == nullptr) {
    *error = zip_failure("開始", &open_error);
    if (sink != nullptr) zip_source_free(sink);
    zip_error_fini(&open_error);
    zip_error_fini(&target.error);
    return false;
  }
  zip_error_fini(&open_error);

  bool ok = true;
  for (const ArchiveEntry& entry : entries) {
    zip_source_t* data = entry_source(archive, entry, error);
    if (data == nullptr) {
      ok = false;
      break;
    }
    zip_int64_t index = zip_file_add(archive, entry.name.c_str(), data, ZIP_FL_ENC_UTF_8);
    if (index < 0) zip_source_free(data);
    auto i = static_cast<zip_uint64_t>(index);
    if (index < 0 || zip_set_file_compression(archive, i, ZIP_CM_STORE, 0) < 0 ||
        zip_file_set_dostime(archive, i, kDosTime, kDosDate, 0) < 0 ||
        zip_file_set_external_attributes(archive, i, 0, ZIP_OPSYS_UNIX, kUnixMode << 16) < 0) {
      *error = zip_failure(entry.name.c_str(), zip_get_error(archive));
      ok = false;
      break;
    }
  }
  if (ok && zip_close(archive) < 0) {
    *error = zip_failure("書き出し", zip_get_error(archive));
    ok = false;
  }
  // zip_close frees the archive and the sink only when it succeeds.
  if (!ok) zip_discard(archive);
  zip_error_fini(&target.error);
  return ok;
}

}  // namespace onpu::audio
