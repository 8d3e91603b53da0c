#include "beats/onset_features.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <numeric>

namespace onpu {
namespace {

// The bass is judged against the notes around an onset: within this many
// milliseconds either way lies the lowest key the left hand reaches.
constexpr double kBassWindowMs = 900.0;
// A bass note a fifth (7 semitones) above that lowest key no longer counts.
constexpr double kBassFadeKeys = 7.0;
// The harmony before and after an onset is gathered over this span.
constexpr double kHarmonyWindowMs = 700.0;

double clamp01(double x) { return x < 0 ? 0 : (x > 1 ? 1 : x); }

struct Gathering {
  double weighted_time = 0;
  double weight = 0;
  int32_t first_ms = 0;
  int32_t last_ms = 0;
  int64_t longest_hold_ms = 0;
  double chroma[12] = {0};
};

double note_hold_seconds(const PerformedNote& n) {
  const int64_t hold = std::max<int64_t>(0, int64_t{n.end_ms} - n.time_ms);
  return static_cast<double>(std::min<int64_t>(hold, 4000)) / 1000.0;
}

}  // namespace

std::vector<Onset> gather_onsets(const std::vector<PerformedNote>& input) {
  // Files are read in time order already; a list that is not is ordered by a
  // stable sort of indices, so equal times keep their order.
  std::vector<uint32_t> order(input.size());
  std::iota(order.begin(), order.end(), 0u);
  if (!std::is_sorted(input.begin(), input.end(),
                      [](const PerformedNote& a, const PerformedNote& b) { return a.time_ms < b.time_ms; })) {
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return input[a].time_ms < input[b].time_ms; });
  }

  std::vector<Onset> onsets;
  std::vector<Gathering> gathered;
  for (uint32_t index : order) {
    const PerformedNote& n = input[index];
    if (n.velocity == 0) continue;
    const bool joins = !gathered.empty() && int64_t{n.time_ms} - gathered.back().last_ms < kOnsetGapMs &&
                       int64_t{n.time_ms} - gathered.back().first_ms < kOnsetSpanMs;
    if (!joins) {
      gathered.emplace_back();
      onsets.emplace_back();
      gathered.back().first_ms = n.time_ms;
      onsets.back().lowest_key = n.key;
    }
    Gathering& g = gathered.back();
    Onset& o = onsets.back();
    const double v = n.velocity / 127.0;
    g.weighted_time += v * v * n.time_ms;
    g.weight += v * v;
    g.last_ms = n.time_ms;
    g.longest_hold_ms = std::max(g.longest_hold_ms, int64_t{n.end_ms} - n.time_ms);
    g.chroma[n.key % 12] += v * (0.25 + note_hold_seconds(n));
    o.loudness = std::max(o.loudness, v);
    o.lowest_key = std::min(o.lowest_key, n.key);
    if (o.note_count < 255) ++o.note_count;
  }

  const size_t count = onsets.size();
  for (size_t i = 0; i < count; ++i) {
    Onset& o = onsets[i];
    o.time_ms = gathered[i].weighted_time / gathered[i].weight;
    o.chord = clamp01((o.note_count - 1) / 3.0);
    o.length = std::sqrt(clamp01(static_cast<double>(gathered[i].longest_hold_ms) / 1000.0));
  }

  // The bass: the lowest key around each onset, from a sliding minimum (a
  // queue of onsets whose keys rise), so that dense music costs no more per
  // onset than sparse.
  std::deque<size_t> lows;
  size_t hi = 0;
  for (size_t i = 0; i < count; ++i) {
    const double t = onsets[i].time_ms;
    while (hi < count && onsets[hi].time_ms <= t + kBassWindowMs) {
      while (!lows.empty() && onsets[lows.back()].lowest_key >= onsets[hi].lowest_key) lows.pop_back();
      lows.push_back(hi++);
    }
    while (onsets[lows.front()].time_ms < t - kBassWindowMs) lows.pop_front();
    const int lowest = onsets[lows.front()].lowest_key;
    onsets[i].bass = clamp01(1.0 - (onsets[i].lowest_key - lowest) / kBassFadeKeys);
  }

  // The harmony: pitch classes of the onsets in the span before against the
  // span after, from running sums.
  std::vector<double> sums((count + 1) * 12, 0.0);
  for (size_t i = 0; i < count; ++i) {
    for (int k = 0; k < 12; ++k) sums[(i + 1) * 12 + k] = sums[i * 12 + k] + gathered[i].chroma[k];
  }
  size_t before = 0;
  size_t after = 0;
  for (size_t i = 0; i < count; ++i) {
    const double t = onsets[i].time_ms;
    while (onsets[before].time_ms < t - kHarmonyWindowMs) ++before;
    while (after < count && onsets[after].time_ms < t + kHarmonyWindowMs) ++after;
    PitchClassSpan a, b;
    for (int k = 0; k < 12; ++k) {
      a.weight[k] = sums[i * 12 + k] - sums[before * 12 + k];
      b.weight[k] = sums[after * 12 + k] - sums[i * 12 + k];
    }
    onsets[i].harmony = harmonic_distance(a, b);
  }

  for (Onset& o : onsets) {
    o.heavy = (o.chord + o.bass + o.length + o.harmony) / 4.0;
    // A note held long marks its beat more than anything else a player
    // does: on real performances it weighs three times as much as the rest.
    o.strength = (0.25 + o.loudness) * (0.5 + o.heavy) * (1.0 + 2.0 * o.length);
  }
  return onsets;
}

PitchClassSpan pitch_classes_between(const std::vector<PerformedNote>& notes, double from_ms, double to_ms) {
  PitchClassSpan span;
  auto first = std::partition_point(notes.begin(), notes.end(),
                                    [from_ms](const PerformedNote& n) { return n.time_ms < from_ms; });
  for (auto it = first; it != notes.end() && it->time_ms < to_ms; ++it) {
    const double end = std::min(std::max<double>(it->end_ms, it->time_ms + 50.0), to_ms);
    span.weight[it->key % 12] += (it->velocity / 127.0) * (end - it->time_ms + 50.0) / 1000.0;
  }
  return span;
}

double harmonic_distance(const PitchClassSpan& a, const PitchClassSpan& b) {
  double ab = 0, aa = 0, bb = 0;
  for (int k = 0; k < 12; ++k) {
    ab += a.weight[k] * b.weight[k];
    aa += a.weight[k] * a.weight[k];
    bb += b.weight[k] * b.weight[k];
  }
  if (aa <= 0 || bb <= 0) return 0;
  return clamp01(1.0 - ab / std::sqrt(aa * bb));
}

}  // namespace onpu
