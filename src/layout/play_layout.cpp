#include "layout/play_layout.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace onpu {
namespace {

// A slider at velocity 1 travels SliderMultiplier (1.4) x 100 px per beat:
// the editor's distance snap of 1.0 places objects one beat apart that far.
constexpr double kBeatPixels = 140.0;

// Where heads and tails may go: the playfield, less a rim that keeps every
// circle well inside the screen the game checks.
constexpr double kLeft = 8.0;
constexpr double kRight = 504.0;
constexpr double kTop = 8.0;
constexpr double kBottom = 376.0;

// The playfield in cells of 32 px, for telling used ground from new.
constexpr int kCellsX = 16;
constexpr int kCellsY = 12;
constexpr double kCellPixels = 32.0;

// No object starts closer than this to the end of the one before.
constexpr double kClosestMs = 10.0;

// A rest this long between one object's end and the next one's start gets a
// break: the game shows it as one, and the player may let go. A break starts
// this long after the object before it and ends when the next object appears.
constexpr int32_t kBreakRestMs = 3000;
constexpr int32_t kBreakLeadMs = 200;
constexpr int32_t kShortestBreakMs = 650;

// At most this many sliders follow each other.
constexpr int kMostSlidersInARow = 3;

// A slider goes back and forth at most this many times over its path.
constexpr double kMostSlides = 4.0;

// A rest of this many beats ends a phrase: the next object starts a combo.
constexpr double kPhraseRestBeats = 2.0;

struct Vec {
  double x = 0.0;
  double y = 0.0;
};

inline Vec add(Vec a, Vec b) { return Vec{a.x + b.x, a.y + b.y}; }
inline Vec minus(Vec a, Vec b) { return Vec{a.x - b.x, a.y - b.y}; }
inline Vec times(Vec a, double s) { return Vec{a.x * s, a.y * s}; }
inline double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y; }
inline double cross(Vec a, Vec b) { return a.x * b.y - a.y * b.x; }
inline double length(Vec a) { return std::sqrt(dot(a, a)); }

// The directions a move may take: 24, 15 degrees apart, counterclockwise as
// seen on screen (where y grows downwards) from "right". Built from exact
// square roots, so every platform has the same table.
constexpr int kDirections = 24;
struct DirectionTable {
  std::array<Vec, kDirections> unit;
  DirectionTable() {
    const double c15 = (std::sqrt(6.0) + std::sqrt(2.0)) / 4.0;
    const double s15 = (std::sqrt(6.0) - std::sqrt(2.0)) / 4.0;
    const double cosines[7] = {1.0, c15, std::sqrt(3.0) / 2.0, std::sqrt(0.5), 0.5, s15, 0.0};
    for (int d = 0; d < kDirections; ++d) {
      const double c = cosines[d % 6];
      const double s = cosines[6 - d % 6];
      Vec v;
      switch (d / 6) {
        case 0: v = Vec{c, s}; break;
        case 1: v = Vec{-s, c}; break;
        case 2: v = Vec{-c, -s}; break;
        default: v = Vec{s, -c}; break;
      }
      unit[d] = Vec{v.x, -v.y};
    }
  }
};
const DirectionTable kTable;

bool inside(Vec p) { return p.x >= kLeft && p.x <= kRight && p.y >= kTop && p.y <= kBottom; }

int cell_of(Vec p) {
  const int cx = std::clamp(static_cast<int>(p.x / kCellPixels), 0, kCellsX - 1);
  const int cy = std::clamp(static_cast<int>(p.y / kCellPixels), 0, kCellsY - 1);
  return cy * kCellsX + cx;
}

// Rounds to the nearest whole pixel, halves away from zero (positions are
// never negative here).
int32_t to_pixel(double v) { return static_cast<int32_t>(std::floor(v + 0.5)); }

// Lengths are written to hundredths; the map's figures use the written value.
double to_hundredths(double v) { return std::floor(v * 100.0 + 0.5) / 100.0; }

