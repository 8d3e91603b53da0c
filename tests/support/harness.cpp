#include "support/harness.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace onpu::test {

ConversionOptions options_for(Mode mode) {
  ConversionOptions options;
  options.slider_mode = mode != Mode::kCircle;
  options.horizontal = mode == Mode::kHorizontal;
  options.version_name = mode == Mode::kCircle     ? "Circle Mode"
                         : mode == Mode::kVertical ? "Vertical Slider Mode"
                                                   : "Horizontal Slider Mode";
  return options;
}

namespace {

class StringTarget : public OutputTarget {
 public:
  OutputSink* open() override {
    opened = true;
    return &sink;
  }
  StringSink sink;
  bool opened = false;
};

}  // namespace

Converted convert_bytes(const Bytes& midi, Mode mode, const std::string& base_name) {
  MemorySource source(midi.data(), midi.size());
  StringTarget target;
  CaptureConsole console;
  Converted converted;
  converted.result = run_conversion(source, base_name, options_for(mode), target, console);
  converted.osu = target.sink.text;
  converted.out = console.out_text;
  converted.err = console.err_text;
  converted.output_opened = target.opened;
  return converted;
}

Converted convert_bytes_in_parts(const Bytes& midi, Mode mode, uint64_t part_notes, unsigned threads,
                                 uint64_t checkpoint_bytes) {
  MemorySource source(midi.data(), midi.size());
  StringTarget target;
  CaptureConsole console;
  ConversionOptions options = options_for(mode);
  options.part_notes = part_notes;
  options.threads = threads;
  MidiAnalysis analysis;
  Converted converted;
  converted.result = analyse_midi(source, console, &analysis, checkpoint_bytes);
  if (converted.result.error == ConversionError::kNone) {
    converted.result = write_beatmap(source, analysis, "song", options, target, console);
  }
  converted.osu = target.sink.text;
  converted.out = console.out_text;
  converted.err = console.err_text;
  converted.output_opened = target.opened;
  return converted;
}

std::string hit_object_lines(const std::string& osu) {
  const std::string marker = "[HitObjects]\n";
  size_t at = osu.find(marker);
  return at == std::string::npos ? std::string() : osu.substr(at + marker.size());
}

#ifdef _WIN32
namespace {

std::wstring wide_of(const std::string& text) {
  if (text.empty()) return std::wstring();
  int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(units > 0 ? units : 0), L'\0');
  if (units > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
  return wide;
}

std::string utf8_of(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), bytes, nullptr, nullptr);
  }
  return text;
}

// A test binary cross-built on Linux and run under Wine has the build's Unix
// paths compiled in; Wine shows the Unix root as drive Z:.
std::string windows_path(const std::string& path) { return !path.empty() && path[0] == '/' ? "Z:" + path : path; }

// One argument quoted so that CommandLineToArgvW gives it back unchanged.
std::wstring quoted_argument(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(backslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

HANDLE inheritable_temp_file(const std::wstring& path) {
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, nullptr, TRUE};
  return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, CREATE_ALWAYS,
                     FILE_ATTRIBUTE_TEMPORARY, nullptr);
}

}  // namespace

TempDir::TempDir() {
  wchar_t base[MAX_PATH + 1];
  DWORD length = GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("GetTempPathW failed");
  unsigned seed = GetCurrentProcessId() ^ GetTickCount();
  for (int attempt = 0; attempt < 100; ++attempt) {
    seed = seed * 1103515245u + 12345u;
    std::wstring candidate = std::wstring(base) + L"onpu-test-" + std::to_wstring(seed % 1000000u);
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = utf8_of(candidate);
      return;
    }
  }
  throw std::runtime_error("CreateDirectoryW failed");
}
#else
TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/onpu-test-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
  path_ = name.data();
}
#endif

TempDir::~TempDir() {
  std::error_code ignored;
  // Undo a read-only mode a test may have set, so the tree can go.
  const std::filesystem::path path = std::filesystem::u8path(path_);
  std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path, ignored);
}

std::vector<std::string> TempDir::entries() const { return directory_entries(path_); }

std::vector<std::string> directory_entries(const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::u8path(path))) {
    names.push_back(entry.path().filename().u8string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

#ifdef _WIN32
RunResult run_onpu(const std::vector<std::string>& args, const std::string& directory) {
  RunResult result;
  TempDir streams;
  const std::wstring out_name = wide_of(streams.file("out"));
  const std::wstring err_name = wide_of(streams.file("err"));
  HANDLE out = inheritable_temp_file(out_name);
  HANDLE err = inheritable_temp_file(err_name);
  std::wstring program = wide_of(windows_path(ONPU_EXECUTABLE));
  std::wstring command = quoted_argument(program);
  for (const std::string& arg : args) command += L" " + quoted_argument(wide_of(arg));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process = {};
  std::wstring cwd = wide_of(directory);
  if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
      CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr, cwd.c_str(), &startup,
                     &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.status = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
  result.out = read_file(streams.file("out"));
  result.err = read_file(streams.file("err"));
  return result;
}
#else
RunResult run_onpu(const std::vector<std::string>& args, const std::string& directory) {
  return run_program(ONPU_EXECUTABLE, args, directory);
}

RunResult run_program(const std::string& path, const std::vector<std::string>& args, const std::string& directory) {
  RunResult result;
  char out_name[] = "/tmp/onpu-out-XXXXXX";
  char err_name[] = "/tmp/onpu-err-XXXXXX";
  int out_fd = mkstemp(out_name);
  int err_fd = mkstemp(err_name);
  pid_t child = fork();
  if (child == 0) {
    if (chdir(directory.c_str()) != 0) _exit(127);
    dup2(out_fd, 1);
    dup2(err_fd, 2);
    std::vector<char*> argv;
    std::string program = path;
    argv.push_back(program.data());
    std::vector<std::string> copies(args);
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  close(out_fd);
  close(err_fd);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = read_file(out_name);
  result.err = read_file(err_name);
  unlink(out_name);
  unlink(err_name);
  return result;
}
#endif

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream file(std::filesystem::u8path(path), std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream file(std::filesystem::u8path(path), std::ios::binary);
  file << text;
}

std::string read_file(const std::string& path) {
  std::ifstream file(std::filesystem::u8path(path), std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

bool file_exists(const std::string& path) {
#ifdef _WIN32
  return GetFileAttributesW(wide_of(path).c_str()) != INVALID_FILE_ATTRIBUTES;
#else
  struct stat info;
  return stat(path.c_str(), &info) == 0;
#endif
}

std::string corpus_dir() {
#ifdef _WIN32
  std::string dir = windows_path(ONPU_CORPUS_DIR);
  DWORD attributes = GetFileAttributesW(wide_of(dir).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? dir : std::string();
#else
  std::string dir = ONPU_CORPUS_DIR;
  struct stat info;
  return stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? dir : std::string();
#endif
}

}  // namespace onpu::test
