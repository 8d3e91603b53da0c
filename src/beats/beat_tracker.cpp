#include "beats/beat_tracker.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "beats/bar_lines.h"
#include "beats/beat_level.h"
#include "beats/onset_features.h"
#include "beats/tempo_curve.h"
#include "common/exact_math.h"

// The fuzzing build traces every comparison for coverage. In the dynamic
// program, whose branches follow the values of scores rather than the
// structure of the input, that tracing only makes each run several times
// slower.
#if defined(__clang__)
#define ONPU_NUMERIC_KERNEL __attribute__((no_sanitize("coverage")))
#else
#define ONPU_NUMERIC_KERNEL
#endif

namespace onpu {
namespace {

// The resolution of the dynamic program: frames of frame_ms; periods
// period_step apart on a log scale, period_steps either way of the period
// tracked; from one beat to the next the period moves at most
// largest_change steps. Onset accents spread over the frames either way by
// kernel, so that a beat may fall on an onset played a little early or late.
// The coarse resolution compares candidate levels at an eighth of the cost.
struct Resolution {
  double frame_ms;
  double period_step;
  int period_steps;
  int largest_change;
  std::vector<double> kernel;
};
const Resolution kFine{10.0, 0.012, 34, 16, {1.0, 0.7, 0.4, 0.15}};  // 1.012^34 = 1.5; 21 %
const Resolution kCoarse{20.0, 0.024, 17, 2, {1.0, 0.55, 0.15}};     // 4.8 %

// Beyond its free deviation (Freedom below) from the period tracked, a period
// costs more with every beat.
constexpr double kDeviationCost = 30.0;
// The envelope's local mean over kBaselineMs either way, as much of it as
// one beat's share (kBaselineWeight of the accent a beat spans), is taken off.
constexpr double kBaselineMs = 1500.0;
constexpr double kBaselineWeight = 2.0;
// How far a beat may stray from the period tracked, how much the accent
// halfway between two beats counts against them (so that of a beat and its
// off-beat, the stronger wins), and what a change of period costs: that
// times the square of the change in log period. Levels are compared freely
// but with stiff periods (a change of 6 % costs 1.4 onsets of average
// accent), so that a level is not left for another; the beats are followed
// in a time where the tempo curve is flat, so near it, but from beat to beat
// as freely as a pianist's rubato moves them (6 % costs less than a tenth
// of an onset), and with little weight against the accent between them: in
// a real performance the off-beats of running notes are often played as
// loud as the beats, and a heavier weight lets a stretch of beats slip onto
// them.
struct Freedom {
  double free_deviation;
  double between_weight;
  double change_cost;
};
constexpr Freedom kComparing{0.262, 0.0, 400.0};  // 30 %
constexpr Freedom kFollowing{0.17, 0.05, 20.0};   // 18.5 %
// A silence longer than this many periods (and 4 s) splits the tracking; the
// beats across it are spread evenly.
constexpr double kSplittingRestPeriods = 5.0;
// A beat moves to an onset this close.
constexpr double kSnapMs = 35.0;
// A silence is bridged by at most this many beats; a longer one is left
// without beats (nothing plays there to follow).
constexpr int kMostBridgedBeats = 256;

struct Segment {
  size_t first;  // onsets [first, last)
  size_t last;
};

// Beats through the onsets of one segment, by a dynamic program over (beat
// frame, beat period): the best chain of beats collects the most onset
// accent at its beats, less the costs of changing and straying periods.
ONPU_NUMERIC_KERNEL std::vector<double> track_segment(const std::vector<Onset>& onsets, const Segment& seg,
                                                      double period_ms, double mean_strength, const Resolution& res,
                                                      const Freedom& freedom) {
  const int reach = static_cast<int>(res.kernel.size()) - 1;
  const double origin = onsets[seg.first].time_ms - reach * res.frame_ms;
  const double span = onsets[seg.last - 1].time_ms - origin;
  const int frames = static_cast<int>(span / res.frame_ms) + 2 * reach + 2;
  std::vector<double> envelope(static_cast<size_t>(frames), 0.0);
  for (size_t i = seg.first; i < seg.last; ++i) {
    const int f = static_cast<int>((onsets[i].time_ms - origin) / res.frame_ms + 0.5);
    for (int d = -reach; d <= reach; ++d) {
      const int g = f + d;
      if (g >= 0 && g < frames) {
        envelope[static_cast<size_t>(g)] +=
            onsets[i].strength / mean_strength * res.kernel[static_cast<size_t>(d < 0 ? -d : d)];
      }
    }
  }

  // Against the local mean: a beat gains where the accent stands out from the
  // onsets around it, and a stream of even notes gains nothing from more beats.
  {
    const int half = static_cast<int>(kBaselineMs / res.frame_ms);
    std::vector<double> sums(static_cast<size_t>(frames) + 1, 0.0);
    for (int f = 0; f < frames; ++f)
      sums[static_cast<size_t>(f) + 1] = sums[static_cast<size_t>(f)] + envelope[static_cast<size_t>(f)];
    std::vector<double> contrast(static_cast<size_t>(frames));
    for (int f = 0; f < frames; ++f) {
      const int lo = std::max(0, f - half), hi = std::min(frames, f + half + 1);
      const double local = (sums[static_cast<size_t>(hi)] - sums[static_cast<size_t>(lo)]) / (hi - lo);
      contrast[static_cast<size_t>(f)] = envelope[static_cast<size_t>(f)] - kBaselineWeight * local;
    }
    envelope.swap(contrast);
  }

  const int states = 2 * res.period_steps + 1;
  std::vector<int> period_frames(static_cast<size_t>(states));
  std::vector<double> deviation_cost(static_cast<size_t>(states));
  for (int k = 0; k < states; ++k) {
    const double log_ratio = res.period_step * (k - res.period_steps);
    period_frames[static_cast<size_t>(k)] =
        std::max(2, static_cast<int>(period_ms * exact::exp(log_ratio) / res.frame_ms + 0.5));
    const double excess = std::max(0.0, std::abs(log_ratio) - freedom.free_deviation);
    deviation_cost[static_cast<size_t>(k)] = kDeviationCost * excess * excess;
  }

  // score[f][k]: the best chain whose last beat is frame f with period k,
  // kept for the frames one longest period back; from[f][k]: the period of
  // the beat before (kStart: none). The last beat lies within the last
  // period of the segment. A row of scores has room for largest_change
  // periods either side that no chain reaches, so that every period looks
  // at the same span of periods before it.
  constexpr int8_t kStart = std::numeric_limits<int8_t>::min();
  const double none = -std::numeric_limits<double>::infinity();
  const int reach_k = res.largest_change;
  const int span_k = 2 * reach_k + 1;
  const size_t row = static_cast<size_t>(states + 2 * reach_k);
  std::vector<double> cost_by_offset(static_cast<size_t>(span_k));  // of the change j - largest_change
  for (int j = 0; j < span_k; ++j) {
    const double change = res.period_step * (j - reach_k);
    cost_by_offset[static_cast<size_t>(j)] = freedom.change_cost * change * change;
  }
  const int ring = period_frames.back() + 1;
  std::vector<double> score(static_cast<size_t>(ring) * row, none);
  std::vector<int8_t> from(static_cast<size_t>(frames) * static_cast<size_t>(states), kStart);
  double best = none;
  int best_f = -1, best_k = -1;
  for (int f = 0; f < frames; ++f) {
    double* here = &score[static_cast<size_t>(f % ring) * row + static_cast<size_t>(reach_k)];
    int8_t* back = &from[static_cast<size_t>(f) * static_cast<size_t>(states)];
    const double accent = envelope[static_cast<size_t>(f)];
    for (int k = 0; k < states; ++k) {
      const int previous = f - period_frames[static_cast<size_t>(k)];
      double chain = none;
      int8_t choice = kStart;
      if (previous < 0) {
        chain = 0;  // the first beat of the segment lies within its first period
      } else {
        // The periods k - largest_change .. k + largest_change of the frame before.
        const double* there = &score[static_cast<size_t>(previous % ring) * row + static_cast<size_t>(k)];
        const double* cost = cost_by_offset.data();
        for (int j = 0; j < span_k; ++j) {
          const double s = there[j] - cost[j];
          if (s > chain) {
            chain = s;
            choice = static_cast<int8_t>(j - reach_k);
          }
        }
      }
      const int mid = f - period_frames[static_cast<size_t>(k)] / 2;
      const double between = mid >= 0 ? envelope[static_cast<size_t>(mid)] : 0.0;
      here[k] = chain == none
                    ? none
                    : chain + accent - freedom.between_weight * between - deviation_cost[static_cast<size_t>(k)];
      back[k] = choice;
      if (f + period_frames[static_cast<size_t>(k)] >= frames && here[k] > best) {
        best = here[k];
        best_f = f;
        best_k = k;
      }
    }
  }

  std::vector<double> beats;
  int f = best_f, k = best_k;
  while (f >= 0 && k >= 0) {
    beats.push_back(origin + f * res.frame_ms);
    const int8_t step = from[static_cast<size_t>(f) * static_cast<size_t>(states) + static_cast<size_t>(k)];
    if (step == kStart) break;
    f -= period_frames[static_cast<size_t>(k)];
    k += step;
  }
  std::reverse(beats.begin(), beats.end());
  return beats;
}

// Moves each beat onto the strongest onset within kSnapMs, so that beats
// keep the onsets' own times rather than the frames'.
void snap_to_onsets(const std::vector<Onset>& onsets, std::vector<double>* beats) {
  size_t j = 0;
  for (double& b : *beats) {
    while (j < onsets.size() && onsets[j].time_ms < b - kSnapMs) ++j;
    double best = 0;
    for (size_t i = j; i < onsets.size() && onsets[i].time_ms <= b + kSnapMs; ++i) {
      const double weight = onsets[i].strength * (1.0 - std::abs(onsets[i].time_ms - b) / (2 * kSnapMs));
      if (weight > best) {
        best = weight;
        b = onsets[i].time_ms;
      }
    }
  }
  for (size_t k = 1; k < beats->size(); ++k) {
    if ((*beats)[k] <= (*beats)[k - 1]) (*beats)[k] = (*beats)[k - 1] + 1.0;
  }
}

// Beats at about period_ms through all onsets: segments between long
// silences are tracked one by one and joined by evenly spaced beats.
std::vector<double> track_beats(const std::vector<Onset>& onsets, double period_ms, const Resolution& res,
                                const Freedom& freedom) {
  std::vector<double> beats;
  if (onsets.empty()) return beats;
  double mean_strength = 0;
  for (const Onset& o : onsets) mean_strength += o.strength;
  mean_strength /= static_cast<double>(onsets.size());
  const double rest = std::max(4000.0, kSplittingRestPeriods * period_ms);
  size_t first = 0;
  for (size_t i = 1; i <= onsets.size(); ++i) {
    if (i < onsets.size() && onsets[i].time_ms - onsets[i - 1].time_ms <= rest) continue;
    std::vector<double> part = track_segment(onsets, Segment{first, i}, period_ms, mean_strength, res, freedom);
    if (!beats.empty() && !part.empty()) {
      const double last = beats.back();
      const double gap = part.front() - last;
      const double step = beats.size() >= 2 ? last - beats[beats.size() - 2] : period_ms;
      const double steps = std::floor(gap / step + 0.5);
      const int count = steps > kMostBridgedBeats ? 1 : static_cast<int>(steps);
      for (int n = 1; n < count; ++n) beats.push_back(last + gap * n / count);
    }
    beats.insert(beats.end(), part.begin(), part.end());
    first = i;
  }
  return beats;
}

// How much the figure a level's beats span weighs in its score: a contrast
// of 0.1 (figure_contrast) is worth a fifth more score. The contrast counts
// from kLeastFigureContrast, so that a line of one note a beat, whose halves
// hold nothing to compare, may still be counted note by note, up to
// kMostFigureContrast, so that harmony held over two beats does not make
// them one.
constexpr double kFigureWeight = 2.0;
constexpr double kLeastFigureContrast = -0.1;
constexpr double kMostFigureContrast = 0.2;

std::vector<BeatLevel> levels_of(const std::vector<PerformedNote>& notes, const std::vector<Onset>& onsets) {
  std::vector<BeatLevel> levels;
  const double texture = texture_ms(onsets);
  for (double period : beat_period_candidates(onsets)) {
    BeatLevel level;
    level.period_ms = period;
    level.beats_ms = track_beats(onsets, period, kCoarse, kComparing);
    snap_to_onsets(onsets, &level.beats_ms);
    level.score = beat_level_score(onsets, level.beats_ms, texture) *
                  exact::exp(kFigureWeight * std::clamp(figure_contrast(notes, level.beats_ms), kLeastFigureContrast,
                                                        kMostFigureContrast));
    levels.push_back(std::move(level));
  }
  return levels;
}

// The notes in time order, as the harmony at the beats and bar lines is read:
// `given` itself when it already is, or a sorted copy kept in `ordered`.
const std::vector<PerformedNote>& in_time_order(const std::vector<PerformedNote>& given,
                                                std::vector<PerformedNote>* ordered) {
  const auto earlier = [](const PerformedNote& a, const PerformedNote& b) { return a.time_ms < b.time_ms; };
  if (std::is_sorted(given.begin(), given.end(), earlier)) return given;
  *ordered = given;
  std::stable_sort(ordered->begin(), ordered->end(), earlier);
  return *ordered;
}

// The phase of the beats: a player counts where the bass sounds. Where
// chords strike between the bass notes (a stride or an off-beat
// accompaniment, syncopated upper voices), the accents may draw the beats
// onto the off-beats. The beats move half a beat when the off-beats hold
// more bass than the beats do.
constexpr double kPhaseWindowMs = 50.0;

// The mean over beats of the most bass (Onset::bass) an onset within
// kPhaseWindowMs of the beat has.
double bass_at(const std::vector<Onset>& onsets, const std::vector<double>& beats) {
  if (beats.empty()) return 0;
  double sum = 0;
  size_t j = 0;
  for (double b : beats) {
    while (j < onsets.size() && onsets[j].time_ms < b - kPhaseWindowMs) ++j;
    double most = 0;
    for (size_t i = j; i < onsets.size() && onsets[i].time_ms <= b + kPhaseWindowMs; ++i)
      most = std::max(most, onsets[i].bass);
    sum += most;
  }
  return sum / static_cast<double>(beats.size());
}

// The beats halfway between beats (and half a beat after the last), on the
// onsets there, when they hold more bass than the beats.
void follow_the_bass(const std::vector<Onset>& onsets, std::vector<double>* beats) {
  if (beats->size() < 2) return;
  std::vector<double> off;
  for (size_t k = 1; k < beats->size(); ++k) off.push_back(((*beats)[k - 1] + (*beats)[k]) / 2);
  off.push_back(beats->back() + (beats->back() - (*beats)[beats->size() - 2]) / 2);
  if (bass_at(onsets, off) <= bass_at(onsets, *beats)) return;
  snap_to_onsets(onsets, &off);
  beats->swap(off);
}

}  // namespace

std::vector<BeatLevel> candidate_beat_levels(const std::vector<PerformedNote>& given) {
  std::vector<PerformedNote> ordered;
  const std::vector<PerformedNote>& notes = in_time_order(given, &ordered);
  const std::vector<Onset> onsets = gather_onsets(notes);
  if (onsets.size() < 8) return {};
  return levels_of(notes, onsets);
}

InferredBeats infer_beats(const std::vector<PerformedNote>& given) {
  InferredBeats result;
  std::vector<PerformedNote> ordered;
  const std::vector<PerformedNote>& notes = in_time_order(given, &ordered);
  const std::vector<Onset> onsets = gather_onsets(notes);
  if (onsets.size() < 8) return result;
  // The tracking takes memory for every 10 ms between onsets no more than a
  // few seconds apart: a longer piece than a player plays is left alone.
  if (onsets.back().time_ms - onsets.front().time_ms > kLongestPerformanceMs) return result;

  // Every candidate level is tracked coarsely; the beats that best make a
  // beat level win, and their median period is the level followed.
  double best_score = -1;
  double best_period = 0;
  for (const BeatLevel& level : levels_of(notes, onsets)) {
    if (level.score > best_score) {
      best_score = level.score;
      best_period = median_beat_ms(level.beats_ms, level.period_ms);
    }
  }
  if (best_period <= 0) return result;
  // The beats are tracked where the tempo curve is flat, then brought back
  // to the performance's time and onto its onsets.
  const TempoCurve curve = follow_tempo(onsets, best_period);
  const double reference = median_of(curve.period_ms);
  const TimeWarp warp(curve, reference);
  std::vector<Onset> warped = onsets;
  for (Onset& o : warped) o.time_ms = warp.warped(o.time_ms);
  result.beats_ms = track_beats(warped, reference, kFine, kFollowing);
  for (double& b : result.beats_ms) b = warp.real(b);
  snap_to_onsets(onsets, &result.beats_ms);
  follow_the_bass(onsets, &result.beats_ms);
  if (result.beats_ms.size() < 2) return result;

  const BarLines bars = find_bar_lines(notes, onsets, result.beats_ms);
  result.bar_starts = bars.bar_starts;
  result.meter = bars.meter;

  std::vector<double> bpm;
  for (size_t k = 1; k < result.beats_ms.size(); ++k)
    bpm.push_back(60000.0 / (result.beats_ms[k] - result.beats_ms[k - 1]));
  std::sort(bpm.begin(), bpm.end());
  result.slowest_bpm = bpm[bpm.size() / 10];
  result.fastest_bpm = bpm[bpm.size() - 1 - bpm.size() / 10];
  return result;
}

}  // namespace onpu