// How strongly a note stands out (0 to 1): on the downbeat or the beat,
// louder than the notes around it, a wide leap from the note before.
double accent_of(const LayoutNote& note, const LayoutNote& before, double mean_velocity) {
  double accent = note.metric_level == 0 ? 0.4 : note.metric_level == 1 ? 0.2 : 0.0;
  accent += 0.3 * std::clamp((note.velocity - mean_velocity) / 20.0, 0.0, 1.0);
  const int leap = std::abs(static_cast<int>(note.key) - static_cast<int>(before.key));
  accent += 0.3 * std::clamp((leap - 4) / 8.0, 0.0, 1.0);
  return std::min(accent, 1.0);
}

// How far p lies from a slider's body, the segment from its head to its
// turning point.
double distance_to_body(Vec p, const struct Placed& slider);

// An object as the placement of the ones after it sees it.
struct Placed {
  Vec head;
  Vec tail;  // where the slider's body turns or ends; the head for a circle
  Vec end;   // where the cursor leaves it
  double start_ms = 0.0;
  double end_ms = 0.0;
  bool slider = false;
};

double distance_to_body(Vec p, const Placed& slider) {
  const Vec body = minus(slider.tail, slider.head);
  const double squared = dot(body, body);
  const double along = squared > 0.0 ? std::clamp(dot(minus(p, slider.head), body) / squared, 0.0, 1.0) : 0.0;
  return length(minus(p, add(slider.head, times(body, along))));
}

class Placer {
 public:
  Placer(const LayoutStyle& style, int lowest_key, int highest_key)
      : radius_(circle_radius(style.circle_size)),
        visible_ms_(preempt_ms(style.approach_rate) + 400.0 * std::min(1.0, preempt_ms(style.approach_rate) / 450.0)),
        lowest_key_(lowest_key),
        key_range_(std::max(1, highest_key - lowest_key)) {
    visits_.fill(0);
  }

  // Places the head of the next object, distance px from where the cursor
  // left the object before (the first object goes where its pitch says).
  // A flexible jump may be a little shorter or longer than asked when that
  // keeps it clear of what is on screen or lets it go the melody's way.
  // Of two places, the one that leaves the next move room wins.
  // In a run (taps close together) the moves keep on in a line, so that the
  // circles of the run stay clear of each other.
  Vec place_head(double distance, bool flexible, bool run, int key_step, int key, double start_ms) {
    if (placed_.empty()) return Vec{256.0, height_of(key)};
    const Vec from = placed_.back().end;
    const double stretches[4] = {1.0, 0.85, 1.15, 0.7};
    const int stretch_count = flexible ? 4 : 1;
    for (int attempt = 0; attempt < 8; ++attempt, distance *= 0.8) {
      double best_score = 0.0;
      Vec best_to;
      bool found = false;
      for (int option = 0; option < stretch_count * kDirections; ++option) {
        const Vec u = kTable.unit[option % kDirections];
        const double stretch = stretches[option / kDirections];
        const Vec to = add(from, times(u, distance * stretch));
        if (!inside(to)) continue;
        double score = 0.0;
        // The melody: up the screen for a higher note, down for a lower one,
        // visibly so; a repeated note steps aside.
        if (distance >= 12.0) {
          if (key_step != 0) {
            const bool right_way = key_step > 0 ? u.y <= -0.42 : u.y >= 0.42;
            // A step of a semitone or two may go sideways: the map needs
            // its level moves too.
            if (!right_way) score += std::abs(key_step) <= 2 && std::fabs(u.y) < 0.3 ? (run ? 1.8 : 2.5) : 5.0;
          } else {
            score += 0.6 * std::fabs(u.y);
          }
        }
        // High notes live high on the screen and low ones low, so that a
        // long run has room to go its way.
        score += 1.2 * std::fabs(to.y - height_of(key)) / 384.0;
        score += flow_penalty(u);
        if (run && last_move_ok_) score += 0.8 * (1.0 - dot(last_move_, u));
        score += ground_penalty(to);
        if (stretch != 1.0) score += stretch < 0.8 ? 0.8 : 0.5;
        // What is on screen only adds to the score: a place already beaten
        // without it needs no look.
        if (found && score >= best_score) continue;
        score += crowd_penalty(to, start_ms, 1);
        if (found && score >= best_score) continue;
        score += room_penalty(to, distance, start_ms);
        if (!found || score < best_score) {
          best_score = score;
          best_to = to;
          found = true;
        }
      }
      if (found) return best_to;
    }
    return Vec{std::clamp(from.x, kLeft, kRight), std::clamp(from.y, kTop, kBottom)};
  }

