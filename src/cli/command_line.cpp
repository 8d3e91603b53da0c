#include "cli/command_line.h"

#include <algorithm>
#include <bitset>
#include <cstdlib>

#include "audio/osz_builder.h"
#include "audio/soundfont_locator.h"
#include "cli/star_targets.h"
#include "common/file_io.h"
#include "common/messages.h"
#include "conversion/base_name.h"
#include "conversion/conversion.h"

#ifdef _WIN32
#include <conio.h>
#include <windows.h>

// After windows.h, which it needs.
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

// The options that may stand anywhere on the command line; the rest are the
// positional arguments, program first.
struct Options {
  std::vector<std::string> positional;
  bool osz = false;
  std::string soundfont;
  bool soundfont_missing_path = false;
  bool stars = false;
  std::string star_list;  // as given; the last --stars counts
  bool set = false;       // --set: --osz, and the set's targets unless --stars names others
  std::string out;        // --out: the folder every file of the run goes into
  bool out_missing_folder = false;
  // Not an option: a drop keeps only the .osz, its maps inside it.
  bool maps_only_in_osz = false;
};

// One target in each band from Easy to Expert: the maps of a set.
constexpr const char kSetTargets[] = "1.5,2.3,3.3,4.6,5.8";

Options split_options(const std::vector<std::string>& args) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (i > 0 && arg == "--osz") {
      options.osz = true;
    } else if (i > 0 && arg == "--soundfont") {
      if (i + 1 < args.size()) {
        options.soundfont = args[++i];
      } else {
        options.soundfont_missing_path = true;
      }
    } else if (i > 0 && arg.rfind("--soundfont=", 0) == 0) {
      options.soundfont = arg.substr(12);
    } else if (i > 0 && arg == "--stars") {
      options.stars = true;
      options.star_list = i + 1 < args.size() ? args[++i] : std::string();
    } else if (i > 0 && arg.rfind("--stars=", 0) == 0) {
      options.stars = true;
      options.star_list = arg.substr(8);
    } else if (i > 0 && arg == "--set") {
      options.set = true;
    } else if (i > 0 && arg == "--out") {
      if (i + 1 < args.size()) {
        options.out = args[++i];
      } else {
        options.out_missing_folder = true;
      }
    } else if (i > 0 && arg.rfind("--out=", 0) == 0) {
      options.out = arg.substr(6);
      options.out_missing_folder = options.out.empty();
    } else {
      options.positional.push_back(arg);
    }
  }
  if (options.set) {
    options.osz = true;
    if (!options.stars) {
      options.stars = true;
      options.star_list = kSetTargets;
    }
  }
  return options;
}

// Packs the beatmaps just written with the rendered song and piano samples.
int write_osz(const std::string& midi_path, const std::string& stem, const std::string& base_name,
              const std::vector<std::string>& osu_paths, const std::bitset<256>& keys, const std::string& soundfont,
              Console& console) {
  audio::OszRequest request;
  request.midi_path = midi_path;
  request.osz_path = stem + ".osz";
  request.base_name = base_name;
  request.osu_paths = osu_paths;
  for (int key = 0; key < 256; ++key) {
    if (keys.test(static_cast<size_t>(key))) request.keys.push_back(key);
  }
  request.soundfont = soundfont;
  console.out(format(msg::kOszFile, request.osz_path.c_str()));
  std::string error;
  if (!audio::build_osz(request, console, &error)) {
    console.err(error);
    return 1;
  }
  return 0;
}

