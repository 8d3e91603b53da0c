// Moments: the notes that a hand plays together. A chord played by a hand
// spreads over a few milliseconds, a spread chord over a few tens; each of
// its notes would be a tap of its own. A thinned map keeps at most one note
// of each moment, its top voice.
#pragma once

#include <cstdint>
#include <vector>

#include "beatmap/note_merge.h"
#include "midi/tempo_map.h"

namespace onpu {

// A note joins the moment before it when it follows the moment's last note
// by less than kChordGapMs and its first note by less than kMomentSpanMs: a
// rolled chord is one moment, a run of notes too fast for a hand to tap is
// cut into moments of at most that span.
inline constexpr int32_t kChordGapMs = 30;
inline constexpr int32_t kMomentSpanMs = 60;

// Where a tick falls in its measure, strongest first.
enum class MetricLevel : uint8_t {
  kDownbeat = 0,
  kBeat = 1,
  kHalfBeat = 2,
  kQuarterBeat = 3,
  kOffGrid = 4,
};

struct Moment {
  TimedNote top;                              // the note a thinned map keeps
  MetricLevel level = MetricLevel::kOffGrid;  // of the moment's first note
  uint8_t loudest = 0;                        // the highest velocity of its notes
  uint16_t note_count = 0;                    // at most 65535 counted
  uint64_t measure = 0;                       // of the moment's first note (MetricGrid::measure_at)
  int32_t end_ms = 0;                         // the top note's release; its time until known
};

// The measures and beats of a song by its time signatures, for telling a
// note on the downbeat from one between beats. A played (unquantised) note
// counts as on a grid line when it lies within a twelfth of a beat of it.
class MetricGrid {
 public:
  struct Place {
    const TimeSignature* signature;
    uint64_t beat;     // ticks
    uint64_t measure;  // ticks
  };
  explicit MetricGrid(const TempoMap& tempo_map, uint16_t division);
  MetricLevel level_at(uint64_t tick) const;
  // A number for the measure that holds tick, the same for every tick of a
  // measure and growing with the ticks (0 when the file counts in SMPTE
  // frames). A note just before a bar line, within the grid's tolerance,
  // counts in the measure it leads into.
  uint64_t measure_at(uint64_t tick) const;

 private:
  Place place_of(uint64_t tick) const;
  std::vector<TimeSignature> signatures_;
  uint64_t quarter_ticks_ = 0;  // 0 when the file counts in SMPTE frames
};

// The beats and bar lines a player followed (inferred from a performance
// whose own grid is a placeholder): where a time falls among them. A note
// counts as on a beat when it lies within a twelfth of the beat's length of
// it, as on MetricGrid's lines.
class BeatGrid {
 public:
  // beats_ms ascending (at least two), bar_starts indices into it, ascending.
  BeatGrid(const std::vector<double>& beats_ms, const std::vector<uint32_t>& bar_starts);
  MetricLevel level_at(double time_ms) const;
  // The number of the bar that holds time_ms (0 before the first bar line);
  // a note just before a bar line counts in the bar it leads into.
  uint64_t measure_at(double time_ms) const;

 private:
  std::vector<double> beats_ms_;
  std::vector<bool> bar_line_;  // per beat
  std::vector<double> bar_times_ms_;
};

// Gives each moment the metric level and measure of its time in grid.
void place_moments(const BeatGrid& grid, std::vector<Moment>* moments);

// Gathers notes, given in time order, into moments. The top voice is the
// highest key of the moment's notes off the percussion channel (any
// percussion note when it has no other), the louder at equal keys, then the
// earlier.
class MomentBuilder {
 public:
  explicit MomentBuilder(const MetricGrid& grid) : grid_(grid) {}
  void add(const TimedNote& note);
  // The moments so far, in time order.
  std::vector<Moment>& moments() { return moments_; }

 private:
  const MetricGrid& grid_;
  std::vector<Moment> moments_;
  int32_t first_time_ = 0;
  int32_t last_time_ = 0;
};

}  // namespace onpu