  // The direction of a slider's body from its head: onwards from the move
  // that reached the head, turning the way the flow turns, into new ground,
  // away from what is still on screen, ending where the next note (next_key,
  // next_step above this one; next_step 0 when there is none or it repeats)
  // finds room to go its way. span is its length.
  Vec place_tail(Vec head, double span, double start_ms, int next_key, int next_step) {
    const Vec incoming = last_move_ok_ ? last_move_ : Vec{1.0, 0.0};
    double best_score = 0.0;
    Vec best_tail = head;
    bool found = false;
    for (int d = 0; d < kDirections; ++d) {
      const Vec u = kTable.unit[d];
      const Vec tail = add(head, times(u, span));
      if (!inside(tail)) continue;
      // Best about 45 degrees off the incoming move, towards the turn.
      const double along = dot(u, incoming);
      const double side = cross(incoming, u) * turn_sign_;
      double score = std::fabs(along - 0.7) + (side < 0 ? 0.6 : 0.0);
      score += ground_penalty(tail);
      score += crowd_penalty(tail, start_ms, 0) + crowd_penalty(add(head, times(u, 0.5 * span)), start_ms, 0);
      if (next_step != 0) {
        score += 1.2 * std::fabs(tail.y - height_of(next_key)) / 384.0;
        if ((next_step > 0 && tail.y < kTop + 80.0) || (next_step < 0 && tail.y > kBottom - 80.0)) score += 1.5;
      }
      if (!found || score < best_score) {
        best_score = score;
        best_tail = tail;
        found = true;
      }
    }
    return found ? best_tail : head;
  }

  void take(const Placed& object) {
    if (!placed_.empty()) {
      const Vec move = minus(object.head, placed_.back().end);
      const double moved = length(move);
      if (moved >= 8.0) {
        const Vec direction = times(move, 1.0 / moved);
        if (last_move_ok_ && cross(last_move_, direction) * turn_sign_ < 0) ++turns_against_;
        last_move_ = direction;
        last_move_ok_ = true;
      }
    }
    if (object.slider) {
      const Vec body = minus(object.end, object.head);
      const Vec back = minus(object.tail, object.head);
      const Vec last_leg = length(body) >= 8.0 ? body : times(back, -1.0);
      const double leg = length(last_leg);
      if (leg >= 8.0) {
        last_move_ = times(last_leg, 1.0 / leg);
        last_move_ok_ = true;
      }
      ++visits_[cell_of(object.tail)];
    }
    ++visits_[cell_of(object.head)];
    // The flow turns one way for a while, then the other.
    if (turns_against_ >= 3 || ++since_flip_ >= 7) {
      turn_sign_ = -turn_sign_;
      since_flip_ = 0;
      turns_against_ = 0;
    }
    placed_.push_back(object);
  }

  const Placed& last() const { return placed_.back(); }
  bool empty() const { return placed_.empty(); }
  double radius() const { return radius_; }

 private:
  double height_of(int key) const {
    const double share = std::clamp(static_cast<double>(key - lowest_key_) / key_range_, 0.0, 1.0);
    return 304.0 - share * 224.0;
  }

  double flow_penalty(Vec u) const {
    if (!last_move_ok_) return 0.0;
    const double turn = dot(last_move_, u);  // the cosine of the turn
    double penalty = 0.0;
    if (turn < -0.866) penalty += 2.5;  // straight back: the cursor shuttles
    else if (turn < -0.5) penalty += 0.4;
    if (cross(last_move_, u) * turn_sign_ < 0) penalty += 0.25;
    return penalty;
  }

  // Ground already used costs a little, more the more it was used: the map
  // spreads over the whole playfield.
  double ground_penalty(Vec p) const {
    const int visits = std::min(visits_[cell_of(p)], 4);
    double penalty = 0.25 * visits;
    const double rim = std::min(std::min(p.x - kLeft, kRight - p.x), std::min(p.y - kTop, kBottom - p.y));
    if (rim < 24.0) penalty += 0.2;
    return penalty;
  }

