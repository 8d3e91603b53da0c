// audio_supported and build_osz for the executable on Linux: the audio code
// lives in onpu_osz.so beside the executable and is loaded the first time an
// .osz is asked for.
#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "audio/osz_builder.h"
#include "audio/osz_module.h"
#include "common/messages.h"

namespace onpu::audio {
namespace {

// The directory of the running executable, or "" when it cannot be read.
std::string executable_directory() {
  std::vector<char> buffer(256);
  while (true) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < buffer.size()) {
      std::string path(buffer.data(), static_cast<size_t>(length));
      return path.substr(0, path.rfind('/'));
    }
    buffer.resize(buffer.size() * 2);
  }
}

struct LoadedModule {
  OszBuildFunction build = nullptr;
  std::string failure;  // why build is null
};

const LoadedModule& module() {
  static const LoadedModule loaded = [] {
    LoadedModule result;
    const std::string path = executable_directory() + "/" + kOszModuleFile;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* reason = dlerror();
      result.failure = format(msg::kOszModuleUnloadable, reason ? reason : path.c_str());
      return result;
    }
    auto version = reinterpret_cast<OszVersionFunction>(dlsym(handle, kOszVersionSymbol));
    if (!version || std::strcmp(version(), ONPU_VERSION) != 0) {
      result.failure = format(msg::kOszModuleUnloadable, (path + " (another version of onpu)").c_str());
      return result;
    }
    result.build = reinterpret_cast<OszBuildFunction>(dlsym(handle, kOszBuildSymbol));
    if (!result.build) result.failure = format(msg::kOszModuleUnloadable, path.c_str());
    return result;
  }();
  return loaded;
}

}  // namespace

bool audio_supported() { return module().build != nullptr; }

std::string audio_unsupported_message() { return module().failure; }

bool build_osz(const OszRequest& request, Console& console, std::string* error) {
  if (!module().build) {
    *error = module().failure;
    return false;
  }
  return module().build(&request, &console, error);
}

}  // namespace onpu::audio
