// The console seen by the converter: two text streams, standard output and
// standard error. Everything the program prints passes through one Console,
// so tests can capture it and the fuzz target can silence it.
#pragma once

#include <string>
#include <string_view>

namespace onpu {

class Console {
 public:
  virtual ~Console() = default;
  // Writes UTF-8 text to standard output.
  virtual void out(std::string_view text) = 0;
  // Writes UTF-8 text to standard error.
  virtual void err(std::string_view text) = 0;
};

// The process's own standard output and standard error. On Windows a stream
// that is a console gets UTF-16 through WriteConsoleW; a pipe or a file gets
// the UTF-8 bytes themselves.
class StdConsole : public Console {
 public:
  void out(std::string_view text) override;
  void err(std::string_view text) override;
};

// Keeps both streams in memory (tests).
class CaptureConsole : public Console {
 public:
  void out(std::string_view text) override { out_text.append(text); }
  void err(std::string_view text) override { err_text.append(text); }
  std::string out_text;
  std::string err_text;
};

// Drops everything (fuzzing, benchmarks of the library).
class NullConsole : public Console {
 public:
  void out(std::string_view) override {}
  void err(std::string_view) override {}
};

// printf-style formatting into a std::string.
std::string format(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace onpu