  // A place from which the next move, if as long as this one, can only
  // leave the playfield or land on what is still on screen (the object
  // before this one, or older) traps the object after it: a rising line
  // driven to the top edge beside a slider's head leaves the next note
  // nowhere to go but onto that head. Fewer than three free ways out (of
  // twelve directions) cost a little, none costs half a crowding.
  double room_penalty(Vec p, double distance, double start_ms) const {
    if (distance < 2.0 * radius_) return 0.0;
    int free = 0;
    for (int d = 0; d < kDirections; d += 2) {
      const Vec q = add(p, times(kTable.unit[d], distance));
      if (inside(q) && crowd_penalty(q, start_ms, 0) == 0.0 && ++free > 2) return 0.0;
    }
    return free == 0 ? 3.0 : 1.0;
  }

  // Landing on an object still on screen (other than the last `skip_last`
  // ones) hides one under the other.
  double crowd_penalty(Vec p, double start_ms, size_t skip_last) const {
    const double appears = start_ms - visible_ms_;
    const double near = 2.0 * radius_ - 6.0;
    double penalty = 0.0;
    for (size_t back = placed_.size(); back-- > 0;) {
      const Placed& other = placed_[back];
      if (other.end_ms < appears - 4000.0) break;
      if (other.end_ms < appears) continue;
      if (placed_.size() - back <= skip_last) {
        // The object just before: the move leaves from its end, but not
        // back over a slider's head and body.
        if (other.slider && other.end.x == other.tail.x && other.end.y == other.tail.y) {
          Placed start = other;
          start.tail = add(other.head, times(minus(other.tail, other.head), 0.6));
          if (distance_to_body(p, start) < near) penalty += 2.0;
        }
        continue;
      }
      if (length(minus(p, other.head)) < near || (other.slider && distance_to_body(p, other) < near)) {
        penalty += penalty == 0.0 ? 6.0 : 1.0;
      }
    }
    return penalty;
  }

  double radius_;
  double visible_ms_;
  int lowest_key_;
  int key_range_;
  std::vector<Placed> placed_;
  std::array<int, kCellsX * kCellsY> visits_;
  Vec last_move_;
  bool last_move_ok_ = false;
  double turn_sign_ = 1.0;
  int since_flip_ = 0;
  int turns_against_ = 0;
};

// The keys a tenth of the notes lie below and above: the range that the
// height on screen spans.
void key_range(const std::vector<LayoutNote>& notes, int* lowest, int* highest) {
  std::array<size_t, 256> counts{};
  for (const LayoutNote& note : notes) ++counts[note.key];
  const size_t tenth = notes.size() / 10;
  size_t seen = 0;
  *lowest = 0;
  for (int k = 0; k < 256; ++k) {
    seen += counts[k];
    if (seen > tenth) {
      *lowest = k;
      break;
    }
  }
  seen = 0;
  *highest = 255;
  for (int k = 255; k >= 0; --k) {
    seen += counts[k];
    if (seen > tenth) {
      *highest = k;
      break;
    }
  }
  if (*highest - *lowest < 12) {
    const int middle = (*highest + *lowest) / 2;
    *lowest = middle - 6;
    *highest = middle + 6;
  }
}

// The game times a slider by the beat length clamped to 6 ms - 1 minute: on
// a beat outside that range it would not last as long as its note.
bool sliders_keep_time(double beat_ms) { return beat_ms >= 6.0 && beat_ms <= 60000.0; }

// The beat a player feels, by which spacing, rests and sliders are counted:
// the timing point's beat halved or doubled into 80-160 BPM, as a mapper
// times a slow song in double time. Sliders are still timed by the timing
// point's own beat.
double felt_beat_ms(double beat_ms) {
  if (!sliders_keep_time(beat_ms)) return beat_ms;
  while (beat_ms > 750.0) beat_ms /= 2;
  while (beat_ms < 375.0) beat_ms *= 2;
  return beat_ms;
}

// The felt beat along a song: the timing point's beat by the power of two
// that brings it into 80-160 BPM, kept while the beat so multiplied stays
// within 67-200 BPM, so that a player's tempo swaying about 80 BPM does not
// halve and double the spacing from one note to the next.
class FeltBeat {
 public:
  double beat_ms(double timing_beat_ms) {
    if (!sliders_keep_time(timing_beat_ms)) return timing_beat_ms;
    const double kept = timing_beat_ms * factor_;
    if (factor_ == 0.0 || kept < 300.0 || kept > 900.0) factor_ = felt_beat_ms(timing_beat_ms) / timing_beat_ms;
    return timing_beat_ms * factor_;
  }

