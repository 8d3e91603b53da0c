// Files by UTF-8 path, the current directory, and output files that appear
// only once they are complete.
#pragma once

#include <cstdio>
#include <string>

namespace onpu {

// The separator this platform joins the current directory and a file name with.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Opens a file whose path is UTF-8 ("rb" or "wb"); null on failure. On
// Windows the path goes through UTF-16, so no code page and no length limit
// stands in the way.
std::FILE* open_utf8_file(const std::string& path, const char* mode);

// The current working directory as UTF-8, whatever its length; false when it
// cannot be read.
bool current_directory(std::string* directory);

// An output file written under a temporary name in the target's directory
// and renamed onto the target by commit(). Until then an existing target is
// untouched; a file that is destroyed or abandoned without commit leaves
// nothing behind.
class AtomicOutputFile {
 public:
  AtomicOutputFile() = default;
  ~AtomicOutputFile() { abandon(); }
  AtomicOutputFile(const AtomicOutputFile&) = delete;
  AtomicOutputFile& operator=(const AtomicOutputFile&) = delete;

  // Creates the temporary file. False when the target is a directory or the
  // temporary file cannot be created there.
  bool open(const std::string& target_path);
  std::FILE* stream() const { return stream_; }

  enum class CommitResult { kOk, kWriteFailed, kRenameFailed };
  // Flushes, syncs to disk and closes the temporary file, then renames it onto
  // the target. On any failure the temporary file is removed.
  CommitResult commit();
  // Closes and removes the temporary file, if any.
  void abandon();

  const std::string& temp_path() const { return temp_path_; }

 private:
  std::string target_path_;
  std::string temp_path_;
  std::FILE* stream_ = nullptr;
};

// Removes a file by UTF-8 path; false if it could not be removed.
bool remove_utf8_file(const std::string& path);

// The absolute form of a UTF-8 path (relative ones are taken from the
// current directory; on Windows as the platform resolves them); false when
// it cannot be told.
bool full_path(const std::string& path, std::string* full);

// Whether path names a file that is not a folder.
bool is_regular_file(const std::string& path);

// Whether path names a folder.
bool is_directory(const std::string& path);

// Whether directory is a folder that a file can be created in (one is made
// and removed again to find out).
bool is_writable_directory(const std::string& directory);

// path without the separators at its end; a root ("/" or a drive's "C:\" on Windows) stays whole.
std::string without_trailing_separators(std::string path);

// folder and name joined by the platform's separator, none added when the
// folder already ends in one (a drive's root).
std::string join_path(const std::string& folder, const std::string& name);

// The last part of a path, after its folder ("dir/song.mid" -> "song.mid").
std::string file_name_of(const std::string& path);

// The folder part of a file's path ("." for a bare name), as written.
std::string folder_of(const std::string& path);

// The folder of the running program as UTF-8, without a trailing separator;
// "" when it cannot be told. The audio module and the SoundFonts that come
// with onpu are looked for from here.
std::string executable_directory();

}  // namespace onpu
