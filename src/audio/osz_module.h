// The entry point of the audio module (onpu_osz.so, onpu_osz.dll), which the executable
// loads at run time: FluidSynth alone brings some seventy shared libraries,
// and loading them at every start would cost each plain conversion about
// 20 ms and 12 MB for nothing.
#pragma once

#include <string>

#include "audio/osz_builder.h"
#include "common/console.h"

namespace onpu::audio {

// build_osz of the module. The module and the executable come from one build:
// the loader checks the version first, as the request crosses the boundary as
// a C++ object.
using OszBuildFunction = bool (*)(const OszRequest* request, Console* console, std::string* error);
using OszVersionFunction = const char* (*)();

#ifdef _WIN32
inline constexpr const char kOszModuleFile[] = "onpu_osz.dll";
#else
inline constexpr const char kOszModuleFile[] = "onpu_osz.so";
#endif
inline constexpr const char kOszBuildSymbol[] = "onpu_osz_build";
inline constexpr const char kOszVersionSymbol[] = "onpu_osz_version";

}  // namespace onpu::audio
