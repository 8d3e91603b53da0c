// The program as the command line sees it: `onpu <midi_filename> [mode]`.
#pragma once

#include <string>
#include <vector>

#include "common/console.h"

namespace onpu {

// Runs onpu for the UTF-8 arguments (args[0] is the program as typed) and
// returns the exit status: 0 after the conversions, 1 on any failure.
// Output files go into the current directory.
int run_command_line(const std::vector<std::string>& args, Console& console);

// Decodes the process's own command line into UTF-8 arguments; false when it
// cannot be done. On Windows the wide command line is split by the
// platform's rules; elsewhere argv already holds UTF-8.
bool command_line_arguments(int argc, char** argv, std::vector<std::string>* args);

// Prepares the console for UTF-8 text.
void prepare_console();

}  // namespace onpu
