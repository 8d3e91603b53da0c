#include "common/progress.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>

namespace onpu {
namespace {

ProgressListener& listener() {
  static ProgressListener instance;
  return instance;
}

std::mutex& listener_mutex() {
  static std::mutex instance;
  return instance;
}

// Whether a listener is set: the command line sets none, and its renderer
// and encoder threads then report without taking the lock.
std::atomic<bool>& listening() {
  static std::atomic<bool> instance{false};
  return instance;
}

}  // namespace

const char* progress_stage_name(ProgressStage stage) {
  switch (stage) {
    case ProgressStage::kReading:
      return "reading";
    case ProgressStage::kMaps:
      return "maps";
    case ProgressStage::kRender:
      return "render";
    case ProgressStage::kMp3:
      return "mp3";
    case ProgressStage::kArchive:
      return "archive";
  }
  return "";
}

void set_progress_listener(ProgressListener new_listener) {
  std::lock_guard<std::mutex> lock(listener_mutex());
  listener() = std::move(new_listener);
  listening().store(static_cast<bool>(listener()), std::memory_order_release);
}

void report_progress(ProgressStage stage, double fraction) {
  if (!listening().load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(listener_mutex());
  if (listener()) listener()(stage, std::clamp(fraction, 0.0, 1.0));
}

}  // namespace onpu
