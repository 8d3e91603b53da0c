#include "support/harness.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

std::string hit_object_lines(const std::string& osu) {
  const std::string marker = "[HitObjects]\n";
  size_t at = osu.find(marker);
  return at == std::string::npos ? std::string() : osu.substr(at + marker.size());
}

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/onpu-test-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
  path_ = name.data();
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Undo a read-only mode a test may have set, so the tree can go.
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::entries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

RunResult run_onpu(const std::vector<std::string>& args, const std::string& directory) {
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
    std::string program = ONPU_EXECUTABLE;
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

void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary);
  file << text;
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

bool file_exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

std::string corpus_dir() {
  std::string dir = ONPU_CORPUS_DIR;
  struct stat info;
  return stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? dir : std::string();
}

}  // namespace onpu::test