// Writes the beatmaps of outputs, each followed by its maps thinned to the
// star targets, then the .osz when it was asked for; the exit status.
int convert_and_pack(const std::string& midi_path, const std::string& stem, const std::string& base_name,
                     std::vector<OutputRequest>& outputs, const std::vector<int>& star_targets, const Options& options,
                     Console& console) {
  std::vector<std::string> osu_paths;
  for (const OutputRequest& output : outputs) osu_paths.push_back(output.osu_path);
  // The maps for play are laid out alike in every mode: one per target,
  // after the full maps.
  for (int target : star_targets) {
    outputs.back().thinned.push_back(ThinnedRequest{stem + star_target_suffix(target) + ".osu", target});
    osu_paths.push_back(outputs.back().thinned.back().osu_path);
  }
  outputs.back().stop_at_top = options.set;
  outputs.back().in_set = options.osz;
  if (options.osz) outputs.back().background = audio::kSongPictureName;
  ConversionResult result = convert_midi_to_osu_files(midi_path, outputs, console);
  if (result.error != ConversionError::kNone) return 1;
  for (const std::string& left_out : result.left_out) {
    osu_paths.erase(std::remove(osu_paths.begin(), osu_paths.end(), left_out), osu_paths.end());
  }
  if (!options.osz) return 0;
  const int status = write_osz(midi_path, stem, base_name, osu_paths, result.keys_used, options.soundfont, console);
  // The set holds the maps (or, when it could not be made, says why): the
  // loose copies would only crowd the folder.
  if (options.maps_only_in_osz) {
    for (const std::string& path : osu_paths) remove_utf8_file(path);
  }
  return status;
}

int run_with_options(const Options& options, Console& console) {
  const std::vector<std::string>& args = options.positional;
  const std::string program = args.empty() ? std::string("onpu") : args[0];
  if (args.size() == 2 && (args[1] == "-h" || args[1] == "--help")) {
    console.out(format(msg::kUsage, program.c_str()));
    console.out(msg::kOptionsHelp);
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
  if (options.soundfont_missing_path) {
    console.err(msg::kSoundfontNeedsPath);
    return 1;
  }
  if (options.out_missing_folder) {
    console.err(msg::kOutNeedsFolder);
    return 1;
  }
  // Every file of the run goes into the current directory or the --out
  // folder, which must be there and take files before anything is made.
  std::string directory;
  if (options.out.empty()) {
    if (!current_directory(&directory)) {
      console.err(msg::kCommandLineFailed);
      return 1;
    }
  } else {
    if (!full_path(options.out, &directory)) {
      console.err(format(msg::kOutMissing, options.out.c_str()));
      return 1;
    }
    directory = without_trailing_separators(directory);
    if (!is_directory(directory)) {
      console.err(format(msg::kOutMissing, options.out.c_str()));
      return 1;
    }
    if (!is_writable_directory(directory)) {
      console.err(format(msg::kOutNotWritable, options.out.c_str()));
      return 1;
    }
  }
  std::vector<int> star_targets;
  if (options.stars) {
    std::string error;
    if (!parse_star_targets(options.star_list, &star_targets, &error)) {
      console.err(error);
      return 1;
    }
  }
  if (options.osz) {
    // Find out before converting anything whether the archive can be made.
    std::string soundfont_path;
    std::string error;
    if (!audio::audio_supported()) {
      console.err(audio::audio_unsupported_message());
      return 1;
    }
    if (!audio::find_default_soundfont(options.soundfont, &soundfont_path, &error)) {
      console.err(error);
      return 1;
    }
  }
  console.out(mode.line);

  const std::string& midi_path = args[1];
  const std::string base_name = get_base_name(midi_path);
  const std::string stem = join_path(directory, base_name);

  if (mode.both) {
    const std::string paths[3] = {stem + "-circle.osu", stem + "-slider-vertical.osu", stem + "-slider-horizontal.osu"};
    for (int i = 0; i < 3; ++i) console.out(format(msg::kOutputFileNumbered, i + 1, paths[i].c_str()));
    std::vector<OutputRequest> outputs = {{paths[0], options_for(false, false), {}},
                                          {paths[1], options_for(true, false), {}},
                                          {paths[2], options_for(true, true), {}}};
    return convert_and_pack(midi_path, stem, base_name, outputs, star_targets, options, console);
  }
  const std::string path = stem + ".osu";
  console.out(format(msg::kOutputFile, path.c_str()));
  std::vector<OutputRequest> outputs = {{path, options_for(mode.slider_mode, mode.horizontal), {}}};
  return convert_and_pack(midi_path, stem, base_name, outputs, star_targets, options, console);
}

}  // namespace

