// How far a run has come, for a front end that shows it as it goes (the web
// page). The stages report to one listener; the command line sets none, and
// nothing the program prints or writes depends on whether one is set.
#pragma once

#include <functional>

namespace onpu {

// The stages in the order a run passes them: reading the MIDI file, writing
// the maps, then for a set rendering the song, encoding the MP3s (the song's
// and the piano keys') and writing the archive.
enum class ProgressStage { kReading, kMaps, kRender, kMp3, kArchive };

// "reading", "maps", "render", "mp3", "archive".
const char* progress_stage_name(ProgressStage stage);

// Called with a stage and how much of it is done, 0 to 1; within a stage the
// fractions never go back, and each stage that runs starts at 0 and ends at 1.
using ProgressListener = std::function<void(ProgressStage stage, double fraction)>;

// Replaces the listener (an empty one: none). Not to be called during a run.
void set_progress_listener(ProgressListener listener);

// Tells the listener, if any; the fraction is clamped to 0..1. May be called
// from any thread: calls reach the listener one at a time.
void report_progress(ProgressStage stage, double fraction);

}  // namespace onpu