 private:
  double factor_ = 0.0;  // a power of two, once known
};

// How a slider starting at a note moves: the velocity of its inherited
// timing points and the speed of its ball, px/ms, as the game times it from
// the timing point's own beat. The velocity is the fastest at most 1 that
// keeps the ball within the style's slider speed; no slider where even the
// game's slowest velocity (0.1) would be too fast, or the beat cannot time
// one.
struct SliderPace {
  int32_t inherited_beat_length = 0;  // 0: no slider here
  double px_per_ms = 0.0;
};

SliderPace slider_pace(double timing_beat_ms, const LayoutStyle& style) {
  SliderPace pace;
  if (!sliders_keep_time(timing_beat_ms)) return pace;
  // The game's speed: 100 x SliderMultiplier x (100 / beat length) per beat.
  auto speed = [timing_beat_ms](int32_t beat_length) { return kBeatPixels * (100.0 / beat_length) / timing_beat_ms; };
  double least = std::ceil(kBeatPixels * 100.0 / (style.slider_speed * timing_beat_ms));
  int32_t beat_length = static_cast<int32_t>(std::clamp(least, 100.0, 1001.0));
  while (beat_length <= 1000 && speed(beat_length) > style.slider_speed) ++beat_length;
  if (beat_length > 1000) return pace;
  pace.inherited_beat_length = beat_length;
  pace.px_per_ms = speed(beat_length);
  return pace;
}

// The least time between a slider's end and the next object, for a note of
// the felt beat beat_ms.
double recovery_ms(const LayoutStyle& style, double beat_ms) {
  return std::max(style.recovery_beats * beat_ms, 4.0 * kClosestMs);
}

// How long a note held for held_ms plays as a slider, in ms, when the next
// object comes at next_ms (0: a circle): as long as it is held, leaving the
// style's recovery before the next object, a whole number of snap steps
// when the note sits on the song's grid, no longer than its path may be.
double slider_duration(const LayoutNote& note, const SliderPace& pace, double held_ms, double next_ms,
                       const LayoutStyle& style) {
  const double beat = note.beat_ms;
  if (pace.px_per_ms <= 0.0) return 0.0;
  const double recovery = recovery_ms(style, beat);
  double duration = std::min(held_ms, next_ms - note.time_ms - recovery);
  // A note held for very long ends its slider early.
  duration = std::min(duration, kMostSlides * style.longest_span_px / pace.px_per_ms);
  if (note.metric_level <= 3) {
    const double step = style.slider_snap_beats * beat;
    double steps = std::floor((duration + 2.0) / step);
    if (steps * step > duration + 2.0) steps -= 1.0;
    duration = steps * step;
  }
  if (duration < style.slider_min_beats * beat - 1.0 || duration < 60.0) return 0.0;
  return duration;
}

// A note that becomes an object, and how long it lasts as a slider (0: a
// circle).
struct Planned {
  size_t note = 0;
  double duration_ms = 0.0;
};

