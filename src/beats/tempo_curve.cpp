#include "beats/tempo_curve.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "beats/beat_level.h"
#include "common/exact_math.h"

namespace onpu {
namespace {

// Periods in kBinsPerOctave steps from kShortestMs: beat periods up to
// kLongestMs, lags of onset pairs up to kLongestLagMs (the multiples of a
// period that its salience sums).
constexpr int kBinsPerOctave = 24;
constexpr double kShortestMs = 180.0;
constexpr double kLongestMs = 4000.0;
constexpr double kLongestLagMs = 8000.0;
// The curve's steps, and the reach of each (a triangle over this many steps
// either way).
constexpr double kStepMs = 1000.0;
constexpr int kReachSteps = 3;
// The path stays within about half an octave of the piece's level, and a
// change of a semitone of period (a twelfth of an octave) between two steps
// costs as much as a periodicity a third less salient.
constexpr double kLevelOctaves = 0.5;
constexpr double kChangeCost = 30.0;
// A step's saliences as shares of its strongest, plus this much: a period
// with no salience at all is only so unlikely.
constexpr double kSalienceFloor = 0.05;
// An onset pairs with at most this many later onsets (as for the periods of
// the whole piece, beat_level.cpp).
constexpr size_t kMostPairs = 256;

// Warped time runs at most this many times faster or slower than real time,
// so that tracking in it costs at most this many times more.
constexpr double kMostStretch = 2.0;

double log2_of(double x) { return exact::log(x) / exact::log(2.0); }

int bin_of(double ms) { return static_cast<int>(std::floor(log2_of(ms / kShortestMs) * kBinsPerOctave + 0.5)); }

double period_of(int bin) { return kShortestMs * exact::pow(2.0, static_cast<double>(bin) / kBinsPerOctave); }

}  // namespace

TempoCurve follow_tempo(const std::vector<Onset>& onsets, double level_ms) {
  TempoCurve curve;
  if (onsets.empty() || !(level_ms > 0)) return curve;
  const int periods = bin_of(kLongestMs) + 1;
  const int lag_bins = bin_of(kLongestLagMs) + 1;
  const double first = onsets.front().time_ms;
  const size_t steps = static_cast<size_t>((onsets.back().time_ms - first) / kStepMs) + 1;
  curve.first_ms = first;
  curve.step_ms = kStepMs;

  // The pairs' lags, each at the step of its midpoint.
  std::vector<double> lags(steps * static_cast<size_t>(lag_bins), 0.0);
  for (size_t i = 0; i < onsets.size(); ++i) {
    for (size_t j = i + 1; j < onsets.size() && j <= i + kMostPairs; ++j) {
      const double lag = onsets[j].time_ms - onsets[i].time_ms;
      if (lag > kLongestLagMs) break;
      if (lag < kShortestMs) continue;
      const double middle = (onsets[i].time_ms + onsets[j].time_ms) / 2;
      const size_t step = std::min(steps - 1, static_cast<size_t>((middle - first) / kStepMs + 0.5));
      const int bin = std::min(lag_bins - 1, bin_of(lag));
      lags[step * static_cast<size_t>(lag_bins) + static_cast<size_t>(bin)] += onsets[i].strength * onsets[j].strength;
    }
  }

  // Each step's salience of every period: the lags of the steps around it
  // (a triangle in time, a small one across neighbouring periods), summed
  // over the period's multiples, as a share of the step's strongest.
  std::vector<double> emission(steps * static_cast<size_t>(periods));
  std::vector<double> local(static_cast<size_t>(lag_bins));
  std::vector<double> prior(static_cast<size_t>(periods));
  for (int b = 0; b < periods; ++b) {
    const double octaves = log2_of(period_of(b) / level_ms) / kLevelOctaves;
    prior[static_cast<size_t>(b)] = -0.5 * octaves * octaves;
  }
  for (size_t s = 0; s < steps; ++s) {
    std::fill(local.begin(), local.end(), 0.0);
    for (int d = -kReachSteps + 1; d < kReachSteps; ++d) {
      const long long at = static_cast<long long>(s) + d;
      if (at < 0 || at >= static_cast<long long>(steps)) continue;
      const double weight = 1.0 - std::abs(d) / static_cast<double>(kReachSteps);
      const double* row = &lags[static_cast<size_t>(at) * static_cast<size_t>(lag_bins)];
      for (int b = 0; b < lag_bins; ++b) local[static_cast<size_t>(b)] += weight * row[b];
    }
    const std::vector<double> salience = periodicity_salience(local, kBinsPerOctave);
    const double strongest = *std::max_element(salience.begin(), salience.begin() + periods);
    double* out = &emission[s * static_cast<size_t>(periods)];
    for (int b = 0; b < periods; ++b) {
      const double share = strongest > 0 ? salience[static_cast<size_t>(b)] / strongest : 0.0;
      out[b] = exact::log(share + kSalienceFloor) + prior[static_cast<size_t>(b)];
    }
  }

  // The Viterbi path through the steps.
  std::vector<double> change_cost(static_cast<size_t>(periods));
  for (int d = 0; d < periods; ++d) {
    const double octaves = static_cast<double>(d) / kBinsPerOctave;
    change_cost[static_cast<size_t>(d)] = kChangeCost * octaves * octaves;
  }
  std::vector<uint8_t> from(steps * static_cast<size_t>(periods), 0);
  std::vector<double> score(emission.begin(), emission.begin() + periods);
  std::vector<double> next(static_cast<size_t>(periods));
  for (size_t s = 1; s < steps; ++s) {
    const double* here = &emission[s * static_cast<size_t>(periods)];
    for (int b = 0; b < periods; ++b) {
      double best = -std::numeric_limits<double>::infinity();
      int choice = b;
      for (int a = 0; a < periods; ++a) {
        const double v = score[static_cast<size_t>(a)] - change_cost[static_cast<size_t>(std::abs(a - b))];
        if (v > best) {
          best = v;
          choice = a;
        }
      }
      next[static_cast<size_t>(b)] = best + here[b];
      from[s * static_cast<size_t>(periods) + static_cast<size_t>(b)] = static_cast<uint8_t>(choice);
    }
    score.swap(next);
  }
  int bin = static_cast<int>(std::max_element(score.begin(), score.end()) - score.begin());
  curve.period_ms.assign(steps, 0.0);
  for (size_t s = steps; s-- > 0;) {
    curve.period_ms[s] = period_of(bin);
    bin = from[s * static_cast<size_t>(periods) + static_cast<size_t>(bin)];
  }
  return curve;
}

TimeWarp::TimeWarp(const TempoCurve& curve, double reference_ms) {
  const size_t steps = curve.period_ms.size();
  real_knots_.push_back(curve.first_ms - curve.step_ms / 2);
  warped_knots_.push_back(real_knots_.front());
  for (size_t s = 0; s < steps; ++s) {
    slopes_.push_back(std::clamp(reference_ms / curve.period_ms[s], 1.0 / kMostStretch, kMostStretch));
    real_knots_.push_back(real_knots_.back() + curve.step_ms);
    warped_knots_.push_back(warped_knots_.back() + curve.step_ms * slopes_.back());
  }
  if (slopes_.empty()) slopes_.push_back(1.0);
}

double TimeWarp::warped(double real_ms) const {
  if (real_ms <= real_knots_.front()) return warped_knots_.front() + (real_ms - real_knots_.front()) * slopes_.front();
  if (real_ms >= real_knots_.back()) return warped_knots_.back() + (real_ms - real_knots_.back()) * slopes_.back();
  const size_t k =
      static_cast<size_t>(std::upper_bound(real_knots_.begin(), real_knots_.end(), real_ms) - real_knots_.begin()) - 1;
  return warped_knots_[k] + (real_ms - real_knots_[k]) * slopes_[k];
}

double TimeWarp::real(double warped_ms) const {
  if (warped_ms <= warped_knots_.front())
    return real_knots_.front() + (warped_ms - warped_knots_.front()) / slopes_.front();
  if (warped_ms >= warped_knots_.back())
    return real_knots_.back() + (warped_ms - warped_knots_.back()) / slopes_.back();
  const size_t k = static_cast<size_t>(std::upper_bound(warped_knots_.begin(), warped_knots_.end(), warped_ms) -
                                       warped_knots_.begin()) -
                   1;
  return real_knots_[k] + (warped_ms - warped_knots_[k]) / slopes_[k];
}

}  // namespace onpu
