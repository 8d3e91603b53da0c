// The bands of star ratings that players know maps by, and the difficulty
// settings that mappers give a map of each band.
#pragma once

#include "beatmap/beatmap_writer.h"
#include "difficulty/star_rating.h"

namespace onpu {

struct DifficultyBand {
  const char* name;          // "Easy" ... "Expert+"
  double lowest_stars;       // the band holds ratings from here up to the next band's
  BeatmapDifficulty header;  // HP, CS, OD, AR
  int rank;                  // 0 for Easy up to 5 for Expert+
};

// The band of a star rating: Easy below 2.0, Normal to 2.7, Hard to 4.0,
// Insane to 5.3, Expert to 6.5, Expert+ above.
const DifficultyBand& band_for(double stars);

// What the rating reads of a header: its circle size, overall difficulty and
// approach rate, with the beatmaps' stacking leniency of 0.
RatingSettings rating_settings(const BeatmapDifficulty& header);

}  // namespace onpu
