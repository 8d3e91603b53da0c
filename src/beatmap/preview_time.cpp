#include "beatmap/preview_time.h"

#include <algorithm>
#include <cmath>

namespace onpu {

std::vector<int32_t> bar_line_times_ms(const std::vector<TimingLine>& lines, int32_t end_ms) {
  std::vector<int32_t> bars;
  for (size_t i = 0; i < lines.size(); ++i) {
    const TimingLine& line = lines[i];
    const int64_t until = i + 1 < lines.size() ? std::min(lines[i + 1].time_ms, end_ms) : end_ms;
    const double bar_ms = line.beat_length_ms * std::max(line.meter, 1);
    // A bar of no length (a damaged tempo) would never end.
    if (!(bar_ms > 0)) continue;
    for (int64_t k = line.omit_first_bar_line ? 1 : 0;; ++k) {
      const double time = line.time_ms + static_cast<double>(k) * bar_ms;
      if (time >= static_cast<double>(until)) break;
      const int32_t ms = static_cast<int32_t>(std::floor(time));
      if (ms >= 0 && (bars.empty() || ms > bars.back())) bars.push_back(ms);
    }
  }
  return bars;
}

int32_t choose_preview_ms(const std::vector<int32_t>& bar_lines_ms, const std::vector<SoundingMoment>& moments,
                          int32_t end_ms) {
  // The running weight of the moments before each time, by binary search.
  std::vector<int64_t> before(moments.size() + 1, 0);
  for (size_t i = 0; i < moments.size(); ++i) before[i + 1] = before[i] + moments[i].weight;
  auto weight_before = [&](int64_t time_ms) {
    const auto at = std::lower_bound(moments.begin(), moments.end(), time_ms,
                                     [](const SoundingMoment& m, int64_t t) { return m.time_ms < t; });
    return before[static_cast<size_t>(at - moments.begin())];
  };
  int32_t best = -1;
  int64_t best_weight = -1;
  for (int32_t bar : bar_lines_ms) {
    if (static_cast<int64_t>(bar) + kPreviewMs > end_ms) break;
    const int64_t weight = weight_before(static_cast<int64_t>(bar) + kPreviewMs) - weight_before(bar);
    if (weight > best_weight) {
      best = bar;
      best_weight = weight;
    }
  }
  if (best >= 0) return best;
  if (bar_lines_ms.empty()) return 0;
  const int32_t first_note = moments.empty() ? 0 : moments.front().time_ms;
  const auto after = std::upper_bound(bar_lines_ms.begin(), bar_lines_ms.end(), first_note);
  return std::max(after == bar_lines_ms.begin() ? *after : *(after - 1), 0);
}

}  // namespace onpu
