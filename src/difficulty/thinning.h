// The choice of notes for a map at a star rating: which moments a thinned
// map keeps so that it rates what was asked for.
//
// Moments join the map in one fixed order, the admission order, and a
// thinned map is a beginning of that order: the longer the beginning, the
// denser the map and the higher its rating. The order goes by spacing in
// rounds: in each round, with a shorter spacing than the round before, the
// moments not yet in join in order of strength (downbeats before beats
// before off-beats, louder before softer, fuller chords first), each only
// when no moment already in lies closer to it than the round's spacing. So
// every beginning of the order has the song's backbone first, its density
// follows the music up to a ceiling that rises round by round, no part of
// the song is much denser than the rest, and no long stretch of the song is
// left without a circle.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "difficulty/moments.h"
#include "difficulty/star_rating.h"

namespace onpu {

// Indices of moments (given in time order) in the order they join a map.
// Holds every moment once. Its first *cover_count moments (when asked for)
// cover the song, from its first moment to its last, with one at least
// every two seconds while the music plays: every map keeps them.
std::vector<uint32_t> admission_order(const std::vector<Moment>& moments, size_t* cover_count = nullptr);

struct ThinnedMap {
  std::vector<uint32_t> kept;  // indices of the moments kept, ascending
  StarRating rating;
  bool topped_out = false;  // the map of every moment rates below the target
};

// The rating of the map that keeps the moments at kept (ascending indices).
using RateKept = std::function<StarRating(const std::vector<uint32_t>& kept)>;

// The beginning of the admission order (of moment_count moments), at least
// least_count long, whose map rates closest to target_stars. When even the
// map of every moment rates below the target, that map.
ThinnedMap thin_to_rating(size_t moment_count, const std::vector<uint32_t>& order, size_t least_count,
                          double target_stars, const RateKept& rate_kept);

}  // namespace onpu
