// audio_supported and build_osz for the executable: the audio code lives in
// a module of its own (onpu_osz.so, onpu_osz.dll on Windows) that is loaded
// the first time an .osz is asked for. It is looked for beside the
// executable, then where `cmake --install` puts it (<prefix>/lib/onpu).
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/file_bytes.h"
#include "audio/osz_builder.h"
#include "audio/osz_module.h"
#include "common/file_io.h"
#include "common/messages.h"

namespace onpu::audio {
namespace {

#ifdef _WIN32

// Null and *reason set when the module cannot be loaded.
void* open_module(const std::string& path, std::string* reason) {
  HMODULE handle = LoadLibraryExW(std::filesystem::u8path(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!handle) *reason = path + " (Windows error " + std::to_string(GetLastError()) + ")";
  return reinterpret_cast<void*>(handle);
}

void* find_symbol(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

#else

void* open_module(const std::string& path, std::string* reason) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* error = dlerror();
    *reason = error ? error : path;
  }
  return handle;
}

void* find_symbol(void* module, const char* name) { return dlsym(module, name); }

#endif

std::vector<std::string> module_paths(const std::string& directory) {
  std::vector<std::string> paths = {directory + kPathSeparator + kOszModuleFile};
#ifndef _WIN32
  paths.push_back(directory + "/../lib/onpu/" + kOszModuleFile);
#endif
  return paths;
}

struct LoadedModule {
  OszBuildFunction build = nullptr;
  std::string failure;  // why build is null
};

const LoadedModule& module() {
  static const LoadedModule loaded = [] {
    LoadedModule result;
    const std::vector<std::string> paths = module_paths(executable_directory());
    // The first that exists; when none does, the reason names the first.
    std::string path = paths.front();
    for (const std::string& candidate : paths) {
      if (is_regular_file(candidate)) {
        path = candidate;
        break;
      }
    }
    std::string reason;
    void* handle = open_module(path, &reason);
    if (!handle) {
      result.failure = format(msg::kOszModuleUnloadable, reason.c_str());
      return result;
    }
    auto version = reinterpret_cast<OszVersionFunction>(find_symbol(handle, kOszVersionSymbol));
    if (!version || std::strcmp(version(), ONPU_VERSION) != 0) {
      result.failure = format(msg::kOszModuleUnloadable, (path + " (another version of onpu)").c_str());
      return result;
    }
    result.build = reinterpret_cast<OszBuildFunction>(find_symbol(handle, kOszBuildSymbol));
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
