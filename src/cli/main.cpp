// onpu: converts a Standard MIDI File into an osu! beatmap.
#include <cstdio>
#include <vector>

#include "cli/command_line.h"
#include "common/messages.h"

int main(int argc, char** argv) {
  onpu::prepare_console();
  onpu::StdConsole console;
  std::vector<std::string> args;
  if (!onpu::command_line_arguments(argc, argv, &args)) {
    console.err(onpu::msg::kCommandLineFailed);
    return 1;
  }
  int status = onpu::run_command_line(args, console);
  std::fflush(stdout);
  return status;
}
