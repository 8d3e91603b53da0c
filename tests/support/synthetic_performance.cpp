#include "support/synthetic_performance.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "common/exact_math.h"

namespace onpu::test {
namespace {

struct Random {
  uint64_t state;
  double uniform() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state >> 11) / 9007199254740992.0;
  }
  int below(int n) { return static_cast<int>(uniform() * n); }
  double normal() {  // Irwin-Hall: good enough for timing noise
    double sum = 0;
    for (int i = 0; i < 12; ++i) sum += uniform();
    return sum - 6.0;
  }
};

// A note of the score: place and length in beats.
struct ScoreNote {
  double beat;
  double length;
  int key;
  int velocity;
  bool melody;
};

struct Bar {
  int beats;         // beats in the bar
  int subdivisions;  // 2 (simple) or 3 (compound) per beat
  double start;      // in beats from the start of the score
};

// Chords of a progression in C major, as the root's pitch class and a triad.
constexpr int kRoots[] = {0, 5, 7, 0, 9, 2, 7, 0};
int chord_tone(int root, int index) {  // index 0, 1, 2: root, third, fifth
  static const int kMajor[] = {0, 4, 7};
  static const int kMinor[] = {0, 3, 7};
  const bool minor = root == 9 || root == 2 || root == 4;
  return root + (minor ? kMinor[index] : kMajor[index]);
}

void accompany(PerformanceKind kind, const Bar& bar, int root, Random& random, std::vector<ScoreNote>* out) {
  const int bass = 36 + root;
  const int mid = 48 + root;
  auto add = [&](double beat, double length, int key, int velocity) {
    out->push_back({bar.start + beat, length, key, velocity, false});
  };
  if (kind == PerformanceKind::kRunning) {
    for (int b = 0; b < bar.beats; ++b) add(b, 1.0, bass + (b % 2) * 7, 64);
  } else if (kind == PerformanceKind::kNocturne) {
    // Broken chords over two octaves, one group of four sixteenths a beat.
    const int tones[] = {bass, bass + 7, bass + 12 + chord_tone(root, 1) - root, bass + 19};
    for (int s = 0; s < bar.beats * 4; ++s) add(s * 0.25, s % 4 == 0 ? 1.0 : 0.5, tones[s % 4], s % 4 == 0 ? 64 : 50);
  } else if (kind == PerformanceKind::kRolledChords || kind == PerformanceKind::kSlowChorale) {
    for (int b = 0; b < bar.beats; ++b) {
      add(b, 0.95, bass, 70);
      for (int i = 0; i < 3; ++i) add(b, 0.95, mid + 12 + chord_tone(0, i), 60);
    }
  } else if (bar.subdivisions == 3) {
    for (int b = 0; b < bar.beats; ++b) {  // broken chords in eighths: bass, fifth, tenth
      add(b, 1.0, bass, 72);
      add(b + 1.0 / 3, 1.0 / 3, mid + chord_tone(root, 2) - root, 55);
      add(b + 2.0 / 3, 1.0 / 3, mid + 12 + chord_tone(root, 1) - root, 55);
    }
  } else if (bar.beats == 3) {  // waltz: bass, then two chords
    add(0, 1, bass, 74);
    for (int b = 1; b < 3; ++b) {
      for (int i = 0; i < 3; ++i) add(b, 0.8, mid + chord_tone(root, i) - root + 12, 56);
    }
  } else {  // Alberti bass in eighths: root, fifth, third, fifth
    const int pattern[] = {0, 2, 1, 2};
    for (int e = 0; e < bar.beats * 2; ++e) {
      const int tone = pattern[e % 4];
      const int key = tone == 0 ? bass + 12 : mid + chord_tone(root, tone) - root;
      add(e * 0.5, 0.5, key, e % 4 == 0 ? 68 : 54);
    }
  }
  (void)random;
}

// Sixteenths without a break through the chord's tones and the steps between.
void running(const Bar& bar, int root, Random& random, std::vector<ScoreNote>* out) {
  int key = 64 + root;
  for (int s = 0; s < bar.beats * 4; ++s) {
    key += random.below(5) - 2;
    key = std::clamp(key, 60, 84);
    out->push_back({bar.start + s * 0.25, 0.25, key, s % 4 == 0 ? 70 : 62, true});
  }
}