// Which notes become objects, and which of those sliders:
// - a note held long enough is a slider as long as it is held; the notes
//   under it while it sounds (lower notes: the accompaniment under a held
//   melody note) are left out, so that the slider carries the melody;
// - in the easier bands a short rhythm (two notes at most
//   rhythm_slider_beats apart) may be one slider whose tail falls on the
//   second note.
std::vector<Planned> plan_objects(const std::vector<LayoutNote>& notes, const std::vector<SliderPace>& paces,
                                  const LayoutStyle& style) {
  constexpr double kNever = 1e18;
  std::vector<Planned> planned;
  planned.reserve(notes.size());
  int sliders_in_a_row = 0;
  size_t i = 0;
  while (i < notes.size()) {
    const LayoutNote& note = notes[i];
    const double held = static_cast<double>(note.end_ms) - note.time_ms;
    auto time_of = [&](size_t index) { return index < notes.size() ? static_cast<double>(notes[index].time_ms) : kNever; };
    size_t next = i + 1;
    double duration = 0.0;
    if (held >= style.slider_min_beats * note.beat_ms - 1.0) {
      size_t under = i + 1;
      while (style.slider_over_lower_notes && under < notes.size() && notes[under].time_ms < note.end_ms &&
             notes[under].key < note.key) {
        ++under;
      }
      if (under > i + 1) {
        duration = slider_duration(note, paces[i], held, time_of(under), style);
        if (duration > 0.0) {
          // A note held longer than its slider may last: the notes under it
          // after the slider's end and recovery are played again.
          const double free_from = note.time_ms + duration + recovery_ms(style, note.beat_ms);
          next = i + 1;
          while (next < under && time_of(next) < free_from) ++next;
        }
      }
      if (duration == 0.0) duration = slider_duration(note, paces[i], held, time_of(i + 1), style);
    }
    if (duration == 0.0 && i + 1 < notes.size()) {
      const double gap = time_of(i + 1) - note.time_ms;
      const double recovery = recovery_ms(style, note.beat_ms);
      if (paces[i].px_per_ms > 0.0 && gap <= style.rhythm_slider_beats * note.beat_ms &&
          gap >= style.slider_min_beats * note.beat_ms - 1.0 && time_of(i + 2) - time_of(i + 1) >= recovery) {
        duration = gap;
        next = i + 2;
      }
    }
    // A map of sliders only plays like one long drag: after a few sliders
    // in a row a note is tapped.
    if (duration > 0.0 && sliders_in_a_row >= kMostSlidersInARow) {
      duration = 0.0;
      next = i + 1;
    }
    sliders_in_a_row = duration > 0.0 ? sliders_in_a_row + 1 : 0;
    planned.push_back(Planned{i, duration});
    i = next;
  }
  return planned;
}

}  // namespace

double circle_radius(double circle_size) { return 64.0 * (1.0 - 0.7 * (circle_size - 5.0) / 5.0) / 2.0; }

double preempt_ms(double approach_rate) {
  if (approach_rate > 5) return 1200.0 - 750.0 * (approach_rate - 5.0) / 5.0;
  return 1200.0 + 600.0 * (5.0 - approach_rate) / 5.0;
}

LayoutStyle layout_style(int band_rank, double circle_size, double approach_rate) {
  LayoutStyle style;
  switch (std::clamp(band_rank, 0, 5)) {
    case 0:  // Easy: even spacing, slow cursor, long sliders
      style = LayoutStyle{0.8, true, 0.0, 1.0, 0.30, 170.0, 8, 4, 0.5, 0.5, 0.5, 210.0, 2.05};
      break;
    case 1:  // Normal
      style = LayoutStyle{0.9, true, 0.0, 1.0, 0.55, 220.0, 10, 4, 0.5, 0.5, 0.5, 210.0, 1.05};
      break;
    case 2:  // Hard: accents stand out a little
      style = LayoutStyle{1.2, false, 0.3, 0.8, 1.45, 300.0, 10, 5, 0.5, 0.25, 0.25, 230.0, 1.05};
      break;
    case 3:  // Insane: jumps on accents, compact runs
      style = LayoutStyle{1.4, false, 0.9, 0.6, 2.7, 320.0, 13, 6, 0.25, 0.25, 0.25, 240.0, 0.55};
      break;
    case 4:  // Expert
      style = LayoutStyle{1.4, false, 1.0, 0.55, 3.4, 350.0, 16, 6, 0.25, 0.25, 0.25, 240.0, 0.55};
      break;
    default:  // Expert+
      style = LayoutStyle{1.3, false, 1.1, 0.5, 4.6, 370.0, 16, 8, 0.25, 0.25, 0.25, 240.0, 0.55};
      break;
  }
  // The slider ball's speed, px/ms: in Easy and Normal among the slowest
  // that ranked maps use, so that the rating goes to notes rather than to
  // sliders; above, a little under the fastest of the band's ranked maps.
  static constexpr double kSliderSpeeds[] = {0.20, 0.30, 0.50, 0.60, 0.70, 1.00};
  style.slider_speed = kSliderSpeeds[std::clamp(band_rank, 0, 5)];
  style.circle_size = circle_size;
  style.approach_rate = approach_rate;
  return style;
}

