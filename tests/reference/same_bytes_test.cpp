// The converter against the plain reference implementation: generated files
// with several tracks, tempo changes in later tracks, notes tied at equal
// milliseconds, more than 1000 notes, and damaged variants of all of them,
// in every mode. Output text, standard output and standard error must all
// agree byte for byte.
#include <gtest/gtest.h>

#include <cstdint>

#include "reference/reference_converter.h"
#include "support/harness.h"

namespace onpu::test {
namespace {

struct Random {
  uint64_t state;
  uint32_t next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state >> 33);
  }
  uint32_t below(uint32_t n) { return next() % n; }
  bool chance(uint32_t percent) { return below(100) < percent; }
};

// A random song: 1 to 6 tracks, a few hundred to a few thousand events.
Bytes random_song(Random& random) {
  const int tracks = 1 + static_cast<int>(random.below(6));
  const uint16_t division = random.chance(10) ? 0xE728 : static_cast<uint16_t>(24 + random.below(960));
  Smf smf;
  smf.header(1, static_cast<uint16_t>(tracks), division);
  for (int t = 0; t < tracks; ++t) {
    smf.track();
    const int events = static_cast<int>(random.below(t == 0 && random.chance(30) ? 2500 : 400));
    for (int e = 0; e < events; ++e) {
      // Small deltas give many notes at equal milliseconds across tracks.
      const uint32_t delta = random.chance(40) ? 0 : random.below(random.chance(5) ? 5000 : 120);
      const uint32_t kind = random.below(100);
      if (kind < 55) {
        smf.note_on(delta, static_cast<int>(random.below(16)), static_cast<int>(random.below(random.chance(3) ? 256 : 128)),
                    static_cast<int>(random.below(random.chance(3) ? 256 : 128)));
      } else if (kind < 70) {
        smf.running(delta, {static_cast<uint8_t>(random.below(128)), static_cast<uint8_t>(random.below(128))});
      } else if (kind < 78) {
        smf.note_off(delta, static_cast<int>(random.below(16)), static_cast<int>(random.below(128)));
      } else if (kind < 83) {
        smf.tempo(delta, random.chance(3) ? 0 : 200000 + random.below(800000));
      } else if (kind < 86) {
        smf.time_signature(delta, static_cast<int>(random.below(8)), static_cast<int>(random.below(5)));
      } else if (kind < 90) {
        smf.program_change(delta, static_cast<int>(random.below(16)), static_cast<int>(random.below(128)));
      } else if (kind < 94) {
        smf.sysex(delta, Bytes(random.below(20), 0x11));
      } else if (kind < 97) {
        smf.meta(delta, 0x01, Bytes(random.below(200), 'a'));
      } else {
        smf.delta(delta).raw({static_cast<uint8_t>(0xF1 + random.below(14))});
      }
    }
    if (!random.chance(5)) smf.end_of_track(random.below(100));
  }
  return smf.bytes();
}

Bytes damage(Bytes bytes, Random& random) {
  switch (random.below(3)) {
    case 0:
      return truncated(bytes, random.below(static_cast<uint32_t>(bytes.size()) + 1));
    case 1:
      for (int i = 0; i < 3; ++i) bytes[random.below(static_cast<uint32_t>(bytes.size()))] = static_cast<uint8_t>(random.next());
      return bytes;
    default:
      return appended(bytes, Bytes(random.below(40), static_cast<uint8_t>(random.next())));
  }
}

bool expect_same_as_reference(const Converted& fast, const ReferenceResult& reference, const std::string& label) {
  const bool fast_ok = fast.result.error == ConversionError::kNone;
  EXPECT_EQ(fast_ok, reference.ok) << label;
  if (fast_ok != reference.ok) return false;
  std::string fast_err = fast.err;
  if (!fast_ok) fast_err += error_message(fast.result, "in.mid", "out.osu");
  EXPECT_EQ(fast.out, reference.out) << label;
  EXPECT_EQ(fast_err, reference.err) << label;
  if (fast_ok) {
    EXPECT_EQ(fast.osu, reference.osu) << label;
  }
  return fast_ok;
}

// Returns the number of hit objects of a successful conversion, or -1. The
// note pass runs whole and, again, cut into parts of a few notes made by
// three threads, as a large file's would be.
int expect_same(const Bytes& midi, Mode mode, const std::string& label) {
  ReferenceResult reference = reference_convert(midi, mode, "song");
  Converted fast = convert_bytes(midi, mode, "song");
  const bool ok = expect_same_as_reference(fast, reference, label);
  for (uint64_t part_notes : {1, 7, 100}) {
    expect_same_as_reference(convert_bytes_in_parts(midi, mode, part_notes, 3, 1 + part_notes % 5), reference,
                             label + " in parts of " + std::to_string(part_notes));
  }
  return ok ? fast.result.note_count : -1;
}

TEST(SameBytes, GeneratedSongsMatchTheReferenceInEveryMode) {
  Random random{20261208};
  int converted = 0;
  int over_a_thousand_notes = 0;
  for (int song = 0; song < 300; ++song) {
    Bytes midi = random_song(random);
    if (song % 3 == 2) midi = damage(midi, random);
    for (Mode mode : {Mode::kCircle, Mode::kVertical, Mode::kHorizontal}) {
      int notes = expect_same(midi, mode, "song " + std::to_string(song) + " mode " + std::to_string(static_cast<int>(mode)));
      if (HasFailure()) return;
      converted += notes >= 0;
      over_a_thousand_notes += notes > 1000;
    }
  }
  // The generator must reach the cases this test is for.
  EXPECT_GT(converted, 600);
  EXPECT_GT(over_a_thousand_notes, 30);
}

TEST(SameBytes, ManyNotesOverManyTracksStayInTimeOrder) {
  // Over 1000 notes per track across several tracks, so a batch-wise sort
  // would have let time run backwards.
  Random random{7};
  Smf smf;
  smf.header(1, 4, 96);
  smf.track().tempo(0, 400000).tempo(3000, 700000).end_of_track();
  for (int t = 1; t < 4; ++t) {
    smf.track();
    for (int n = 0; n < 1200; ++n) smf.note_on(random.below(3) == 0 ? 0 : 7, t, 40 + static_cast<int>(random.below(40)), 100);
    smf.end_of_track();
  }
  for (Mode mode : {Mode::kCircle, Mode::kVertical, Mode::kHorizontal}) expect_same(smf.bytes(), mode, "many notes");
}

}  // namespace
}  // namespace onpu::test
