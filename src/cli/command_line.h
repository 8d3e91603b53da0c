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

// Whether onpu waits for a key before it ends, so that its window does not
// vanish with what it said: only when the console has no other process (a
// double click or a file dropped on onpu.exe opened it) and the input is
// that console. Run from a console or with input redirected: never.
bool should_wait_for_key(unsigned console_processes, bool input_is_console);

// should_wait_for_key for this process; always false outside Windows.
bool started_in_own_window();

// Asks for a key press on standard output and waits for it.
void wait_for_key(Console& console);

}  // namespace onpu