std::vector<LayoutStyle> layout_styles(int band_rank, double circle_size, double approach_rate) {
  static const std::vector<double> kScales[] = {
      {1.0, 1.2}, {1.0, 1.2, 1.4}, {1.0, 1.3, 1.7, 2.2}, {1.0, 1.3, 1.7, 2.2}, {1.0, 1.3, 1.7, 2.2, 2.8},
      {1.0, 1.3, 1.7, 2.2, 2.8}};
  const LayoutStyle own = layout_style(band_rank, circle_size, approach_rate);
  std::vector<LayoutStyle> styles = {own};
  // Every note its own object: no slider leaves a note out, and no slider
  // is shorter than half a beat.
  LayoutStyle denser = own;
  denser.slider_over_lower_notes = false;
  denser.rhythm_slider_beats = 0.0;
  denser.slider_min_beats = std::max(own.slider_min_beats, 0.5);
  for (double scale : kScales[std::clamp(band_rank, 0, 5)]) {
    LayoutStyle wider = denser;
    wider.spacing = own.spacing * scale;
    styles.push_back(wider);
  }
  return styles;
}

std::vector<LayoutStyle> calmer_styles(const LayoutStyle& style) {
  std::vector<LayoutStyle> styles;
  for (double scale : {0.75, 0.55, 0.4}) {
    LayoutStyle calmer = style;
    calmer.spacing *= scale;
    calmer.max_velocity *= scale;
    calmer.max_distance *= scale;
    calmer.slider_speed *= scale;
    styles.push_back(calmer);
  }
  return styles;
}

