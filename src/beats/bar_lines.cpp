#include "beats/bar_lines.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace onpu {
namespace {

constexpr int kMeters[] = {2, 3, 4};
constexpr int kMeterCount = 3;
constexpr int kStates = 2 + 3 + 4;
// The cost of each bar line, in standard deviations of the salience: without
// it, grouping by two would always catch more salience than the true meter.
constexpr double kBarCost = 0.4;
// The cost of a bar that ends early or changes the meter.
constexpr double kBreakCost = 1.5;

// Centres values on their mean and scales them to a standard deviation of 1
// (all 0 when they do not vary).
void standardise(std::vector<double>* values) {
  double mean = 0;
  for (double v : *values) mean += v;
  mean /= static_cast<double>(values->size());
  double variance = 0;
  for (double v : *values) variance += (v - mean) * (v - mean);
  variance /= static_cast<double>(values->size());
  const double sd = std::sqrt(variance);
  for (double& v : *values) v = sd > 1e-9 ? (v - mean) / sd : 0.0;
}

std::vector<double> downbeat_salience(const std::vector<PerformedNote>& notes, const std::vector<Onset>& onsets,
                                      const std::vector<double>& beats) {
  const size_t n = beats.size();
  std::vector<double> bass(n), chord(n), length(n), loudness(n), harmony(n);
  size_t j = 0;
  for (size_t k = 0; k < n; ++k) {
    const double before = k > 0 ? beats[k] - beats[k - 1] : beats[1] - beats[0];
    const double after = k + 1 < n ? beats[k + 1] - beats[k] : before;
    const double window = std::min(70.0, 0.2 * std::min(before, after));
    while (j < onsets.size() && onsets[j].time_ms < beats[k] - window) ++j;
    for (size_t i = j; i < onsets.size() && onsets[i].time_ms <= beats[k] + window; ++i) {
      const Onset& o = onsets[i];
      bass[k] = std::max(bass[k], o.bass * o.loudness);
      chord[k] = std::max(chord[k], o.chord);
      length[k] = std::max(length[k], o.length);
      loudness[k] = std::max(loudness[k], o.loudness);
    }
    // The harmony of one beat and of two beats before against after.
    double change = 0;
    for (int span = 1; span <= 2; ++span) {
      const double from = k >= static_cast<size_t>(span) ? beats[k - span] : beats[k] - span * before;
      const double to = k + span < n ? beats[k + span] : beats[k] + span * after;
      change += harmonic_distance(pitch_classes_between(notes, from - window, beats[k] - window),
                                  pitch_classes_between(notes, beats[k] - window, to - window));
    }
    harmony[k] = change;
  }
  standardise(&bass);
  standardise(&chord);
  standardise(&length);
  standardise(&loudness);
  standardise(&harmony);
  std::vector<double> salience(n);
  for (size_t k = 0; k < n; ++k) {
    // A change of harmony marks a bar line above all: music changes chord
    // by the bar more often than by any other span.
    salience[k] = bass[k] + 2.0 * harmony[k] + 0.5 * chord[k] + 0.5 * length[k] + 0.5 * loudness[k];
  }
  standardise(&salience);
  return salience;
}

}  // namespace

BarLines find_bar_lines(const std::vector<PerformedNote>& notes, const std::vector<Onset>& onsets,
                        const std::vector<double>& beats) {
  BarLines bars;
  const size_t n = beats.size();
  if (n < 2) return bars;
  const std::vector<double> salience = downbeat_salience(notes, onsets, beats);

  // States: meter m's places 0..m-1, meters one after the other.
  int meter_of[kStates], place_of[kStates];
  for (int m = 0, s = 0; m < kMeterCount; ++m) {
    for (int p = 0; p < kMeters[m]; ++p, ++s) {
      meter_of[s] = m;
      place_of[s] = p;
    }
  }
  const double none = -std::numeric_limits<double>::infinity();
  std::vector<double> score(kStates, 0.0);
  std::vector<uint8_t> from(n * kStates, 0);
  for (size_t k = 0; k < n; ++k) {
    std::vector<double> next(kStates, none);
    for (int s = 0; s < kStates; ++s) {
      const int m = meter_of[s];
      const int p = place_of[s];
      double best = none;
      uint8_t choice = 0;
      if (k == 0) {
        best = 0;  // a piece may begin anywhere in a bar: pickups cost nothing
      } else if (p > 0) {
        best = score[s - 1];
        choice = static_cast<uint8_t>(s - 1);
      } else {
        // A bar line: after the last beat of a bar of the same meter, or at a
        // cost after any other beat (a bar cut short, a change of meter).
        for (int r = 0; r < kStates; ++r) {
          const bool natural = meter_of[r] == m && place_of[r] == kMeters[m] - 1;
          const double v = score[r] - (natural ? 0.0 : kBreakCost);
          if (v > best) {
            best = v;
            choice = static_cast<uint8_t>(r);
          }
        }
      }
      next[s] = best + (p == 0 ? salience[k] - kBarCost : 0.0);
      from[k * kStates + s] = choice;
    }
    score.swap(next);
  }
  int state = static_cast<int>(std::max_element(score.begin(), score.end()) - score.begin());
  std::vector<int> path(n);
  for (size_t k = n; k-- > 0;) {
    path[k] = state;
    state = from[k * kStates + state];
  }
  int counts[5] = {0, 0, 0, 0, 0};
  for (size_t k = 0; k < n; ++k) {
    if (place_of[path[k]] != 0) continue;
    bars.bar_starts.push_back(static_cast<uint32_t>(k));
    ++counts[kMeters[meter_of[path[k]]]];
  }
  bars.meter = 4;
  for (int m : {3, 2}) {
    if (counts[m] > counts[bars.meter]) bars.meter = m;
  }
  return bars;
}

}  // namespace onpu
