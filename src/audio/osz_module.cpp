// The audio module's two exported functions; everything else in it is
// hidden, so its copy of the MIDI reader cannot meet the executable's.
#include "audio/osz_module.h"

#ifdef _WIN32
#define ONPU_OSZ_EXPORT extern "C" __declspec(dllexport)
#else
#define ONPU_OSZ_EXPORT extern "C" __attribute__((visibility("default")))
#endif

ONPU_OSZ_EXPORT const char* onpu_osz_version() { return ONPU_VERSION; }

ONPU_OSZ_EXPORT bool onpu_osz_build(const onpu::audio::OszRequest* request, onpu::Console* console,
                                    std::string* error) {
  return onpu::audio::build_osz(*request, *console, error);
}
