#include "support/played_piece.h"

#include <algorithm>
#include <vector>

namespace onpu::test {
namespace {

struct Random {
  uint64_t state;
  int below(int n) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<int>((state >> 33) % static_cast<uint64_t>(n));
  }
};

void put_track(Smf& smf, std::vector<NoteEvent> events) { smf.track().notes(std::move(events)).end_of_track(480); }

}  // namespace

Bytes played_piece(const PieceShape& shape) {
  constexpr uint32_t kBeat = 480;
  Random random{shape.seed};
  // About 8 ms either way, in ticks, at the piece's tempo.
  const int jitter_ticks = static_cast<int>(8000.0 * kBeat / shape.microseconds_per_quarter);
  auto jitter = [&] { return shape.humanised ? random.below(2 * jitter_ticks + 1) - jitter_ticks : 0; };
  auto at = [](int64_t tick) { return static_cast<uint32_t>(std::max<int64_t>(0, tick)); };
  const int roll_step = static_cast<int>(6000.0 * kBeat / shape.microseconds_per_quarter);  // 6 ms

  std::vector<NoteEvent> melody;
  std::vector<NoteEvent> chords;
  std::vector<NoteEvent> drums;
  for (int m = 0; m < shape.measures; ++m) {
    const int section = (m / 8) % 3;  // half notes, eighths, sixteenths
    const int swell = 60 + 40 * std::abs((m % 16) - 8) / 8;
    const int64_t start = int64_t{m} * 4 * kBeat;
    for (int beat = 0; beat < 4; beat += section == 0 ? 2 : 1) {
      const int64_t tick = start + beat * kBeat + jitter();
      const int root = 36 + random.below(12);
      const int keys[] = {root, root + 7, root + 12, root + 16};
      for (int i = 0; i < 4; ++i) {
        const int64_t rolled = tick + (shape.humanised ? i * roll_step : 0);
        chords.push_back({at(rolled), 1, keys[i], swell - 15 + random.below(10)});
        chords.push_back({at(rolled + kBeat - 20), 1, keys[i], 0});
      }
    }
    const uint32_t step = section == 0 ? 2 * kBeat : section == 1 ? kBeat / 2 : kBeat / 4;
    for (uint32_t offset = 0; offset < 4 * kBeat; offset += step) {
      if (random.below(8) == 0) continue;  // a rest
      const int key = 60 + random.below(25);
      const int accent = offset % kBeat == 0 ? 15 : 0;
      const int velocity = std::min(127, swell + accent + random.below(20) - 10);
      const int64_t tick = start + offset + jitter();
      melody.push_back({at(tick), 0, key, velocity});
      melody.push_back({at(tick + step - 10), 0, key, 0});
    }
    if (shape.drums) {
      for (uint32_t eighth = 0; eighth < 8; ++eighth) {
        const uint32_t tick = static_cast<uint32_t>(start) + eighth * kBeat / 2;
        drums.push_back({tick, 9, 42, 70});
        if (eighth % 4 == 0) drums.push_back({tick, 9, 36, 100});
        if (eighth % 4 == 2) drums.push_back({tick, 9, 38, 95});
      }
    }
  }

  Smf smf;
  smf.header(1, shape.drums ? 4 : 3, kBeat);
  smf.track().tempo(0, shape.microseconds_per_quarter).time_signature(0, 4, 2).end_of_track();
  put_track(smf, melody);
  put_track(smf, chords);
  if (shape.drums) put_track(smf, drums);
  return smf.bytes();
}

}  // namespace onpu::test
