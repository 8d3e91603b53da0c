#include "difficulty/star_rating.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "difficulty/exact_math.h"

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

struct Vec {
  float x = 0.0f;
  float y = 0.0f;
};

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

// A circle as the rating sees it: its stacked position, its time.
struct Circle {
  Vec position;
  double time = 0.0;
};

// The game's stacking: circles closer than 3 px and within the stacking time
// of each other are shifted up-left, one step per circle on the stack. With
// the leniency at 0 only circles at the same time stack.
void apply_stacking(const std::vector<RatedCircle>& sorted, double preempt, double leniency, float scale,
                    std::vector<Circle>* circles) {
  const size_t n = sorted.size();
  std::vector<int> height(n, 0);
  const double threshold = preempt * leniency;
  auto close = [&](size_t a, size_t b) {
    Vec d = minus(Vec{static_cast<float>(sorted[a].x), static_cast<float>(sorted[a].y)},
                  Vec{static_cast<float>(sorted[b].x), static_cast<float>(sorted[b].y)});
    return length(d) < kStackDistance;
  };
  for (size_t i = n; i-- > 1;) {
    if (height[i] != 0) continue;
    size_t top = i;
    for (size_t below = i; below-- > 0;) {
      if (sorted[top].time_ms - static_cast<double>(sorted[below].time_ms) > threshold) break;
      if (close(below, top)) {
        height[below] = height[top] + 1;
        top = below;
      }
    }
  }
  circles->resize(n);
  for (size_t i = 0; i < n; ++i) {
    const float offset = static_cast<float>(height[i] * scale) * -6.4f;
    (*circles)[i].position = Vec{static_cast<float>(sorted[i].x) + offset, static_cast<float>(sorted[i].y) + offset};
    (*circles)[i].time = sorted[i].time_ms;
  }
}

// One circle after the first, with what the skills read of it and of the
// circles before it.
struct DifficultyObject {
  double start_time = 0.0;
  double delta_time = 0.0;
  double strain_time = 0.0;
  double jump_distance = 0.0;   // from the circle before, in normalised units
  std::optional<double> angle;  // at the circle before, between the two jumps
};

std::vector<DifficultyObject> difficulty_objects(const std::vector<Circle>& circles, float radius) {
  float scaling = kNormalisedRadius / radius;
  // Small circles are harder to hit than their size alone says.
  if (radius < 30.0f) scaling = scaling * (1.0f + std::min(30.0f - radius, 5.0f) / 50.0f);

  std::vector<DifficultyObject> objects;
  objects.reserve(circles.empty() ? 0 : circles.size() - 1);
  for (size_t i = 1; i < circles.size(); ++i) {
    const Circle& current = circles[i];
    const Circle& last = circles[i - 1];
    DifficultyObject object;
    object.start_time = current.time;
    object.delta_time = current.time - last.time;
    object.strain_time = std::max(object.delta_time, kMinDeltaTime);
    object.jump_distance = length(minus(scaled(current.position, scaling), scaled(last.position, scaling)));
    if (i > 1) {
      const Vec v1 = minus(circles[i - 2].position, last.position);
      const Vec v2 = minus(current.position, last.position);
      const float dot = v1.x * v2.x + v1.y * v2.y;
      const float det = v1.x * v2.y - v1.y * v2.x;
      object.angle = std::fabs(exact::atan2(det, dot));
    }
    objects.push_back(object);
  }
  return objects;
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

// How hard it is to move onto the object at index from the ones before.
double aim_difficulty(const std::vector<DifficultyObject>& objects, size_t index) {
  if (index <= 1) return 0.0;
  const DifficultyObject& current = objects[index];
  const DifficultyObject& last = objects[index - 1];
  const DifficultyObject& last_last = objects[index - 2];
  const double current_velocity = current.jump_distance / current.strain_time;
  const double previous_velocity = last.jump_distance / last.strain_time;

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
    const double difference = std::fabs(previous_velocity - current_velocity);
    const double distance_ratio =
        square(exact::sin(kPi / 2 * difference / std::max(previous_velocity, current_velocity)));
    const double shorter = std::min(current.strain_time, last.strain_time);
    const double longer = std::max(current.strain_time, last.strain_time);
    velocity_change = std::min(125 / shorter, difference) * distance_ratio * square(shorter / longer);
  }
  strain += std::max(acute * 1.95, wide * 1.5 + velocity_change * 0.75);
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
  const double distance = std::min(125.0, current.jump_distance);
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

StarRating rate_circles(const std::vector<RatedCircle>& input, const RatingSettings& settings) {
  StarRating rating;
  if (input.empty()) return rating;
  std::vector<RatedCircle> sorted = input;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const RatedCircle& a, const RatedCircle& b) { return a.time_ms < b.time_ms; });

  // The game reads the settings as single-precision values.
  const float circle_size = static_cast<float>(settings.circle_size);
  const double overall_difficulty = static_cast<float>(settings.overall_difficulty);
  const double approach_rate = static_cast<float>(settings.approach_rate);
  const float scale = (1.0f - 0.7f * (circle_size - 5.0f) / 5.0f) / 2.0f;
  const float radius = kObjectRadius * scale;
  const double preempt = static_cast<float>(difficulty_range(approach_rate, 1800, 1200, 450));
  const double great_window = 2 * difficulty_range(overall_difficulty, 80, 50, 20);

  std::vector<Circle> circles;
  apply_stacking(sorted, preempt, settings.stack_leniency, scale, &circles);
  const std::vector<DifficultyObject> objects = difficulty_objects(circles, radius);

  StrainPeaks aim_peaks;
  StrainPeaks speed_peaks;
  double aim_strain = 0.0;
  double speed_strain = 0.0;
  double rhythm = 0.0;
  for (size_t i = 0; i < objects.size(); ++i) {
    const double previous_time = i > 0 ? objects[i - 1].start_time : 0.0;
    aim_peaks.before(objects, i, [&](double time) { return aim_strain * strain_decay(0.15, time - previous_time); });
    aim_strain *= strain_decay(0.15, objects[i].delta_time);
    aim_strain += aim_difficulty(objects, i) * 23.55;
    aim_peaks.take(aim_strain);

    speed_peaks.before(objects, i,
                       [&](double time) { return (speed_strain * rhythm) * strain_decay(0.3, time - previous_time); });
    speed_strain *= strain_decay(0.3, objects[i].strain_time);
    speed_strain += speed_difficulty(objects, i, great_window) * 1375;
    rhythm = rhythm_complexity(objects, i, great_window);
    speed_peaks.take(speed_strain * rhythm);
  }

  constexpr double kDifficultyMultiplier = 0.0675;
  rating.aim = std::sqrt(aim_peaks.difficulty(10, 1.06)) * kDifficultyMultiplier;
  rating.speed = std::sqrt(speed_peaks.difficulty(5, 1.04)) * kDifficultyMultiplier;
  rating.stars = combine(rating.aim, rating.speed);
  return rating;
}

}  // namespace onpu
