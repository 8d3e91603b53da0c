// Writes a large "black MIDI"-style file for the benchmark: format 1, notes
// spread over the tracks as dense chords with running status, tempo changes
// in track 0, velocities 1-127, all channels and keys, about four minutes at
// division 480. MINUTES sets another length; "piano" makes a piano-like song
// instead: every note on channel 0, chords of three keys from the middle of
// the keyboard.
//
//   onpu_bench_gen OUT.mid NOTES TRACKS TEMPO_CHANGES [SEED [MINUTES [piano]]]
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kDivision = 480;
constexpr uint64_t kTicksPerMinute = 120ull * kDivision;  // at 120 BPM

struct Random {
  uint64_t state;
  uint32_t next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state >> 33);
  }
};

void put_vlq(std::vector<uint8_t>& out, uint32_t value) {
  uint8_t bytes[5];
  int count = 0;
  do {
    bytes[count++] = value & 0x7F;
    value >>= 7;
  } while (value != 0);
  while (count > 1) out.push_back(bytes[--count] | 0x80);
  out.push_back(bytes[0]);
}

void put_be32(std::FILE* file, uint32_t value) {
  uint8_t bytes[4] = {uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value)};
  std::fwrite(bytes, 1, 4, file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s OUT.mid NOTES TRACKS TEMPO_CHANGES [SEED [MINUTES [piano]]]\n", argv[0]);
    return 1;
  }
  const uint64_t notes = std::strtoull(argv[2], nullptr, 10);
  const uint32_t tracks = static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10));
  const uint64_t tempo_changes = std::strtoull(argv[4], nullptr, 10);
  Random random{argc > 5 ? std::strtoull(argv[5], nullptr, 10) : 1};
  const uint64_t minutes = argc > 6 ? std::strtoull(argv[6], nullptr, 10) : 4;
  const bool piano = argc > 7 && std::string(argv[7]) == "piano";
  const uint64_t song_ticks = kTicksPerMinute * minutes;
  if (minutes == 0 || minutes > 24 * 60) {
    std::fprintf(stderr, "MINUTES must be 1 to 1440\n");
    return 1;
  }
  if (tracks == 0 || tracks > 65535) {
    std::fprintf(stderr, "TRACKS must be 1 to 65535\n");
    return 1;
  }

  std::FILE* file = std::fopen(argv[1], "wb");
  if (!file) {
    std::perror(argv[1]);
    return 1;
  }
  std::fwrite("MThd", 1, 4, file);
  put_be32(file, 6);
  uint8_t fields[6] = {0, 1, uint8_t(tracks >> 8), uint8_t(tracks), uint8_t(kDivision >> 8), uint8_t(kDivision)};
  std::fwrite(fields, 1, 6, file);

  const uint32_t chord_size = piano ? 3 : 8;
  std::vector<uint8_t> track;
  for (uint32_t t = 0; t < tracks; ++t) {
    track.clear();
    const uint64_t track_notes = notes / tracks + (t < notes % tracks ? 1 : 0);
    const uint64_t chords = (track_notes + chord_size - 1) / chord_size;
    // Events of track 0: tempo changes interleaved with its chords by tick.
    const uint64_t tempo_count = t == 0 ? tempo_changes : 0;
    uint64_t next_tempo = 0;
    uint64_t now = 0;
    uint64_t written_notes = 0;
    auto tempo_tick = [&](uint64_t i) { return song_ticks * (i + 1) / (tempo_count + 1); };
    auto put_tempo_until = [&](uint64_t tick) {
      while (next_tempo < tempo_count && tempo_tick(next_tempo) <= tick) {
        // Never before the last event written: the note-offs of a chord
        // can pass the next tempo change's tick.
        uint64_t at = std::max(tempo_tick(next_tempo), now);
        put_vlq(track, static_cast<uint32_t>(at - now));
        now = at;
        uint32_t tempo = 400000 + random.next() % 200000;
        const uint8_t event[] = {0xFF, 0x51, 0x03, uint8_t(tempo >> 16), uint8_t(tempo >> 8), uint8_t(tempo)};
        track.insert(track.end(), event, event + sizeof event);
        ++next_tempo;
      }
    };
    for (uint64_t c = 0; c < chords; ++c) {
      const uint64_t start = song_ticks * c / chords;
      put_tempo_until(start);
      const uint8_t status = piano ? 0x90 : 0x90 | ((t + c) & 0x0F);
      const uint32_t size = static_cast<uint32_t>(std::min<uint64_t>(chord_size, track_notes - written_notes));
      uint8_t keys[8];
      for (uint32_t k = 0; k < size; ++k) {
        keys[k] = static_cast<uint8_t>(piano ? 36 + random.next() % 61 : random.next() % 128);
        put_vlq(track, static_cast<uint32_t>(start - now));
        now = start;
        if (k == 0) track.push_back(status);
        track.push_back(keys[k]);
        track.push_back(static_cast<uint8_t>(1 + random.next() % 127));
      }
      written_notes += size;
      // Note offs as Note On with velocity 0, still under the running status.
      const uint64_t end = start + std::max<uint64_t>(1, song_ticks / chords / 2);
      for (uint32_t k = 0; k < size; ++k) {
        put_vlq(track, static_cast<uint32_t>(k == 0 ? end - now : 0));
        if (k == 0) now = end;
        track.push_back(keys[k]);
        track.push_back(0);
      }
    }
    put_tempo_until(song_ticks);
    const uint8_t end_of_track[] = {0x00, 0xFF, 0x2F, 0x00};
    track.insert(track.end(), end_of_track, end_of_track + sizeof end_of_track);
    std::fwrite("MTrk", 1, 4, file);
    put_be32(file, static_cast<uint32_t>(track.size()));
    std::fwrite(track.data(), 1, track.size(), file);
  }
  if (std::fclose(file) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
