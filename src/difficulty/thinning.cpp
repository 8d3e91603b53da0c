#include "difficulty/thinning.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <set>

namespace onpu {
namespace {

// The spacing of the first round (each round narrows it by a tenth):
// from one circle in four seconds, a rest for any player, down to the
// spacing below which only the densest maps go, where the last round lets
// every moment in.
constexpr int64_t kWidestSpacingMs = 4000;
constexpr int64_t kNarrowestSpacingMs = 25;

// Stronger moments join first; equals keep their time order.
bool stronger(const Moment& a, uint32_t a_index, const Moment& b, uint32_t b_index) {
  if (a.level != b.level) return a.level < b.level;
  if (a.loudest != b.loudest) return a.loudest > b.loudest;
  if (a.note_count != b.note_count) return a.note_count > b.note_count;
  return a_index < b_index;
}

// Every map keeps a cover of the song: from its first moment to its last,
// a kept moment at least every kCoverMs while the music plays, the
// strongest in the second half of each reach. A map never falls silent for
// longer than the song's own rests and this; the rounds add to the cover.
constexpr int64_t kCoverMs = 2000;

std::vector<uint32_t> song_cover(const std::vector<Moment>& moments) {
  std::vector<uint32_t> cover;
  const size_t n = moments.size();
  if (n == 0) return cover;
  auto time_of = [&moments](size_t i) { return static_cast<int64_t>(moments[i].top.time_ms); };
  cover.push_back(0);
  for (size_t next = 1; next < n;) {
    const int64_t from = time_of(cover.back());
    if (time_of(next) - from > kCoverMs) {  // a rest in the music
      cover.push_back(static_cast<uint32_t>(next++));
      continue;
    }
    size_t best = n;
    size_t latest = next;
    for (; next < n && time_of(next) - from <= kCoverMs; ++next) {
      latest = next;
      const bool in_second_half = time_of(next) - from >= kCoverMs / 2;
      if (in_second_half && (best == n || stronger(moments[next], static_cast<uint32_t>(next), moments[best],
                                                   static_cast<uint32_t>(best)))) {
        best = next;
      }
    }
    // The song ends within reach: its last moment closes the cover.
    const size_t chosen = next == n ? n - 1 : best != n ? best : latest;
    cover.push_back(static_cast<uint32_t>(chosen));
    next = chosen + 1;
  }
  return cover;
}

// Around the first beginning that reaches the target, the ratings of a few
// beginnings either side are compared: adding a moment does not always
// raise the rating.
constexpr size_t kNeighbours = 8;

// A rating this close to the target is close enough.
constexpr double kCloseEnough = 0.02;

// One moment can lift a map's rating by tenths of a star: the one that makes
// the map's fastest pair of taps or its widest jump. When the beginnings
// step over the target like that, the moments after the last beginning
// below it are tried one by one, in their order, and each is kept only when
// the map stays within reach of the target; the moments that would make
// such a spike are left out. This many tries at most.
constexpr size_t kMostTries = 256;

// The first beginning tried: a map shorter than this rates in no time.
constexpr size_t kFirstTry = 256;

}  // namespace

std::vector<uint32_t> admission_order(const std::vector<Moment>& moments, size_t* cover_count) {
  std::vector<uint32_t> order = song_cover(moments);
  if (cover_count) *cover_count = order.size();
  std::vector<bool> covered(moments.size(), false);
  std::set<int64_t> taken;  // times of the moments in
  for (uint32_t index : order) {
    covered[index] = true;
    taken.insert(moments[index].top.time_ms);
  }
  std::vector<uint32_t> waiting;
  waiting.reserve(moments.size() - order.size());
  for (uint32_t i = 0; i < moments.size(); ++i) {
    if (!covered[i]) waiting.push_back(i);
  }
  std::sort(waiting.begin(), waiting.end(),
            [&](uint32_t a, uint32_t b) { return stronger(moments[a], a, moments[b], b); });

  order.reserve(moments.size());
  std::vector<uint32_t> left;
  for (int64_t spacing = kWidestSpacingMs; !waiting.empty(); spacing = spacing * 9 / 10) {
    const bool last_round = spacing < kNarrowestSpacingMs;
    left.clear();
    for (uint32_t index : waiting) {
      const int64_t time = moments[index].top.time_ms;
      if (!last_round) {
        auto next = taken.lower_bound(time);
        if ((next != taken.end() && *next - time < spacing) ||
            (next != taken.begin() && time - *std::prev(next) < spacing)) {
          left.push_back(index);
          continue;
        }
      }
      taken.insert(time);
      order.push_back(index);
    }
    waiting.swap(left);
  }
  return order;
}

ThinnedMap thin_to_rating(size_t moment_count, const std::vector<uint32_t>& order, size_t least_count,
                          double target_stars, const RateKept& rate_kept) {
  const size_t n = order.size();
  std::vector<uint32_t> rank(moment_count, UINT32_MAX);
  for (size_t i = 0; i < n; ++i) rank[order[i]] = static_cast<uint32_t>(i);

  // The indices that `kept` (a test of a moment's index) keeps, ascending.
  auto indices_where = [&](const auto& kept) {
    std::vector<uint32_t> indices;
    for (size_t i = 0; i < moment_count; ++i) {
      if (kept(i)) indices.push_back(static_cast<uint32_t>(i));
    }
    return indices;
  };
  auto beginning = [&rank](size_t count) { return [&rank, count](size_t i) { return rank[i] < count; }; };
  std::map<size_t, StarRating> rated;  // by the length of the beginning
  auto rate = [&](size_t count) {
    auto found = rated.find(count);
    return found != rated.end() ? found->second : rated[count] = rate_kept(indices_where(beginning(count)));
  };
  auto distance = [&](const StarRating& rating) { return std::fabs(rating.stars - target_stars); };

  // The shortest beginning that reaches the target, as if the rating only
  // grew with the map: first by doubling from a short beginning, so that a
  // map of a few thousand moments out of millions costs about as much to
  // find as it costs to rate, then by halving.
  least_count = std::min(least_count, n);
  size_t low = least_count;
  size_t high = std::min(n, std::max(least_count, kFirstTry));
  while (high < n && rate(high).stars < target_stars) {
    low = high + 1;
    high = std::min(n, high * 2);
  }
  ThinnedMap result;
  if (rate(high).stars < target_stars) {
    result.topped_out = true;
    result.rating = rate(n);
    result.kept = indices_where(beginning(n));
    return result;
  }
  while (low < high) {
    const size_t middle = low + (high - low) / 2;
    if (rate(middle).stars >= target_stars) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  size_t best = high;
  const size_t first = high > least_count + kNeighbours ? high - kNeighbours : least_count;
  const size_t last = std::min(n, high + kNeighbours);
  for (size_t count = first; count <= last; ++count) {
    if (distance(rate(count)) < distance(rate(best))) best = count;
  }
  if (distance(rate(best)) > kCloseEnough && high > least_count) {
    // The beginning below the target, and then moments one by one.
    std::vector<bool> in(moment_count, false);
    for (size_t i = 0; i < high - 1; ++i) in[order[i]] = true;
    auto is_in = [&in](size_t i) { return static_cast<bool>(in[i]); };
    StarRating reached = rate(high - 1);
    for (size_t next = high - 1, tries = 0; next < n && tries < kMostTries; ++next, ++tries) {
      in[order[next]] = true;
      const StarRating rating = rate_kept(indices_where(is_in));
      if (rating.stars > target_stars + kCloseEnough) {
        in[order[next]] = false;
        continue;
      }
      reached = rating;
      if (rating.stars >= target_stars - kCloseEnough) break;
    }
    if (distance(reached) < distance(rate(best))) {
      result.rating = reached;
      result.kept = indices_where(is_in);
      return result;
    }
  }
  result.rating = rate(best);
  result.kept = indices_where(beginning(best));
  return result;
}

}  // namespace onpu
