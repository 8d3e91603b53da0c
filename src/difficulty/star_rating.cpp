#include "difficulty/star_rating.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "common/exact_math.h"

namespace onpu {
namespace {

constexpr double kPi = 3.14159265358979323846;

// The game's radius of a circle at circle size 0 is 64 * 1.0; its jumps are
// measured in units where a circle's radius is 50.
constexpr float kObjectRadius = 64.0f;
constexpr float kNormalisedRadius = 50.0f;
constexpr double kMinDeltaTime = 25.0;
constexpr float kStackDistance = 3.0f;
constexpr double kSectionLength = 400.0;
// A slider's follow circle, in normalised units: the cursor may lag this far
// behind the ball, and leave the slider's end this far off. (The game's
// single-precision products: 90 and a little over 120.)
constexpr float kAssumedSliderRadius = kNormalisedRadius * 1.8f;
constexpr float kMaximumSliderRadius = kNormalisedRadius * 2.4f;
constexpr double kFollowCircleSlack = static_cast<double>(kMaximumSliderRadius) - kAssumedSliderRadius;
// The game's legacy last tick lies this long before a slider's end.
constexpr double kLegacyLastTickOffset = 36.0;

struct Vec {
  float x = 0.0f;
  float y = 0.0f;
};

inline Vec plus(Vec a, Vec b) { return Vec{a.x + b.x, a.y + b.y}; }
inline Vec minus(Vec a, Vec b) { return Vec{a.x - b.x, a.y - b.y}; }
inline Vec scaled(Vec a, float s) { return Vec{a.x * s, a.y * s}; }
inline float length(Vec a) { return std::sqrt(a.x * a.x + a.y * a.y); }

inline double square(double x) { return x * x; }
inline double clamp(double x, double low, double high) { return std::min(std::max(x, low), high); }

// A value of the game's difficulty scale 0-10 mapped onto the range that
// runs through `mid` at 5.
double difficulty_range(double difficulty, double min, double mid, double max) {
  if (difficulty > 5) return mid + (max - mid) * (difficulty - 5) / 5;
  if (difficulty < 5) return mid - (mid - min) * (5 - difficulty) / 5;
  return mid;
}

// A slider's path: a straight line from its head, cut or extended to the
// slider's length. Positions are relative to the head.
struct SliderPath {
  Vec end;                // the path's last point
  double distance = 0.0;  // its length in pixels

  // The point at progress 0 (the head) to 1 (the end). The game finds the
  // point by a search that lands on the head for 0 (and for NaN), and it
  // takes the head for a path shorter than a thousandth of a pixel.
  Vec position_at(double progress) const {
    const double d = std::min(std::max(progress, 0.0), 1.0) * distance;
    if (!(d > 0) || distance < 0.001) return Vec{};
    return scaled(end, static_cast<float>(d / distance));
  }
};

// The path from the head towards control, relative to the head, of length
// length_px; a length of 0 keeps the control point's own distance.
SliderPath straight_path(Vec control, double length_px) {
  SliderPath path;
  // The same point twice makes a path of one point, and length 0.
  if (control.x == 0 && control.y == 0) return path;
  const float control_length = length(control);
  const double expected = std::max(0.0, length_px);
  path.end = control;
  path.distance = control_length;
  if (expected == 0 || control_length == expected) return path;
  const float inverse = static_cast<float>(1.0 / control_length);
  path.end = scaled(scaled(control, inverse), static_cast<float>(expected));
  path.distance = expected;
  return path;
}

// An object as the rating sees it, in time order.
struct Object {
  Vec start;  // where the file puts it
  double time = 0.0;
  int32_t spans = 0;  // 0 for a circle

  // A slider's path and timing.
  SliderPath path;
  double velocity = 0.0;       // pixels per millisecond
  double tick_distance = 0.0;  // pixels between ticks
  double span_duration = 0.0;
  double end_time = 0.0;
  Vec end;  // where the ball ends, before stacking

  int height = 0;  // on its stack
  float stack_offset = 0.0f;
  Vec stacked;     // start shifted by the stack
  Vec tail;        // a slider's end, shifted by the stack
  Vec cursor_end;  // where the cursor leaves the object
  double lazy_travel_time = 0.0;
  float lazy_travel_distance = 0.0f;

