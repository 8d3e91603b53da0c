// onpu: converts a Standard MIDI File into an osu! beatmap.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "common/file_io.h"
#include "common/messages.h"

int main(int argc, char** argv) {
  onpu::prepare_console();
  onpu::StdConsole console;
  std::vector<std::string> args;
  if (!onpu::command_line_arguments(argc, argv, &args)) {
    console.err(onpu::msg::kCommandLineFailed);
    return 1;
  }
  // Decided before anything runs: a conversion starts no other process on
  // the console, but let nothing change the answer.
  const bool own_window = onpu::started_in_own_window();
  // Files dropped on onpu.exe in Explorer: a set of each beside it.
  int status = 0;
  std::string working_folder;
  if (onpu::is_drop(own_window, args, onpu::is_regular_file) && onpu::current_directory(&working_folder)) {
    status = onpu::run_drop(args, working_folder, console);
  } else {
    status = onpu::run_command_line(args, console);
  }
  if (own_window) {
    if (args.size() <= 1) console.out(onpu::msg::kDropHint);
    onpu::wait_for_key(console);
  }
  std::fflush(stdout);
  return status;
}
