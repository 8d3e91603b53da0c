#include "common/console.h"

#include <cstdarg>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#endif

namespace onpu {
namespace {

void write_stream(std::FILE* stream, std::string_view text) {
  if (text.empty()) return;
#ifdef _WIN32
  // The old C runtime would garble UTF-8 through its narrow text functions;
  // a real console takes UTF-16, anything else the bytes as they are.
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
    int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (units > 0) {
      std::wstring wide(static_cast<size_t>(units), L'\0');
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
      std::fflush(stream);
      DWORD written = 0;
      WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
      return;
    }
  }
#endif
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

void StdConsole::out(std::string_view text) { write_stream(stdout, text); }

void StdConsole::err(std::string_view text) {
  // Keep the two streams in their real order when both go to one terminal.
  std::fflush(stdout);
  write_stream(stderr, text);
}

std::string format(const char* fmt, ...) {
  char small[256];
  va_list args;
  va_start(args, fmt);
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(small, sizeof small, fmt, args);
  va_end(args);
  std::string text;
  if (needed < 0) {
    va_end(copy);
    return text;
  }
  if (static_cast<size_t>(needed) < sizeof small) {
    text.assign(small, static_cast<size_t>(needed));
  } else {
    text.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(text.data(), text.size(), fmt, copy);
    text.resize(static_cast<size_t>(needed));
  }
  va_end(copy);
  return text;
}

}  // namespace onpu
