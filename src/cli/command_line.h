// The program as the command line sees it: `onpu <midi_filename> [mode]`.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/console.h"

namespace onpu {

// Runs onpu for the UTF-8 arguments (args[0] is the program as typed) and
// returns the exit status: 0 after the conversions, 1 on any failure.
// Output files go into the current directory.
int run_command_line(const std::vector<std::string>& args, Console& console);

// Whether a start is a drop of files on onpu.exe in Explorer: onpu has a
// window of its own and every argument after the program names a file (at
// least one). is_file tells whether a path names a file.
bool is_drop(bool own_window, const std::vector<std::string>& args,
             const std::function<bool(const std::string&)>& is_file);

// Where a dropped file's set goes: the file's own folder, or the working
// folder when its own takes no files (read-only, or inside an archive).
// writable tells whether a folder takes files.
struct DropDestination {
  std::string folder;
  bool in_working_folder = false;
};
DropDestination drop_destination(const std::string& file, const std::string& working_folder,
                                 const std::function<bool(const std::string&)>& writable);

// A drop: each file (args[1] on) converted as `FILE --set --out <folder>`,
// one after the other, a failed one not stopping the others, leaving only
// the .osz there (its maps are inside it); then one line
// per file (the .osz written, or why not) and how to import a set. A file
// whose folder takes no files has its set made in working_folder. 0 when
// every set was written, else 1.
int run_drop(const std::vector<std::string>& args, const std::string& working_folder, Console& console);

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
