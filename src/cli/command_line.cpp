#include "cli/command_line.h"

#include "cli/base_name.h"
#include "cli/file_io.h"
#include "common/messages.h"
#include "midi/conversion.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace onpu {
namespace {

struct ModeChoice {
  const char* word;
  bool slider_mode;
  bool horizontal;
  bool both;
  const char* line;
};

// Tested in this order, case-sensitively.
constexpr ModeChoice kModes[] = {
    {"slider", true, false, false, msg::kModeVertical},
    {"slider-vertical", true, false, false, msg::kModeVertical},
    {"slider-horizontal", true, true, false, msg::kModeHorizontal},
    {"circle", false, false, false, msg::kModeCircle},
    {"both", false, false, true, msg::kModeBoth},
};

ConversionOptions options_for(bool slider_mode, bool horizontal) {
  ConversionOptions options;
  options.slider_mode = slider_mode;
  options.horizontal = horizontal;
  options.version_name = !slider_mode ? "Circle Mode" : horizontal ? "Horizontal Slider Mode" : "Vertical Slider Mode";
  return options;
}

}  // namespace

int run_command_line(const std::vector<std::string>& args, Console& console) {
  const std::string program = args.empty() ? std::string("onpu") : args[0];
  if (args.size() == 2 && (args[1] == "-h" || args[1] == "--help")) {
    console.out(format(msg::kUsage, program.c_str()));
    return 0;
  }
  if (args.size() == 2 && args[1] == "--version") {
    console.out("onpu " ONPU_VERSION "\n");
    return 0;
  }
  if (args.size() != 2 && args.size() != 3) {
    console.err(format(msg::kUsage, program.c_str()));
    return 1;
  }

  ModeChoice mode = {"", false, false, false, msg::kModeDefault};
  if (args.size() == 3) {
    const ModeChoice* chosen = nullptr;
    for (const ModeChoice& candidate : kModes) {
      if (args[2] == candidate.word) {
        chosen = &candidate;
        break;
      }
    }
    if (!chosen) {
      console.err(format(msg::kInvalidMode, args[2].c_str()));
      return 1;
    }
    mode = *chosen;
  }
  console.out(mode.line);

  const std::string& midi_path = args[1];
  const std::string base_name = get_base_name(midi_path);
  std::string directory;
  if (!current_directory(&directory)) {
    console.err(msg::kCommandLineFailed);
    return 1;
  }
  const std::string stem = directory + kPathSeparator + base_name;

  if (mode.both) {
    const std::string paths[3] = {stem + "-circle.osu", stem + "-slider-vertical.osu", stem + "-slider-horizontal.osu"};
    for (int i = 0; i < 3; ++i) console.out(format(msg::kOutputFileNumbered, i + 1, paths[i].c_str()));
    const ConversionOptions runs[3] = {options_for(false, false), options_for(true, false), options_for(true, true)};
    for (int i = 0; i < 3; ++i) {
      if (convert_midi_to_osu(midi_path, paths[i], runs[i], console).error != ConversionError::kNone) return 1;
    }
    return 0;
  }
  const std::string path = stem + ".osu";
  console.out(format(msg::kOutputFile, path.c_str()));
  ConversionResult result = convert_midi_to_osu(midi_path, path, options_for(mode.slider_mode, mode.horizontal), console);
  return result.error == ConversionError::kNone ? 0 : 1;
}

#ifdef _WIN32

bool command_line_arguments(int, char**, std::vector<std::string>* args) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return false;
  args->clear();
  for (int i = 0; i < count; ++i) {
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), bytes, nullptr, nullptr);
    arg.resize(arg.size() - 1);
    args->push_back(arg);
  }
  LocalFree(wide);
  return true;
}

void prepare_console() { SetConsoleOutputCP(CP_UTF8); }

#else

bool command_line_arguments(int argc, char** argv, std::vector<std::string>* args) {
  args->assign(argv, argv + argc);
  return true;
}

void prepare_console() {}

#endif

}  // namespace onpu
