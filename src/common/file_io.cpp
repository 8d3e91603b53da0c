#include "common/file_io.h"

#include <cerrno>
#include <cstdlib>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace onpu {

#ifdef _WIN32
namespace {

std::wstring to_wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
  return wide;
}

std::string to_utf8(const wchar_t* wide, size_t length) {
  if (length == 0) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string text(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), text.data(), bytes, nullptr, nullptr);
  return text;
}

}  // namespace

bool is_directory(const std::string& path) {
  DWORD attributes = GetFileAttributesW(to_wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::FILE* open_utf8_file(const std::string& path, const char* mode) {
  std::wstring wide_path = to_wide(path);
  if (wide_path.empty()) return nullptr;
  std::wstring wide_mode = to_wide(mode);
  return _wfopen(wide_path.c_str(), wide_mode.c_str());
}

bool current_directory(std::string* directory) {
  DWORD units = GetCurrentDirectoryW(0, nullptr);
  if (units == 0) return false;
  std::vector<wchar_t> buffer(units + 1);
  DWORD written = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (written == 0 || written >= buffer.size()) return false;
  *directory = to_utf8(buffer.data(), written);
  return true;
}

bool remove_utf8_file(const std::string& path) { return _wremove(to_wide(path).c_str()) == 0; }

bool full_path(const std::string& path, std::string* full) {
  const std::wstring wide = to_wide(path);
  if (wide.empty()) return false;
  DWORD units = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (units == 0) return false;
  std::vector<wchar_t> buffer(units + 1);
  DWORD written = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (written == 0 || written >= buffer.size()) return false;
  *full = to_utf8(buffer.data(), written);
  return true;
}

bool is_regular_file(const std::string& path) {
  DWORD attributes = GetFileAttributesW(to_wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string executable_directory() {
  std::vector<wchar_t> buffer(MAX_PATH);
  while (true) {
    DWORD units = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (units == 0) return std::string();
    if (units < buffer.size()) {
      std::string path = to_utf8(buffer.data(), units);
      size_t separator = path.find_last_of("\\/");
      return separator == std::string::npos ? std::string() : path.substr(0, separator);
    }
    if (buffer.size() > 32768) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

bool AtomicOutputFile::open(const std::string& target_path) {
  abandon();
  if (is_directory(target_path)) return false;
  target_path_ = target_path;
  unsigned seed = GetCurrentProcessId() ^ GetTickCount();
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 1103515245u + 12345u;
    std::string candidate = target_path + ".tmp" + std::to_string(seed % 1000000u);
    // CREATE_NEW, not _wfopen's "x": the msvcrt.dll that MinGW links either
    // ignores "x" (and truncates a file that is there) or rejects the mode.
    const std::wstring wide_candidate = to_wide(candidate);
    HANDLE handle = CreateFileW(wide_candidate.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      DWORD error = GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
      return false;
    }
    int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    std::FILE* file = descriptor >= 0 ? _fdopen(descriptor, "wb") : nullptr;
    if (!file) {
      if (descriptor >= 0) {
        _close(descriptor);
      } else {
        CloseHandle(handle);
      }
      DeleteFileW(wide_candidate.c_str());
      return false;
    }
    temp_path_ = candidate;
    stream_ = file;
    return true;
  }
  return false;
}

AtomicOutputFile::CommitResult AtomicOutputFile::commit() {
  if (!stream_) return CommitResult::kWriteFailed;
  bool written = std::fflush(stream_) == 0 && !std::ferror(stream_) && _commit(_fileno(stream_)) == 0;
  written = (std::fclose(stream_) == 0) && written;
  stream_ = nullptr;
  if (!written) {
    abandon();
    return CommitResult::kWriteFailed;
  }
  if (!MoveFileExW(to_wide(temp_path_).c_str(), to_wide(target_path_).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    abandon();
    return CommitResult::kRenameFailed;
  }
  temp_path_.clear();
  return CommitResult::kOk;
}

#else

bool is_directory(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::FILE* open_utf8_file(const std::string& path, const char* mode) {
  std::FILE* file = std::fopen(path.c_str(), mode);
  // A directory opens for reading here but not on Windows: refuse it alike.
  struct stat info;
  if (file && fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

bool current_directory(std::string* directory) {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE || buffer.size() > (1u << 24)) return false;
    buffer.resize(buffer.size() * 2);
  }
  *directory = buffer.data();
  return true;
}

bool remove_utf8_file(const std::string& path) { return std::remove(path.c_str()) == 0; }

bool full_path(const std::string& path, std::string* full) {
  if (path.empty()) return false;
  if (path[0] == '/') {
    *full = path;
    return true;
  }
  std::string directory;
  if (!current_directory(&directory)) return false;
  *full = join_path(directory, path);
  return true;
}

bool is_regular_file(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string executable_directory() {
  std::vector<char> buffer(256);
  while (true) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < buffer.size()) {
      std::string path(buffer.data(), static_cast<size_t>(length));
      return path.substr(0, path.rfind('/'));
    }
    if (buffer.size() > (1u << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

bool AtomicOutputFile::open(const std::string& target_path) {
  abandon();
  if (is_directory(target_path)) return false;
  target_path_ = target_path;
  std::string pattern = target_path + ".tmpXXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int descriptor = mkstemp(name.data());
  if (descriptor < 0) return false;
  // mkstemp makes the file private to its owner; give it the permissions an
  // ordinary new file would get.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(descriptor, 0666 & ~mask);
  temp_path_ = name.data();
  stream_ = fdopen(descriptor, "wb");
  if (!stream_) {
    close(descriptor);
    unlink(temp_path_.c_str());
    temp_path_.clear();
    return false;
  }
  return true;
}

AtomicOutputFile::CommitResult AtomicOutputFile::commit() {
  if (!stream_) return CommitResult::kWriteFailed;
  bool written = std::fflush(stream_) == 0 && !std::ferror(stream_) && fsync(fileno(stream_)) == 0;
  written = (std::fclose(stream_) == 0) && written;
  stream_ = nullptr;
  if (!written) {
    abandon();
    return CommitResult::kWriteFailed;
  }
  if (std::rename(temp_path_.c_str(), target_path_.c_str()) != 0) {
    abandon();
    return CommitResult::kRenameFailed;
  }
  temp_path_.clear();
  return CommitResult::kOk;
}

#endif

bool is_writable_directory(const std::string& directory) {
  if (!is_directory(directory)) return false;
  // Whether a file can be made there is known only by making one: a
  // read-only folder, a folder inside an archive, a full disk, rights.
  AtomicOutputFile probe;
  return probe.open(join_path(directory, "onpu-write-check"));
}

std::string without_trailing_separators(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == kPathSeparator) &&
         !(path.size() == 3 && path[1] == ':')) {
    path.pop_back();
  }
  return path;
}

std::string join_path(const std::string& folder, const std::string& name) {
  const bool ends_in_separator = !folder.empty() && (folder.back() == kPathSeparator || folder.back() == '/');
  return ends_in_separator ? folder + name : folder + kPathSeparator + name;
}

namespace {

// Where the last separator of path is (npos: none); Windows takes both.
size_t last_separator(const std::string& path) { return path.find_last_of(kPathSeparator == '/' ? "/" : "\\/"); }

}  // namespace

std::string file_name_of(const std::string& path) {
  const size_t separator = last_separator(path);
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string folder_of(const std::string& path) {
  const size_t separator = last_separator(path);
  if (separator == std::string::npos) return ".";
  if (separator == 0) return path.substr(0, 1);
  if (separator == 2 && path[1] == ':') return path.substr(0, 3);
  return path.substr(0, separator);
}

void AtomicOutputFile::abandon() {
  if (stream_) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
  if (!temp_path_.empty()) {
    remove_utf8_file(temp_path_);
    temp_path_.clear();
  }
}

}  // namespace onpu