void melody(const Bar& bar, int root, Random& random, std::vector<ScoreNote>* out) {
  // Rhythms of a beat: a quarter, two eighths, a dotted eighth and a
  // sixteenth, four sixteenths; compound beats: a dotted quarter, quarter and
  // eighth, three eighths. The bar's first note is long and lands on a chord tone.
  for (int b = 0; b < bar.beats; ++b) {
    std::vector<double> parts;
    const int pick = random.below(8);
    if (bar.subdivisions == 3) {
      parts = pick < 3 ? std::vector<double>{1.0} : pick < 6 ? std::vector<double>{2.0 / 3, 1.0 / 3}
                                                             : std::vector<double>{1.0 / 3, 1.0 / 3, 1.0 / 3};
    } else {
      parts = pick < 3   ? std::vector<double>{1.0}
              : pick < 5 ? std::vector<double>{0.5, 0.5}
              : pick < 7 ? std::vector<double>{0.75, 0.25}
                         : std::vector<double>{0.25, 0.25, 0.25, 0.25};
    }
    if (b == 0 && bar.beats > 1 && random.below(2) == 0) parts = {1.0};
    double at = b;
    for (double length : parts) {
      const int key = at == b ? 72 + chord_tone(root, random.below(3)) : 69 + random.below(14);
      const int velocity = 72 + (at == 0 ? 14 : at == b ? 7 : 0) + random.below(10);
      out->push_back({bar.start + at, length, key, velocity, true});
      at += length;
    }
  }
}

}  // namespace

const char* kind_name(PerformanceKind kind) {
  switch (kind) {
    case PerformanceKind::kSteady: return "steady";
    case PerformanceKind::kAccelerando: return "accelerando";
    case PerformanceKind::kRitardando: return "ritardando";
    case PerformanceKind::kFermatas: return "fermatas";
    case PerformanceKind::kJitter: return "jitter";
    case PerformanceKind::kRolledChords: return "rolled chords";
    case PerformanceKind::kPickup: return "pickup";
    case PerformanceKind::kWaltz: return "waltz 3/4";
    case PerformanceKind::kSixEight: return "6/8";
    case PerformanceKind::kMeterChange: return "meter change";
    case PerformanceKind::kDroppedAdded: return "dropped/added";
    case PerformanceKind::kSlowChorale: return "slow chorale";
    case PerformanceKind::kRunning: return "running 16ths";
    case PerformanceKind::kNocturne: return "nocturne";
  }
  return "?";
}

SyntheticPerformance synthetic_performance(PerformanceKind kind, uint32_t seed, int bar_count) {
  Random random{seed * 2654435761ull + static_cast<uint64_t>(kind) * 97 + 1};
  using K = PerformanceKind;

  // The bars of the score.
  std::vector<Bar> bars;
  double start = 0;
  if (kind == K::kPickup) {
    bars.push_back({1, 2, 0});
    start = 1;
  }
  for (int i = 0; i < bar_count; ++i) {
    Bar bar{4, 2, start};
    if (kind == K::kWaltz) bar.beats = 3;
    if (kind == K::kSixEight) bar = {2, 3, start};
    if (kind == K::kMeterChange && (i / 6) % 2 == 1) bar.beats = 3;
    bars.push_back(bar);
    start += bar.beats;
  }
  const int total_beats = static_cast<int>(start);

  std::vector<ScoreNote> score;
  for (size_t i = 0; i < bars.size(); ++i) {
    const int root = kRoots[i % 8];
    accompany(kind, bars[i], root, random, &score);
    if (kind == K::kRunning) {
      running(bars[i], root, random, &score);
    } else if (kind != K::kSlowChorale && kind != K::kRolledChords) {
      melody(bars[i], root, random, &score);
    }
    if (kind == K::kRolledChords) score.push_back({bars[i].start, 2, 76 + root, 80, true});
  }

  // The tempo curve: a period per beat in ms.
  double base = 430 + random.uniform() * 350;  // 77 to 140 BPM
  if (kind == K::kSixEight) base = 750 + random.uniform() * 350;
  if (kind == K::kSlowChorale) base = 1000 + random.uniform() * 200;
  if (kind == K::kRunning) base = 700 + random.uniform() * 300;
  if (kind == K::kNocturne) base = 800 + random.uniform() * 300;
  std::vector<double> period(static_cast<size_t>(total_beats) + 1);
  double wander = 0;
  for (int b = 0; b <= total_beats; ++b) {
    const double progress = static_cast<double>(b) / total_beats;
    double factor = 1.0;
    if (kind == K::kAccelerando) factor = 1.0 / (1.0 + 0.4 * progress);
    if (kind == K::kRitardando) factor = 1.0 + 0.35 * progress;
    wander = 0.9 * wander + (kind == K::kNocturne ? 0.045 : 0.02) * random.normal();
    // Phrases of 4 bars broaden towards their end.
    const double in_phrase = std::fmod(b / static_cast<double>(bars.back().beats * 4), 1.0);
    const double breath = kind == K::kRitardando ? 0.25 : 0.1;
    factor *= 1.0 + breath * in_phrase * in_phrase * in_phrase * in_phrase;
    factor *= exact::exp(wander + 0.03 * random.normal());
    period[static_cast<size_t>(b)] = base * factor;
  }
  if (kind == K::kFermatas) {
    for (size_t i = 4; i < bars.size(); i += 4) {
      const size_t held = static_cast<size_t>(bars[i].start) - 1;
      period[held] *= 2.0 + random.uniform();
    }
  }
  std::vector<double> beat_time(static_cast<size_t>(total_beats) + 2);
  beat_time[0] = 500 + random.uniform() * 1000;
  for (int b = 0; b <= total_beats; ++b) beat_time[static_cast<size_t>(b) + 1] = beat_time[static_cast<size_t>(b)] + period[static_cast<size_t>(b)];
  auto time_of = [&](double beat) {
    const int b = std::min(total_beats, static_cast<int>(std::floor(beat)));
    return beat_time[static_cast<size_t>(b)] + (beat - b) * period[static_cast<size_t>(b)];
  };

  SyntheticPerformance played;
  const double jitter = kind == K::kJitter ? 25.0 : 8.0;
  int chord_index = 0;
  double last_beat = -1;
  for (const ScoreNote& n : score) {
    if (kind == K::kDroppedAdded && random.below(10) == 0) continue;
    double t = time_of(n.beat) + jitter * random.normal() / 2.0 - (n.melody ? 10.0 : 0.0);
    if (kind == K::kRolledChords && !n.melody) {
      chord_index = n.beat == last_beat ? chord_index + 1 : 0;
      t += chord_index * 25.0;
      last_beat = n.beat;
    }
    const double end = time_of(n.beat + n.length * 0.92);
    PerformedNote note;
    note.time_ms = static_cast<int32_t>(std::max(0.0, t));
    note.end_ms = static_cast<int32_t>(std::max(t + 30, end));
    note.key = static_cast<uint8_t>(n.key);
    note.velocity = static_cast<uint8_t>(std::clamp(n.velocity + random.below(11) - 5, 1, 127));
    played.notes.push_back(note);
  }
  if (kind == K::kDroppedAdded) {
    const size_t strays = played.notes.size() / 20;
    const double end = beat_time[static_cast<size_t>(total_beats)];
    for (size_t i = 0; i < strays; ++i) {
      const double t = beat_time[0] + random.uniform() * (end - beat_time[0]);
      played.notes.push_back({static_cast<int32_t>(t), static_cast<int32_t>(t + 150),
                              static_cast<uint8_t>(40 + random.below(50)), static_cast<uint8_t>(40 + random.below(40))});
    }
  }
  const double ticks_per_beat = kind == K::kSixEight ? 720.0 : 480.0;
  for (const ScoreNote& n : score) played.score_ticks.push_back(static_cast<uint64_t>(n.beat * ticks_per_beat + 0.5));
  std::sort(played.score_ticks.begin(), played.score_ticks.end());
  std::stable_sort(played.notes.begin(), played.notes.end(),
                   [](const PerformedNote& a, const PerformedNote& b) { return a.time_ms < b.time_ms; });
  for (int b = 0; b < total_beats; ++b) played.beats_ms.push_back(beat_time[static_cast<size_t>(b)]);
  for (const Bar& bar : bars) {
    if (kind == K::kPickup && bar.start == 0) continue;
    played.downbeats_ms.push_back(beat_time[static_cast<size_t>(bar.start)]);
  }
  return played;
}

