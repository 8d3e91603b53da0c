#include "common/progress.h"

#include <algorithm>
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
}

void report_progress(ProgressStage stage, double fraction) {
  std::lock_guard<std::mutex> lock(listener_mutex());
  if (listener()) listener()(stage, std::clamp(fraction, 0.0, 1.0));
}

}  // namespace onpu