  bool is_slider() const { return spans > 0; }
  // The time by which stacking measures: the end of a slider. The game takes
  // the start time when that end is 0.
  double stacking_end_time() const { return is_slider() && end_time != 0 ? end_time : time; }
  Vec end_or_start() const { return is_slider() ? end : start; }
};

// The object for a circle or a slider in the file, with its path and the
// timing that its beat length and the slider settings give it.
Object make_object(const RatedObject& rated, double scoring_distance, double tick_rate) {
  Object object;
  object.start = Vec{static_cast<float>(rated.x), static_cast<float>(rated.y)};
  object.time = rated.time_ms;
  if (rated.slides <= 0) return object;
  object.spans = rated.slides;
  object.path = straight_path(
      minus(Vec{static_cast<float>(rated.end_x), static_cast<float>(rated.end_y)}, object.start), rated.length_px);
  // The slider velocity scales both the ball's speed and the ticks' spacing.
  const double distance_per_beat = scoring_distance * clamp(rated.slider_velocity, 0.1, 10);
  object.velocity = distance_per_beat / clamp(rated.beat_length_ms, 6, 60000);
  object.tick_distance = distance_per_beat / tick_rate;
  object.end_time = object.time + object.spans * object.path.distance / object.velocity;
  object.span_duration = (object.end_time - object.time) / object.spans;
  // An odd number of spans ends at the path's end, an even one at its head.
  object.end = plus(object.start, object.path.position_at(object.spans % 2 == 1 ? 1.0 : 0.0));
  return object;
}

inline bool stack_close(Vec a, Vec b) { return length(minus(a, b)) < kStackDistance; }

// The game's stacking: objects closer than 3 px and within the stacking time
// of each other are shifted up-left, one step per object on the stack; a
// circle that starts on a slider's end pushes the objects there down-right
// instead. With the leniency at 0 only objects at the same time (or during a
// slider) stack.
void apply_stacking(std::vector<Object>* objects, double preempt, double leniency, float scale) {
  std::vector<Object>& o = *objects;
  const double threshold = preempt * leniency;
  for (size_t i = o.size(); i-- > 1;) {
    if (o[i].height != 0) continue;
    size_t top = i;
    if (!o[i].is_slider()) {
      for (size_t below = i; below-- > 0;) {
        if (o[top].time - o[below].stacking_end_time() > threshold) break;
        if (o[below].is_slider() && stack_close(o[below].end, o[top].start)) {
          const int offset = o[top].height - o[below].height + 1;
          for (size_t j = below + 1; j <= i; ++j) {
            if (stack_close(o[below].end, o[j].start)) o[j].height -= offset;
          }
          break;
        }
        if (stack_close(o[below].start, o[top].start)) {
          o[below].height = o[top].height + 1;
          top = below;
        }
      }
    } else {
      for (size_t below = i; below-- > 0;) {
        if (o[top].time - o[below].time > threshold) break;
        if (stack_close(o[below].end_or_start(), o[top].start)) {
          o[below].height = o[top].height + 1;
          top = below;
        }
      }
    }
  }
  for (Object& object : o) {
    const float offset = static_cast<float>(object.height * scale) * -6.4f;
    object.stack_offset = offset;
    object.stacked = plus(object.start, Vec{offset, offset});
    object.tail = plus(object.end, Vec{offset, offset});
    object.cursor_end = object.stacked;
  }
}

// An object of a slider after its head: a tick, a repeat or the last tick.
struct Nested {
  double time = 0.0;
  Vec position;  // stacked
  bool is_repeat = false;
};

// The objects of a slider after its head, in time order: per span the ticks
// every tick_distance pixels (none closer to the span's end than 10 ms of
// travel), then the repeat; and the legacy last tick, 36 ms before the end
// or halfway for a shorter slider, in its place in time. Ticks and repeats
// need a tick distance.
void nested_objects(const Object& slider, std::vector<Nested>* nested) {
  nested->clear();
  const Vec stack{slider.stack_offset, slider.stack_offset};
  auto at = [&](double progress) { return plus(plus(slider.start, slider.path.position_at(progress)), stack); };
  const double distance = std::min(100000.0, slider.path.distance);
  const double tick_distance = clamp(slider.tick_distance, 0, distance);
  const double min_distance_from_end = slider.velocity * 10;
  double span_start = slider.time;
  if (tick_distance != 0) {
    for (int32_t span = 0; span < slider.spans; ++span) {
      const bool reversed = span % 2 == 1;
      const size_t first = nested->size();
      for (double d = tick_distance; d < distance - min_distance_from_end; d += tick_distance) {
        const double progress = d / distance;
        nested->push_back(
            Nested{span_start + (reversed ? 1 - progress : progress) * slider.span_duration, at(progress), false});
      }
      if (reversed) std::reverse(nested->begin() + static_cast<std::ptrdiff_t>(first), nested->end());
      if (span + 1 < slider.spans) {
        nested->push_back(Nested{span_start + slider.span_duration, at((span + 1) % 2), true});
      }
      span_start += slider.span_duration;
    }
  }
  const double final_span_start = slider.time + (slider.spans - 1) * slider.span_duration;
  const double last_tick_time = std::max(slider.time + slider.spans * slider.span_duration / 2,
                                         final_span_start + slider.span_duration - kLegacyLastTickOffset);
  // The game sorts the objects by time, stably; the rest are in time order
  // already, and the last tick was made after them.
  size_t place = nested->size();
  while (place > 0 && (*nested)[place - 1].time > last_tick_time) --place;
  nested->insert(nested->begin() + static_cast<std::ptrdiff_t>(place), Nested{last_tick_time, slider.tail, false});
}

// The game's lazy cursor on a slider: it follows the ball only as far as it
// must to keep each tick (and the last tick) inside the follow circle, and
// each repeat within a circle radius. Sets where the cursor leaves the
// slider, how far it travelled and for how long.
void follow_slider(Object* slider, float radius, const std::vector<Nested>& nested) {
  slider->lazy_travel_time = nested.back().time - slider->time;
  double end_progress = slider->lazy_travel_time / slider->span_duration;
  end_progress = std::fmod(end_progress, 2) >= 1 ? 1 - std::fmod(end_progress, 1) : std::fmod(end_progress, 1);
  const Vec lazy_end = plus(slider->stacked, slider->path.position_at(end_progress));

  const double scaling = kNormalisedRadius / static_cast<double>(radius);
  Vec cursor = slider->stacked;
  float travelled = 0.0f;
  for (size_t i = 0; i < nested.size(); ++i) {
    Vec movement = minus(nested[i].position, cursor);
    double movement_length = scaling * length(movement);
    double required = kAssumedSliderRadius;
    if (i + 1 == nested.size()) {
      const Vec lazy_movement = minus(lazy_end, cursor);
      if (length(lazy_movement) < length(movement)) movement = lazy_movement;
      movement_length = scaling * length(movement);
    } else if (nested[i].is_repeat) {
      required = kNormalisedRadius;
    }
    if (movement_length > required) {
      cursor = plus(cursor, scaled(movement, static_cast<float>((movement_length - required) / movement_length)));
      movement_length *= (movement_length - required) / movement_length;
      travelled = travelled + static_cast<float>(movement_length);
    }
  }
  slider->cursor_end = cursor;
  slider->lazy_travel_distance = travelled;
}

// One object after the first, with what the skills read of it and of the
// objects before it.
struct DifficultyObject {
  double start_time = 0.0;
  double delta_time = 0.0;
  double strain_time = 0.0;
  double jump_distance = 0.0;  // from where the cursor left the object before, normalised
  // The jump as short as the follow circle of a slider before allows, and
  // the time left for it after the cursor's travel on that slider.
  double minimum_jump_distance = 0.0;
  double minimum_jump_time = 0.0;
  double travel_distance = 0.0;  // of the cursor along this object, when a slider
  double travel_time = 0.0;
  std::optional<double> angle;  // at the object before, between the two jumps
  bool is_slider = false;
};

std::vector<DifficultyObject> difficulty_objects(const std::vector<Object>& objects, float radius) {
  float scaling = kNormalisedRadius / radius;
  // Small circles are harder to hit than their size alone says.
  if (radius < 30.0f) scaling = scaling * (1.0f + std::min(30.0f - radius, 5.0f) / 50.0f);

  std::vector<DifficultyObject> result;
  result.reserve(objects.empty() ? 0 : objects.size() - 1);
  for (size_t i = 1; i < objects.size(); ++i) {
    const Object& current = objects[i];
    const Object& last = objects[i - 1];
    DifficultyObject object;
    object.start_time = current.time;
    object.delta_time = current.time - last.time;
    object.strain_time = std::max(object.delta_time, kMinDeltaTime);
    object.is_slider = current.is_slider();
    if (current.is_slider()) {
      const double repeats = current.spans - 1;
      object.travel_distance =
          current.lazy_travel_distance * static_cast<float>(exact::pow(1 + repeats / 2.5, 1 / 2.5));
      object.travel_time = std::max(current.lazy_travel_time, kMinDeltaTime);
    }
    object.jump_distance = length(minus(scaled(current.stacked, scaling), scaled(last.cursor_end, scaling)));
    object.minimum_jump_distance = object.jump_distance;
    object.minimum_jump_time = object.strain_time;
    if (last.is_slider()) {
      const double last_travel_time = std::max(last.lazy_travel_time, kMinDeltaTime);
      object.minimum_jump_time = std::max(object.strain_time - last_travel_time, kMinDeltaTime);
      const float tail_jump =
          static_cast<float>(length(minus(last.tail, current.stacked)) * static_cast<double>(scaling));
      const float beyond_follow_circle = tail_jump - kMaximumSliderRadius;
      object.minimum_jump_distance =
          std::max(0.0, std::min<double>(beyond_follow_circle, object.jump_distance - kFollowCircleSlack));
    }
    if (i > 1) {
      const Vec v1 = minus(objects[i - 2].cursor_end, last.stacked);
      const Vec v2 = minus(current.stacked, last.cursor_end);
      const float dot = v1.x * v2.x + v1.y * v2.y;
      const float det = v1.x * v2.y - v1.y * v2.x;
      object.angle = std::fabs(exact::atan2(det, dot));
    }
    result.push_back(object);
  }
  return result;
}

// The strain of a skill, with its peaks per section of 400 ms.
class StrainPeaks {
 public:
  // Opens the sections up to the one that holds the object at index, each
  // starting from the strain left at its start; then takes the object's.
  template <typename Initial>
  void before(const std::vector<DifficultyObject>& objects, size_t index, const Initial& initial_strain) {
    const double time = objects[index].start_time;
    if (index == 0) section_end_ = std::ceil(time / kSectionLength) * kSectionLength;
    while (time > section_end_) {
      if (peak_ > 0) peaks_.push_back(peak_);
      peak_ = initial_strain(section_end_);
      section_end_ += kSectionLength;
      // Once the strain has decayed to nothing, the sections up to this
      // object's hold nothing either: a long silence (or a broken time
      // hours away) costs no work per section.
      if (peak_ == 0 && time > section_end_) {
        section_end_ += std::ceil((time - section_end_) / kSectionLength) * kSectionLength;
      }
    }
  }
  void take(double strain) { peak_ = std::max(strain, peak_); }

