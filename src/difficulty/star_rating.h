// The osu!standard star rating of a beatmap of hit circles and sliders, as
// the game computes it: each object becomes a difficulty object with its
// strain time and its jump from where the cursor left the object before,
// normalised by the circle radius; a slider adds the way a lazy cursor
// travels along it, through its ticks and repeats, and the shortest jump
// that leaving it allows. An aim skill and a speed skill (with its rhythm
// complexity) turn the objects into strains; the strains' peaks per 400 ms
// section, weighted from the highest down, give each skill's difficulty; the
// two combine into stars.
//
// The game does part of this in single precision (positions, radius, jump
// lengths, slider paths); so does this code, so that its figures are the
// game's. Its elementary functions come from exact_math, so that the same
// map gets the same rating to the last bit on every platform.
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

// A hit object on the 512 x 384 playfield: a circle, or (slides > 0) a slider
// whose path runs straight from (x, y) towards (end_x, end_y), as a linear
// ("L|end_x:end_y") curve with the pixel length length_px, travelled slides
// times (1 + its repeats). beat_length_ms is the beat length of the
// uninherited timing point in force at time_ms, as the game reads it from
// the file's text; slider_velocity is the multiplier of the inherited timing
// point in force there (100 / -its beat length), 1 where there is none.
struct RatedObject {
  int32_t x = 0;
  int32_t y = 0;
  int32_t time_ms = 0;
  int32_t slides = 0;  // 0: a circle
  int32_t end_x = 0;
  int32_t end_y = 0;
  double length_px = 0.0;
  double beat_length_ms = 0.0;
  double slider_velocity = 1.0;
};

// The [Difficulty] values that the rating reads, and the stacking leniency
// of [General].
struct RatingSettings {
  double circle_size = 4.0;
  double overall_difficulty = 5.0;
  double approach_rate = 5.0;
  double stack_leniency = 0.0;
  double slider_multiplier = 1.4;
  double slider_tick_rate = 1.0;
};

struct StarRating {
  double stars = 0.0;
  double aim = 0.0;    // the aim skill's rating
  double speed = 0.0;  // the speed skill's rating
};

// The rating of objects in any order (they are ordered by time, stably, as
// the game orders them on loading). No objects rate 0. A slider's length of
// 0 (or less) stands for the length of its path from (x, y) to (end_x,
// end_y), as in the game; its beat length counts as 6 ms below 6 and as a
// minute above one, as the game clamps it. Takes time linear in the number
// of objects and slider ticks, and allocates nothing per object.
StarRating rate_objects(const std::vector<RatedObject>& objects, const RatingSettings& settings);

// The rating of circles alone: the same as rate_objects gives them.
StarRating rate_circles(const std::vector<RatedCircle>& circles, const RatingSettings& settings);

}  // namespace onpu
