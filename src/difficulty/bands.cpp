#include "difficulty/bands.h"

namespace onpu {
namespace {

// As mappers set them: circles from size 3 (large, for beginners) to 4.5,
// approach rate and timing windows tightening with the stars, health drain
// from gentle to firm. Values in tenths.
constexpr DifficultyBand kBands[] = {
    {"Easy", 0.0, {30, 30, 30, 50}, 0},   {"Normal", 2.0, {40, 35, 45, 65}, 1},
    {"Hard", 2.7, {50, 40, 60, 75}, 2},   {"Insane", 4.0, {55, 40, 75, 88}, 3},
    {"Expert", 5.3, {60, 42, 85, 93}, 4}, {"Expert+", 6.5, {60, 45, 90, 97}, 5},
};

}  // namespace

const DifficultyBand& band_for(double stars) {
  const DifficultyBand* band = &kBands[0];
  for (const DifficultyBand& candidate : kBands) {
    if (stars >= candidate.lowest_stars) band = &candidate;
  }
  return *band;
}

RatingSettings rating_settings(const BeatmapDifficulty& header) {
  RatingSettings settings;
  settings.circle_size = header.circle_size_tenths / 10.0;
  settings.overall_difficulty = header.overall_difficulty_tenths / 10.0;
  settings.approach_rate = header.approach_rate_tenths / 10.0;
  settings.stack_leniency = 0.0;
  return settings;
}

}  // namespace onpu
