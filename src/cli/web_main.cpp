// onpu in a web page: the entry point of the WebAssembly module. The page's
// worker writes the MIDI file into the module's file system and calls main
// with the command line's arguments; it runs the same command line, whose
// lines reach the page through the module's print and printErr, and tells
// the page each stage's progress through Module.onProgress(stage, fraction).
#include <emscripten.h>
#include <pthread.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "common/messages.h"
#include "common/progress.h"

// FluidSynth asks for a real-time priority for the threads it starts. This
// build starts none, and its C library, built without threads, lacks the call.
extern "C" int pthread_setschedparam(pthread_t, int, const struct sched_param*) { return ENOSYS; }

// clang-format off
EM_JS(void, tell_page_progress, (const char* stage, double fraction), {
  if (Module.onProgress) Module.onProgress(UTF8ToString(stage), fraction);
});
// clang-format on

int main(int argc, char** argv) {
  // Files come out readable, as under a shell's usual mask (the module's
  // file system starts with a mask that lets no one read what is written).
  umask(022);
  onpu::set_progress_listener([](onpu::ProgressStage stage, double fraction) {
    tell_page_progress(onpu::progress_stage_name(stage), fraction);
  });
  onpu::StdConsole console;
  std::vector<std::string> args;
  int status = 1;
  if (onpu::command_line_arguments(argc, argv, &args)) {
    status = onpu::run_command_line(args, console);
  } else {
    console.err(onpu::msg::kCommandLineFailed);
  }
  std::fflush(stdout);
  std::fflush(stderr);
  return status;
}