int run_command_line(const std::vector<std::string>& all_args, Console& console) {
  return run_with_options(split_options(all_args), console);
}

bool is_drop(bool own_window, const std::vector<std::string>& args,
             const std::function<bool(const std::string&)>& is_file) {
  if (!own_window || args.size() < 2) return false;
  return std::all_of(args.begin() + 1, args.end(), is_file);
}

DropDestination drop_destination(const std::string& file, const std::string& working_folder,
                                 const std::function<bool(const std::string&)>& writable) {
  std::string full;
  if (full_path(file, &full)) {
    const std::string folder = folder_of(full);
    if (writable(folder)) return DropDestination{folder, false};
  }
  return DropDestination{working_folder, true};
}

namespace {

// Passes everything on and keeps the error text of the run.
class ErrorKeepingConsole : public Console {
 public:
  explicit ErrorKeepingConsole(Console& inner) : inner_(inner) {}
  void out(std::string_view text) override { inner_.out(text); }
  void err(std::string_view text) override {
    inner_.err(text);
    errors_.assign(text.begin(), text.end());
  }
  const std::string& last_error() const { return errors_; }

 private:
  Console& inner_;
  std::string errors_;
};

}  // namespace

int run_drop(const std::vector<std::string>& args, const std::string& working_folder, Console& console) {
  std::vector<std::string> results;  // a line per file
  int status = 0;
  const int count = static_cast<int>(args.size()) - 1;
  for (int i = 1; i <= count; ++i) {
    const std::string& file = args[static_cast<size_t>(i)];
    const std::string name = file_name_of(file);
    console.out(format(msg::kDropFile, i, count, name.c_str()));
    const DropDestination destination = drop_destination(file, working_folder, is_writable_directory);
    ErrorKeepingConsole keeper(console);
    Options set_options = split_options({args[0], file, "--set", "--out", destination.folder});
    set_options.maps_only_in_osz = true;
    const int file_status = run_with_options(set_options, keeper);
    console.out("\n");
    if (file_status == 0) {
      const std::string osz = join_path(without_trailing_separators(destination.folder), get_base_name(file) + ".osz");
      results.push_back(format(destination.in_working_folder ? msg::kDropDoneInWorkingFolder : msg::kDropDone,
                               name.c_str(), osz.c_str()));
    } else {
      status = 1;
      std::string why = keeper.last_error();
      if (why.empty() || why.back() != '\n') why += '\n';
      results.push_back(format(msg::kDropFailed, name.c_str(), why.c_str()));
    }
  }
  console.out(msg::kDropResults);
  for (const std::string& line : results) console.out(line);
  console.out(msg::kDropImportHint);
  return status;
}

bool should_wait_for_key(unsigned console_processes, bool input_is_console) {
  return console_processes == 1 && input_is_console;
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

bool started_in_own_window() {
  // The Wine tests start onpu.exe as Explorer would, in a console that
  // cannot be one of its own there.
  const char* as_explorer = std::getenv("ONPU_STARTED_BY_EXPLORER");
  if (as_explorer && std::string(as_explorer) == "1") return true;
  DWORD processes[2];
  DWORD count = GetConsoleProcessList(processes, 2);
  DWORD mode = 0;
  bool input_is_console = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
  return should_wait_for_key(count, input_is_console);
}

void wait_for_key(Console& console) {
  // Without a console for input there is no key to wait for.
  DWORD mode = 0;
  if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode)) return;
  console.out(msg::kPressAnyKey);
  FlushConsoleInputBuffer(GetStdHandle(STD_INPUT_HANDLE));
  _getch();
}

#else

bool command_line_arguments(int argc, char** argv, std::vector<std::string>* args) {
  args->assign(argv, argv + argc);
  return true;
}

void prepare_console() {}

bool started_in_own_window() { return false; }

void wait_for_key(Console&) {}

#endif

}  // namespace onpu
