#include "beats/beat_level.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "common/exact_math.h"

namespace onpu {
namespace {

// The lag histogram: kBinsPerOctave bins per octave from kShortestLagMs up,
// over kOctaves octaves.
constexpr double kShortestLagMs = 100.0;
constexpr int kBinsPerOctave = 40;
constexpr int kOctaves = 6;
constexpr int kBins = kBinsPerOctave * kOctaves;
constexpr int kLongestLagMs = 6400;  // kShortestLagMs * 2^kOctaves

// The pace of the notes: the beat a pianist counts spans about one to four
// and a half of the music's onsets (a chorale's chords, the
// eighths of an Alberti bass, the sixteenths of a fugue or an etude: the
// median gap between onsets is the note value the music runs in). Beyond
// that span, the score falls off by a bell kPaceOctaves wide.
constexpr double kFewestOnsetsPerBeat = 1.0;
constexpr double kMostOnsetsPerBeat = 4.5;
constexpr double kPaceOctaves = 0.7;

double log2_of(double x) { return exact::log(x) / exact::log(2.0); }

int bin_of(double lag_ms) {
  return static_cast<int>(std::floor(log2_of(lag_ms / kShortestLagMs) * kBinsPerOctave + 0.5));
}

double period_of(int bin) { return kShortestLagMs * exact::pow(2.0, static_cast<double>(bin) / kBinsPerOctave); }

// What marks the beat level: a bass note, a chord, a change of harmony.
double level_weight(const Onset& o) { return (o.bass * o.loudness + o.chord) * o.strength; }

}  // namespace

std::vector<double> beat_period_candidates(const std::vector<Onset>& onsets) {
  std::vector<int> bin_at_ms(kLongestLagMs + 1, -1);
  for (int ms = static_cast<int>(kShortestLagMs); ms <= kLongestLagMs; ++ms) {
    bin_at_ms[ms] = std::min(kBins - 1, bin_of(ms));
  }
  // Onset pairs up to the longest lag: the weight of a pair is the product of
  // the accents, so that chords and bass notes shape the periodicities more
  // than passing notes.
  // Past kMostPairs later onsets an onset pairs no more: piano music has
  // fewer within the longest lag, and a file of dense clusters stays linear.
  constexpr size_t kMostPairs = 256;
  std::vector<double> lags(kBins, 0.0);
  for (size_t i = 0; i < onsets.size(); ++i) {
    for (size_t j = i + 1; j < onsets.size() && j <= i + kMostPairs; ++j) {
      const double lag = onsets[j].time_ms - onsets[i].time_ms;
      if (lag > kLongestLagMs) break;
      const int ms = static_cast<int>(lag + 0.5);
      if (ms < kShortestLagMs) continue;
      lags[static_cast<size_t>(bin_at_ms[ms])] += onsets[i].strength * onsets[j].strength;
    }
  }
  const std::vector<double> salience = periodicity_salience(lags, kBinsPerOctave);

  const int first = bin_of(kShortestBeatMs);
  const int last = bin_of(kLongestBeatMs);
  struct Peak {
    int bin;
    double salience;
  };
  std::vector<Peak> peaks;
  for (int b = first; b <= last; ++b) {
    const double s = salience[static_cast<size_t>(b)];
    if (s <= 0) continue;
    if (s >= salience[static_cast<size_t>(b - 1)] && s > salience[static_cast<size_t>(b + 1)]) peaks.push_back({b, s});
  }
  std::stable_sort(peaks.begin(), peaks.end(), [](const Peak& a, const Peak& b) { return a.salience > b.salience; });
  // The three strongest periodicities, then the metrical relatives of the
  // strongest (a half, a third, two thirds, and so on), which the beat may
  // be when the strongest is its subdivision or its bar.
  std::vector<double> periods;
  auto add = [&](double period) {
    if (period < kShortestBeatMs || period > kLongestBeatMs) return;
    for (double q : periods) {
      if (std::abs(log2_of(period / q)) < 0.05) return;  // within 3.5 %: the same level
    }
    periods.push_back(period);
  };
  for (size_t i = 0; i < peaks.size() && i < 3; ++i) add(period_of(peaks[i].bin));
  if (!peaks.empty()) {
    const double strongest = period_of(peaks[0].bin);
    for (double ratio : {0.5, 2.0, 1.0 / 3, 3.0, 2.0 / 3, 1.5, 0.25, 4.0}) add(strongest * ratio);
  }
  return periods;
}

std::vector<double> periodicity_salience(const std::vector<double>& lags, int bins_per_octave) {
  const int bins = static_cast<int>(lags.size());
  std::vector<double> smooth(lags.size(), 0.0);
  for (int b = 0; b < bins; ++b) {
    double sum = 0;
    for (int d = -2; d <= 2; ++d) {
      const int k = b + d;
      if (k >= 0 && k < bins) sum += (3 - (d < 0 ? -d : d)) * lags[static_cast<size_t>(k)];
    }
    smooth[static_cast<size_t>(b)] = sum / 9.0;
  }
  // Harmonic sums: a period is as salient as the recurrences at its
  // multiples say.
  const int third = static_cast<int>(std::floor(log2_of(3.0) * bins_per_octave + 0.5));
  const int offsets[] = {0, bins_per_octave, third, 2 * bins_per_octave};
  const double weights[] = {1.0, 0.5, 0.33, 0.25};
  std::vector<double> salience(lags.size(), 0.0);
  for (int b = 0; b < bins; ++b) {
    for (int m = 0; m < 4; ++m) {
      if (b + offsets[m] < bins)
        salience[static_cast<size_t>(b)] += weights[m] * smooth[static_cast<size_t>(b + offsets[m])];
    }
  }
  return salience;
}

double median_of(std::vector<double> values) {
  if (values.empty()) return 0;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
  return values[values.size() / 2];
}

double median_beat_ms(const std::vector<double>& beats_ms, double fallback) {
  if (beats_ms.size() < 2) return fallback;
  std::vector<double> gaps;
  for (size_t k = 1; k < beats_ms.size(); ++k) gaps.push_back(beats_ms[k] - beats_ms[k - 1]);
  return median_of(std::move(gaps));
}

double figure_contrast(const std::vector<PerformedNote>& notes, const std::vector<double>& beats) {
  if (beats.size() < 3) return 0;
  double halves = 0, neighbours = 0;
  PitchClassSpan before = pitch_classes_between(notes, beats[0], beats[1]);
  for (size_t k = 1; k < beats.size(); ++k) {
    const double middle = (beats[k - 1] + beats[k]) / 2;
    halves += harmonic_distance(pitch_classes_between(notes, beats[k - 1], middle),
                                pitch_classes_between(notes, middle, beats[k]));
    if (k + 1 < beats.size()) {
      const PitchClassSpan after = pitch_classes_between(notes, beats[k], beats[k + 1]);
      neighbours += harmonic_distance(before, after);
      before = after;
    }
  }
  return halves / static_cast<double>(beats.size() - 1) - neighbours / static_cast<double>(beats.size() - 2);
}

double texture_ms(const std::vector<Onset>& onsets) {
  std::vector<double> gaps;
  for (size_t i = 1; i < onsets.size(); ++i) gaps.push_back(onsets[i].time_ms - onsets[i - 1].time_ms);
  return median_of(std::move(gaps));
}

double beat_level_score(const std::vector<Onset>& onsets, const std::vector<double>& beats, double texture_ms) {
  if (beats.size() < 4 || onsets.empty()) return 0;
  const double period = median_beat_ms(beats, 0);

  // An onset counts on a beat within a tenth of the beat (at most 70 ms).
  const double window = std::min(70.0, 0.1 * period);
  double caught = 0, total = 0;
  double filled = 0;
  size_t j = 0;
  for (const Onset& o : onsets) total += level_weight(o);
  for (double b : beats) {
    while (j < onsets.size() && onsets[j].time_ms < b - window) ++j;
    double best = 0;
    for (size_t i = j; i < onsets.size() && onsets[i].time_ms <= b + window; ++i) {
      const double a = level_weight(onsets[i]);
      caught += a;
      best = std::max(best, a);
    }
    filled += best;
  }
  // Filled: the beats weighted by the heaviest onset they catch, against the
  // heaviest onsets of the piece (the mean of the top quarter).
  std::vector<double> heavy;
  for (const Onset& o : onsets) heavy.push_back(level_weight(o));
  std::sort(heavy.begin(), heavy.end());
  double top = 0;
  const size_t from = heavy.size() - std::max<size_t>(1, heavy.size() / 4);
  for (size_t i = from; i < heavy.size(); ++i) top += heavy[i];
  top /= static_cast<double>(heavy.size() - from);
  const double precision = std::min(1.0, filled / (static_cast<double>(beats.size()) * top));
  const double recall = total > 0 ? caught / total : 0;
  if (precision + recall <= 0) return 0;
  const double f = 2 * precision * recall / (precision + recall);
  // The notes' own pace: a beat that spans fewer of them than
  // kFewestOnsetsPerBeat, or more than kMostOnsetsPerBeat, loses by the
  // octaves it lies beyond.
  const double spans = texture_ms > 0 ? period / texture_ms : kFewestOnsetsPerBeat;
  const double beyond = (spans > kMostOnsetsPerBeat ? log2_of(spans / kMostOnsetsPerBeat) : 0.0) +
                        (spans < kFewestOnsetsPerBeat ? log2_of(kFewestOnsetsPerBeat / spans) : 0.0);
  const double octaves = beyond / kPaceOctaves;
  return f * exact::exp(-0.5 * octaves * octaves);
}

}  // namespace onpu