void lay_out_for_play(const std::vector<LayoutNote>& all_notes, const LayoutStyle& style, PlayLayout* layout) {
  layout->objects.clear();
  layout->breaks.clear();

  // Notes too close to the one before to be tapped apart are left out.
  std::vector<LayoutNote> notes;
  std::vector<uint32_t> source;
  notes.reserve(all_notes.size());
  std::vector<SliderPace> paces;  // by the timing point's own beat, which times the sliders
  std::vector<double> timing_beat_ms;
  FeltBeat felt;
  for (size_t i = 0; i < all_notes.size(); ++i) {
    if (!notes.empty() && all_notes[i].time_ms - notes.back().time_ms < kClosestMs) continue;
    notes.push_back(all_notes[i]);
    paces.push_back(slider_pace(all_notes[i].beat_ms, style));
    timing_beat_ms.push_back(all_notes[i].beat_ms);
    notes.back().beat_ms = felt.beat_ms(all_notes[i].beat_ms);
    source.push_back(static_cast<uint32_t>(i));
  }
  if (notes.empty()) return;

  int lowest_key = 0;
  int highest_key = 0;
  key_range(notes, &lowest_key, &highest_key);
  double mean_velocity = 0.0;
  for (const LayoutNote& note : notes) mean_velocity += note.velocity;
  mean_velocity /= static_cast<double>(notes.size());

  Placer placer(style, lowest_key, highest_key);
  const double preempt = preempt_ms(style.approach_rate);
  int combo = 0;
  uint64_t combo_measure = 0;
  const std::vector<Planned> planned = plan_objects(notes, paces, style);
  for (size_t p = 0; p < planned.size(); ++p) {
    const size_t i = planned[p].note;
    const size_t before = p > 0 ? planned[p - 1].note : 0;
    const LayoutNote& note = notes[i];
    PlayObject object;
    object.time_ms = note.time_ms;
    object.note = source[i];
    object.key = note.key;
    object.velocity = note.velocity;

    // The distance from the object before, from the time between them.
    double distance = 0.0;
    bool after_break = false;
    double rest_beats = 0.0;
    if (!placer.empty()) {
      const Placed& last = placer.last();
      const double gap_ms = note.time_ms - last.end_ms;
      const double beat = notes[before].beat_ms;
      rest_beats = gap_ms / beat;
      double multiple = 1.0;
      if (!style.equal_spacing) {
        const double accent = accent_of(note, notes[before], mean_velocity);
        multiple = 1.0 + style.accent_spread * (accent - 0.3);
        if (rest_beats <= 0.3 || gap_ms < 130.0) multiple = std::min(multiple, style.run_spacing);
      }
      distance = style.spacing * multiple * kBeatPixels * rest_beats;
      // A run keeps each circle clear of the one two before it.
      if (!style.equal_spacing) distance = std::max(distance, std::min(placer.radius(), 0.5 * style.max_velocity * gap_ms));
      distance = std::min(distance, style.max_velocity * gap_ms);
      distance = std::min(distance, style.max_distance);
      // Objects a beat or more apart never overlap, by the beat a player
      // feels or by the timing point's (shorter on a fast song) that the
      // editor shows.
      if (rest_beats >= 0.95 || gap_ms >= 0.95 * timing_beat_ms[before]) {
        distance = std::max(distance, 2.0 * placer.radius() + 6.0);
      }
      if (gap_ms >= kBreakRestMs) {
        const int32_t start = static_cast<int32_t>(std::ceil(last.end_ms)) + kBreakLeadMs;
        const int32_t end = note.time_ms - static_cast<int32_t>(std::ceil(preempt));
        if (end - start >= kShortestBreakMs) {
          layout->breaks.push_back(BreakPeriod{start, end});
          after_break = true;
        }
      }
    }
    const int key_step = p > 0 ? static_cast<int>(note.key) - static_cast<int>(notes[before].key) : 0;
    // Equal spacing is kept where the game's check compares it: between
    // objects up to 600 ms apart.
    const bool flexible = !style.equal_spacing || note.time_ms - (placer.empty() ? 0.0 : placer.last().end_ms) > 600.0;
    const bool run = !placer.empty() && (rest_beats <= 0.3 || note.time_ms - placer.last().end_ms < 130.0);
    const Vec head = placer.place_head(distance, flexible, run, key_step, note.key, note.time_ms);

    Placed placed;
    placed.head = head;
    placed.tail = head;
    placed.end = head;
    placed.start_ms = note.time_ms;
    placed.end_ms = note.time_ms;
    const double duration = planned[p].duration_ms;
    object.x = to_pixel(head.x);
    object.y = to_pixel(head.y);
    if (duration > 0.0) {
      // However fast the timing point's beat, the path stays within its spans.
      const double total_px = std::min(duration * paces[i].px_per_ms, kMostSlides * style.longest_span_px);
      const int slides = 1 + static_cast<int>((total_px - 1e-9) / style.longest_span_px);
      const double span = to_hundredths(total_px / slides);
      const Vec exact_head{static_cast<double>(object.x), static_cast<double>(object.y)};
      const int next_key = p + 1 < planned.size() ? notes[planned[p + 1].note].key : note.key;
      const Vec tail = placer.place_tail(exact_head, span, note.time_ms, next_key, next_key - note.key);
      object.slides = slides;
      object.end_x = to_pixel(tail.x);
      object.end_y = to_pixel(tail.y);
      object.length_px = span;
      object.inherited_beat_length = paces[i].inherited_beat_length;
      object.end_time_ms = note.time_ms + slides * span / paces[i].px_per_ms;
      if (object.end_x == object.x && object.end_y == object.y) object.slides = 0;  // no room for a body
    }
    if (object.slides > 0) {
      placed.slider = true;
      placed.tail = Vec{static_cast<double>(object.end_x), static_cast<double>(object.end_y)};
      placed.end = object.slides % 2 == 1 ? placed.tail : placed.head;
      placed.end_ms = object.end_time_ms;
    } else {
      object.end_time_ms = note.time_ms;
    }
    placed.head = Vec{static_cast<double>(object.x), static_cast<double>(object.y)};
    if (object.slides == 0) placed.tail = placed.end = placed.head;
    placer.take(placed);

    // Combos: at the first object, after a break or a phrase's rest, at a
    // measure once the combo has some objects, on a beat near the longest
    // combo, and at the longest combo.
    const bool new_measure = note.measure != combo_measure;
    const bool starts = combo == 0 || after_break || combo >= style.longest_combo ||
                        (rest_beats >= kPhraseRestBeats && combo >= 2) ||
                        (new_measure && combo >= style.fullest_measure_combo) ||
                        (combo >= style.longest_combo - 2 && note.metric_level <= 1);
    if (starts) {
      object.new_combo = true;
      combo = 0;
      combo_measure = note.measure;
    }
    ++combo;
    layout->objects.push_back(object);
  }
}

}  // namespace onpu