double beat_f_measure(const std::vector<double>& reference_ms, const std::vector<double>& estimated_ms) {
  std::vector<double> ref, est;
  for (double t : reference_ms) {
    if (t >= 5000.0) ref.push_back(t);
  }
  for (double t : estimated_ms) {
    if (t >= 5000.0) est.push_back(t);
  }
  if (ref.empty() || est.empty()) return 0;
  std::sort(ref.begin(), ref.end());
  std::sort(est.begin(), est.end());
  size_t i = 0, matched = 0;
  for (double e : est) {
    while (i < ref.size() && ref[i] < e - 70.0) ++i;
    if (i < ref.size() && ref[i] <= e + 70.0) {
      ++matched;
      ++i;
    }
  }
  if (matched == 0) return 0;
  const double p = static_cast<double>(matched) / est.size();
  const double r = static_cast<double>(matched) / ref.size();
  return 2 * p * r / (p + r);
}

Bytes performance_midi(const SyntheticPerformance& performance, bool as_score) {
  // 480 ticks a quarter note at 120 BPM: 0.96 ticks a millisecond.
  std::vector<NoteEvent> events;
  for (size_t i = 0; i < performance.notes.size(); ++i) {
    const PerformedNote& n = performance.notes[i];
    const uint64_t on = as_score ? performance.score_ticks[i] : static_cast<uint64_t>(n.time_ms * 0.96 + 0.5);
    const uint64_t held = static_cast<uint64_t>((n.end_ms - n.time_ms) * 0.96 + 0.5);
    events.push_back({on, 0, n.key, n.velocity});
    events.push_back({on + std::max<uint64_t>(1, held), 0, n.key, 0});
  }
  Smf smf;
  smf.header(1, 2, 480).track().tempo(0, 500000).time_signature(0, 4, 2).end_of_track().track().notes(std::move(events));
  return smf.end_of_track().bytes();
}

}  // namespace onpu::test
