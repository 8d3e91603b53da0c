// The osu!standard star rating of a beatmap of hit circles, as the game
// computes it: each circle becomes a difficulty object with its strain time
// and its jump from the circle before, normalised by the circle radius; an
// aim skill and a speed skill (with its rhythm complexity) turn the objects
// into strains; the strains' peaks per 400 ms section, weighted from the
// highest down, give each skill's difficulty; the two combine into stars.
//
// The game does part of this in single precision (positions, radius, jump
// lengths); so does this code, so that its figures are the game's. Its
// elementary functions come from exact_math, so that the same map gets the
// same rating to the last bit on every platform.
#pragma once

#include <cstdint>
#include <vector>

namespace onpu {

// A hit circle on the 512 x 384 playfield.
struct RatedCircle {
  int32_t x = 0;
  int32_t y = 0;
  int32_t time_ms = 0;
};

// The [Difficulty] values that the rating reads, and the stacking leniency
// of [General].
struct RatingSettings {
  double circle_size = 4.0;
  double overall_difficulty = 5.0;
  double approach_rate = 5.0;
  double stack_leniency = 0.0;
};

struct StarRating {
  double stars = 0.0;
  double aim = 0.0;    // the aim skill's rating
  double speed = 0.0;  // the speed skill's rating
};

// The rating of circles in any order (they are ordered by time, stably, as
// the game orders them on loading). No circles rate 0.
StarRating rate_circles(const std::vector<RatedCircle>& circles, const RatingSettings& settings);

}  // namespace onpu