  // The peaks weighted from the highest down; the few highest are reduced
  // first, so that a single hard spot does not make the map.
  double difficulty(int reduced_sections, double multiplier) const {
    std::vector<double> strains = peaks_;
    if (peak_ > 0) strains.push_back(peak_);
    std::sort(strains.begin(), strains.end(), std::greater<double>());
    const size_t reduced = std::min(strains.size(), static_cast<size_t>(reduced_sections));
    for (size_t i = 0; i < reduced; ++i) {
      const double amount = clamp(static_cast<float>(static_cast<double>(i) / reduced_sections), 0.0, 1.0);
      const double scale = exact::log10(1.0 + (10.0 - 1.0) * amount);
      strains[i] *= 0.75 + (1.0 - 0.75) * scale;
    }
    std::sort(strains.begin(), strains.end(), std::greater<double>());
    double sum = 0.0;
    double weight = 1.0;
    for (double strain : strains) {
      sum += strain * weight;
      weight *= 0.9;
    }
    return sum * multiplier;
  }

 private:
  std::vector<double> peaks_;
  double peak_ = 0.0;
  double section_end_ = 0.0;
};

double wide_angle_bonus(double angle) {
  const double clamped = std::min(5.0 / 6.0 * kPi, std::max(kPi / 6.0, angle));
  return square(exact::sin(3.0 / 4.0 * (clamped - kPi / 6.0)));
}
double acute_angle_bonus(double angle) { return 1.0 - wide_angle_bonus(angle); }

// How hard it is to move onto the object at index from the ones before,
// along the sliders among them.
double aim_difficulty(const std::vector<DifficultyObject>& objects, size_t index) {
  if (index <= 1) return 0.0;
  const DifficultyObject& current = objects[index];
  const DifficultyObject& last = objects[index - 1];
  const DifficultyObject& last_last = objects[index - 2];
  // After a slider, the cursor may travel along it and then make the
  // shortest jump, if that is faster.
  auto velocity_onto = [](const DifficultyObject& object, const DifficultyObject& before) {
    double velocity = object.jump_distance / object.strain_time;
    if (before.is_slider) {
      velocity = std::max(velocity, object.minimum_jump_distance / object.minimum_jump_time +
                                        before.travel_distance / before.travel_time);
    }
    return velocity;
  };
  const double current_velocity = velocity_onto(current, last);
  const double previous_velocity = velocity_onto(last, last_last);

  double wide = 0.0;
  double acute = 0.0;
  double velocity_change = 0.0;
  double strain = current_velocity;
  if (std::max(current.strain_time, last.strain_time) < 1.25 * std::min(current.strain_time, last.strain_time) &&
      current.angle && last.angle && last_last.angle) {
    const double angle_bonus = std::min(current_velocity, previous_velocity);
    wide = wide_angle_bonus(*current.angle);
    acute = acute_angle_bonus(*current.angle);
    if (current.strain_time > 100) {
      acute = 0.0;
    } else {
      acute *= acute_angle_bonus(*last.angle);
      acute *= std::min(angle_bonus, 125.0 / current.strain_time);
      acute *= square(exact::sin(kPi / 2 * std::min(1.0, (100 - current.strain_time) / 25)));
      acute *= square(exact::sin(kPi / 2 * (clamp(current.jump_distance, 50, 100) - 50) / 50));
    }
    wide *= angle_bonus * (1 - std::min(wide, exact::pow(wide_angle_bonus(*last.angle), 3)));
    acute *= 0.5 + 0.5 * (1 - std::min(acute, exact::pow(acute_angle_bonus(*last_last.angle), 3)));
  }
  if (std::max(previous_velocity, current_velocity) != 0) {
    // Here the travel along a slider counts as part of the jump after it.
    const double previous = (last.jump_distance + last_last.travel_distance) / last.strain_time;
    const double now = (current.jump_distance + last.travel_distance) / current.strain_time;
    const double difference = std::fabs(previous - now);
    const double distance_ratio = square(exact::sin(kPi / 2 * difference / std::max(previous, now)));
    const double shorter = std::min(current.strain_time, last.strain_time);
    const double longer = std::max(current.strain_time, last.strain_time);
    velocity_change = std::min(125 / shorter, difference) * distance_ratio * square(shorter / longer);
  }
  strain += std::max(acute * 1.95, wide * 1.5 + velocity_change * 0.75);
  const double slider_bonus = last.is_slider ? last.travel_distance / last.travel_time : 0.0;
  strain += slider_bonus * 1.35;
  return strain;
}

// How hard it is to tap the object at index that fast.
double speed_difficulty(const std::vector<DifficultyObject>& objects, size_t index, double great_window) {
  const DifficultyObject& current = objects[index];
  double strain_time = current.strain_time;
  double doubletapness = 1.0;
  if (index + 1 < objects.size()) {
    const double current_delta = std::max(1.0, current.delta_time);
    const double next_delta = std::max(1.0, objects[index + 1].delta_time);
    const double speed_ratio = current_delta / std::max(current_delta, std::fabs(next_delta - current_delta));
    const double window_ratio = square(std::min(1.0, current_delta / great_window));
    doubletapness = exact::pow(speed_ratio, 1 - window_ratio);
  }
  strain_time /= clamp((strain_time / great_window) / 0.93, 0.92, 1);
  double speed_bonus = 1.0;
  if (strain_time < 75) speed_bonus = 1 + 0.75 * square((75 - strain_time) / 40);
  // The cursor's travel along a slider before counts with the jump.
  const double travel = index > 0 ? objects[index - 1].travel_distance : 0.0;
  const double distance = std::min(125.0, travel + current.minimum_jump_distance);
  return (speed_bonus + speed_bonus * exact::pow(distance / 125, 3.5)) * doubletapness / strain_time;
}

// How much the rhythm of the last few seconds before index changes.
double rhythm_complexity(const std::vector<DifficultyObject>& objects, size_t index, double great_window) {
  constexpr double kHistoryTimeMax = 5000;
  const DifficultyObject& current = objects[index];
  auto previous = [&](size_t back) -> const DifficultyObject* {
    return back + 1 <= index ? &objects[index - back - 1] : nullptr;
  };
  const int history = static_cast<int>(std::min<size_t>(index, 32));
  int rhythm_start = 0;
  while (rhythm_start < history - 2) {
    const DifficultyObject* p = previous(static_cast<size_t>(rhythm_start));
    if (current.start_time - (p ? p->start_time : 0.0) >= kHistoryTimeMax) break;
    ++rhythm_start;
  }

  double start_ratio = 0.0;
  bool first_delta_switch = false;
  int previous_island = 0;
  int island = 1;
  double sum = 0.0;
  for (int i = rhythm_start; i > 0; --i) {
    const DifficultyObject& now = *previous(static_cast<size_t>(i - 1));
    const DifficultyObject& before = *previous(static_cast<size_t>(i));
    const DifficultyObject& earlier = *previous(static_cast<size_t>(i + 1));
    double decay = (kHistoryTimeMax - (current.start_time - now.start_time)) / kHistoryTimeMax;
    decay = std::min(static_cast<double>(history - i) / history, decay);
    const double now_delta = now.strain_time;
    const double before_delta = before.strain_time;
    const double earlier_delta = earlier.strain_time;
    const double ratio = std::min(before_delta, now_delta) / std::max(before_delta, now_delta);
    const double current_ratio = 1 + 6 * std::min(0.5, square(exact::sin(kPi / ratio)));
    const double beyond_window = std::max(0.0, std::fabs(before_delta - now_delta) - great_window * 0.3);
    const double window_penalty = std::min(1.0, beyond_window / (great_window * 0.3));
    double effective_ratio = window_penalty * current_ratio;
    if (first_delta_switch) {
      if (!(before_delta > 1.25 * now_delta || before_delta * 1.25 < now_delta)) {
        if (island < 7) ++island;
      } else {
        // Sliders make a change of rhythm easier to play.
        if (now.is_slider) effective_ratio *= 0.125;
        if (before.is_slider) effective_ratio *= 0.25;
        if (previous_island == island) effective_ratio *= 0.25;
        if (previous_island % 2 == island % 2) effective_ratio *= 0.5;
        if (earlier_delta > before_delta + 10 && before_delta > now_delta + 10) effective_ratio *= 0.125;
        sum += std::sqrt(effective_ratio * start_ratio) * decay * std::sqrt(4.0 + island) / 2 *
               std::sqrt(4.0 + previous_island) / 2;
        start_ratio = effective_ratio;
        previous_island = island;
        if (before_delta * 1.25 < now_delta) first_delta_switch = false;
        island = 1;
      }
    } else if (before_delta > 1.25 * now_delta) {
      first_delta_switch = true;
      start_ratio = effective_ratio;
      island = 1;
    }
  }
  return std::sqrt(4 + sum * 0.75) / 2;
}

double strain_decay(double base, double ms) { return exact::pow(base, ms / 1000); }

// The stars of an aim and a speed rating, through the performance each would
// be worth.
double combine(double aim_rating, double speed_rating) {
  auto performance = [](double rating) {
    const double x = 5 * std::max(1.0, rating / 0.0675) - 4;
    return x * x * x / 100000;
  };
  const double base =
      exact::pow(exact::pow(performance(aim_rating), 1.1) + exact::pow(performance(speed_rating), 1.1), 1 / 1.1);
  if (!(base > 0.00001)) return 0.0;
  constexpr double kPerformanceBaseMultiplier = 1.14;
  return exact::cbrt(kPerformanceBaseMultiplier) * 0.027 * (exact::cbrt(100000 / exact::pow(2, 1 / 1.1) * base) + 4);
}

}  // namespace

StarRating rate_objects(const std::vector<RatedObject>& input, const RatingSettings& settings) {
  StarRating rating;
  if (input.empty()) return rating;

  // The game reads the settings as single-precision values, the slider
  // settings aside.
  const float circle_size = static_cast<float>(settings.circle_size);
  const double overall_difficulty = static_cast<float>(settings.overall_difficulty);
  const double approach_rate = static_cast<float>(settings.approach_rate);
  const float scale = (1.0f - 0.7f * (circle_size - 5.0f) / 5.0f) / 2.0f;
  const float radius = kObjectRadius * scale;
  const double preempt = static_cast<float>(difficulty_range(approach_rate, 1800, 1200, 450));
  const double great_window = 2 * difficulty_range(overall_difficulty, 80, 50, 20);
  // Pixels per beat at slider velocity 1.
  const double scoring_distance = 100 * settings.slider_multiplier;

  auto earlier = [](const RatedObject& a, const RatedObject& b) { return a.time_ms < b.time_ms; };
  std::vector<Object> objects;
  objects.reserve(input.size());
  if (std::is_sorted(input.begin(), input.end(), earlier)) {
    for (const RatedObject& object : input)
      objects.push_back(make_object(object, scoring_distance, settings.slider_tick_rate));
  } else {
    std::vector<RatedObject> sorted = input;
    std::stable_sort(sorted.begin(), sorted.end(), earlier);
    for (const RatedObject& object : sorted)
      objects.push_back(make_object(object, scoring_distance, settings.slider_tick_rate));
  }
  apply_stacking(&objects, preempt, settings.stack_leniency, scale);
  std::vector<Nested> nested;
  for (Object& object : objects) {
    if (!object.is_slider()) continue;
    nested_objects(object, &nested);
    follow_slider(&object, radius, nested);
  }
  const std::vector<DifficultyObject> difficulty = difficulty_objects(objects, radius);

  StrainPeaks aim_peaks;
  StrainPeaks speed_peaks;
  double aim_strain = 0.0;
  double speed_strain = 0.0;
  double rhythm = 0.0;
  for (size_t i = 0; i < difficulty.size(); ++i) {
    const double previous_time = i > 0 ? difficulty[i - 1].start_time : 0.0;
    aim_peaks.before(difficulty, i, [&](double time) { return aim_strain * strain_decay(0.15, time - previous_time); });
    aim_strain *= strain_decay(0.15, difficulty[i].delta_time);
    aim_strain += aim_difficulty(difficulty, i) * 23.55;
    aim_peaks.take(aim_strain);

    speed_peaks.before(difficulty, i,
                       [&](double time) { return (speed_strain * rhythm) * strain_decay(0.3, time - previous_time); });
    speed_strain *= strain_decay(0.3, difficulty[i].strain_time);
    speed_strain += speed_difficulty(difficulty, i, great_window) * 1375;
    rhythm = rhythm_complexity(difficulty, i, great_window);
    speed_peaks.take(speed_strain * rhythm);
  }

  constexpr double kDifficultyMultiplier = 0.0675;
  rating.aim = std::sqrt(aim_peaks.difficulty(10, 1.06)) * kDifficultyMultiplier;
  rating.speed = std::sqrt(speed_peaks.difficulty(5, 1.04)) * kDifficultyMultiplier;
  // The aim without sliders and the flashlight skill that the game also
  // rates count only for performance, not for stars.
  rating.stars = combine(rating.aim, rating.speed);
  return rating;
}

StarRating rate_circles(const std::vector<RatedCircle>& circles, const RatingSettings& settings) {
  std::vector<RatedObject> objects(circles.size());
  for (size_t i = 0; i < circles.size(); ++i) {
    objects[i].x = circles[i].x;
    objects[i].y = circles[i].y;
    objects[i].time_ms = circles[i].time_ms;
  }
  return rate_objects(objects, settings);
}

}  // namespace onpu
