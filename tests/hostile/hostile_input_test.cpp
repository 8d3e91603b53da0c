// Files made to break the converter: lengths of 4 GB in a few bytes, absurd
// track counts and song lengths, endless quantities, floods of 0xFF, and a
// valid file cut off at every byte. Each must end in a correct beatmap or in
// one message with an error, quickly, without memory sized by a number the
// file merely claims, and without a partial output file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/smf_builder.h"

namespace onpu::test {
namespace {

const char kInvalidMidi[] = "エラー: 無効なMIDIファイルです\n";
const char kReadFailed[] = "エラー: ファイルの読み込みに失敗しました\n";
const char kTrack0Header[] = "エラー: トラック 0 に無効なヘッダーがあります\n";
const char kMetaReadFailed[] = "エラー: メタイベントの読み込みに失敗しました\n";

// Hit-object lines worked out by hand. Key 60 gives x = 30 + 60 * 452 / 127
// = 243, key 62 gives 250, key 64 gives 257; channel 0 gives y = 50,
// channel 1 gives 50 + 284 / 15 = 68; velocity 100 gives volume 78; a
// channel change sets the new-combo bit (type 5).
const char kKey60At0[] = "243,50,0,5,0,0:0:0:78:piano/60.mp3\n";
const char kKey62At500[] = "250,50,500,1,0,0:0:0:78:piano/62.mp3\n";
const char kKey64Channel1At500[] = "257,68,500,5,0,0:0:0:78:piano/64.mp3\n";

constexpr const char* kFatalMessages[] = {kInvalidMidi, kReadFailed, "に無効なヘッダーがあります\n"};

std::string fatal_message(const Converted& converted) {
  return error_message(converted.result, "song.mid", "song.osu");
}

Bytes repeated(size_t count, uint8_t value) { return Bytes(count, value); }

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

int line_count(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) ++count;
  return count;
}

long status_field_kb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  }
  return -1;
}

// The growth of the process's resident memory over a stretch of work: the
// peak during it against the resident size before it.
class MemoryGrowth {
 public:
  MemoryGrowth() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";  // resets the peak to the current resident size
    clear.close();
    usable_ = static_cast<bool>(clear);
    before_kb_ = status_field_kb("VmRSS:");
  }
  bool usable() const {
#ifdef ONPU_THREAD_SANITIZER
    return false;  // the sanitizer's shadow memory grows with the program's
#else
    return usable_ && before_kb_ >= 0;
#endif
  }
  long megabytes() const { return (status_field_kb("VmHWM:") - before_kb_) / 1024; }

 private:
  bool usable_ = false;
  long before_kb_ = -1;
};

// A track with a note at tick 0 and then the given bogus event, and a
// second track with a note at tick 480 (500 ms).
Bytes note_then_bogus_event_then_other_track(const Bytes& bogus_event) {
  return Smf()
      .header(1, 2, 480)
      .track()
      .note_on(0, 0, 60, 100)
      .raw(bogus_event)
      .raw({1, 2, 3})
      .track()
      .note_on(480, 1, 64, 100)
      .end_of_track()
      .bytes();
}

// The bogus event claims more bytes than its chunk holds: its track ends
// there quietly, and the conversion goes on with the next track.
void expect_only_its_track_ends(const Bytes& bogus_event) {
  Bytes midi = note_then_bogus_event_then_other_track(bogus_event);
  for (Mode mode : {Mode::kCircle, Mode::kVertical, Mode::kHorizontal}) {
    Converted c = convert_bytes(midi, mode);
    ASSERT_EQ(c.result.error, ConversionError::kNone) << fatal_message(c);
    EXPECT_EQ(c.result.note_count, 2);
    EXPECT_EQ(c.err, "");
    if (mode == Mode::kCircle) {
      EXPECT_EQ(hit_object_lines(c.osu), std::string(kKey60At0) + kKey64Channel1At500);
    }
  }
}

const Bytes kFourGigabytes = Smf::vlq(0xFFFFFFFFu);  // 8F FF FF FF 7F

TEST(HostileInput, MetaEventOfFourGigabytesEndsOnlyItsTrack) {
  expect_only_its_track_ends(concat({{0x00, 0xFF, 0x01}, kFourGigabytes}));
}

TEST(HostileInput, SysexOfFourGigabytesEndsOnlyItsTrack) {
  expect_only_its_track_ends(concat({{0x00, 0xF0}, kFourGigabytes}));
}

TEST(HostileInput, SysexLengthOfElevenBytesEndsOnlyItsTrack) {
  // Seventy-seven bits of length: more than any integer holds.
  expect_only_its_track_ends(concat({{0x00, 0xF7}, repeated(10, 0xFF), {0x7F}}));
}

TEST(HostileInput, TrackChunkOfFourGigabytesIsReadUpToTheFileEnd) {
  Bytes midi = Smf()
                   .header(0, 1, 480)
                   .track()
                   .set_chunk_length(0xFFFFFFFFu)
                   .note_on(0, 0, 60, 100)
                   .note_on(480, 1, 64, 100)
                   .end_of_track()
                   .bytes();
  Converted c = convert_bytes(midi, Mode::kCircle);
  ASSERT_EQ(c.result.error, ConversionError::kNone) << fatal_message(c);
  EXPECT_EQ(hit_object_lines(c.osu), std::string(kKey60At0) + kKey64Channel1At500);
  EXPECT_EQ(c.err, "");
}

TEST(HostileInput, TrackChunkOfFourGigabytesLeavesNoRoomForTheNextTrack) {
  Bytes midi = Smf()
                   .header(1, 2, 480)
                   .track()
                   .set_chunk_length(0xFFFFFFFFu)
                   .note_on(0, 0, 60, 100)
                   .end_of_track()
                   .track()
                   .note_on(0, 1, 64, 100)
                   .end_of_track()
                   .bytes();
  Converted c = convert_bytes(midi, Mode::kCircle);
  EXPECT_EQ(c.result.error, ConversionError::kReadFailed);
  EXPECT_EQ(fatal_message(c), kReadFailed);
  EXPECT_EQ(c.err, "");
  EXPECT_FALSE(c.output_opened);
}

TEST(HostileInput, LengthsOfFourGigabytesTakeNoMemoryOfTheirSize) {
  std::vector<Bytes> files = {
      note_then_bogus_event_then_other_track(concat({{0x00, 0xFF, 0x01}, kFourGigabytes})),
      note_then_bogus_event_then_other_track(concat({{0x00, 0xF0}, kFourGigabytes})),
      Smf().header(0, 1, 480).track().set_chunk_length(0xFFFFFFFFu).note_on(0, 0, 60, 100).end_of_track().bytes(),
  };
  MemoryGrowth growth;
  if (!growth.usable()) GTEST_SKIP() << "this system cannot reset the peak resident size (/proc/self/clear_refs)";
  for (const Bytes& midi : files) {
    for (Mode mode : {Mode::kCircle, Mode::kVertical, Mode::kHorizontal}) {
      EXPECT_EQ(convert_bytes(midi, mode).result.error, ConversionError::kNone);
    }
  }
  EXPECT_LT(growth.megabytes(), 32);
}

TEST(HostileInput, TrackCountOf65535WithOneTrackFailsFast) {
  Bytes midi = Smf().header(1, 65535, 480).track().note_on(0, 0, 60, 100).end_of_track().bytes();
  Converted c = convert_bytes(midi, Mode::kVertical);
  EXPECT_EQ(c.result.error, ConversionError::kReadFailed);
  EXPECT_EQ(fatal_message(c), kReadFailed);
  EXPECT_EQ(c.err, "");
  EXPECT_FALSE(c.output_opened);
}

TEST(HostileInput, TrackCountOf65535WithAllItsTracksConvertsInBoundedMemory) {
  Smf smf;
  smf.header(1, 65535, 480);
  for (int i = 0; i < 65535; ++i) smf.track().note_on(0, i % 16, i % 128, 100).end_of_track();
  Bytes midi = smf.bytes();
  MemoryGrowth growth;
  Converted c = convert_bytes(midi, Mode::kCircle);
  ASSERT_EQ(c.result.error, ConversionError::kNone) << fatal_message(c);
  EXPECT_EQ(c.result.note_count, 65535);
  // All at 0 ms, so in track order: track 1 is key 1 (x = 30 + 452 / 127 =
  // 33) on channel 1.
  const std::string first_two = "30,50,0,5,0,0:0:0:78:piano/0.mp3\n33,68,0,5,0,0:0:0:78:piano/1.mp3\n";
  EXPECT_EQ(hit_object_lines(c.osu).substr(0, first_two.size()), first_two);
  if (growth.usable()) {
    EXPECT_LT(growth.megabytes(), 128);
  }
}

TEST(HostileInput, DeltaTimeOfSixBytesKeepsItsLow32Bits) {
  // 81 80 80 80 83 60 is 2^35 + 480; the tick moves on by 480.
  Bytes midi = Smf()
                   .header(0, 1, 480)
                   .track()
                   .raw({0x81, 0x80, 0x80, 0x80, 0x83, 0x60})
                   .raw({0x90, 60, 100})
                   .end_of_track()
                   .bytes();
  Converted c = convert_bytes(midi, Mode::kCircle);
  ASSERT_EQ(c.result.error, ConversionError::kNone) << fatal_message(c);
  EXPECT_EQ(hit_object_lines(c.osu), "243,50,500,5,0,0:0:0:78:piano/60.mp3\n");
}

TEST(HostileInput, DeltaTimeRunningToTheFileEndIsAReadFailure) {
  Bytes midi = appended(Smf().header(0, 1, 480).track().set_chunk_length(100000).note_on(0, 0, 60, 100).bytes(),
                        repeated(1000, 0x80));
  Converted c = convert_bytes(midi, Mode::kCircle);
  EXPECT_EQ(c.result.error, ConversionError::kReadFailed);
  EXPECT_EQ(fatal_message(c), kReadFailed);
  EXPECT_FALSE(c.output_opened);
}

TEST(HostileInput, FileOfOnlySystemExclusiveEventsHasNoHitObjects) {
  // The messages carry bytes that would read as Note Ons if their lengths
  // were not honoured.
  Smf smf;
  smf.header(0, 1, 480).track();
  for (int i = 0; i < 500; ++i) {
    smf.sysex(0, {0x90, 0x3C, 0x64, 0xF7});
    smf.sysex(1, {0x90, 0x3E, 0x64}, 0xF7);
  }
  Bytes midi = smf.bytes();
  for (Mode mode : {Mode::kCircle, Mode::kVertical, Mode::kHorizontal}) {
    Converted c = convert_bytes(midi, mode);
    ASSERT_EQ(c.result.error, ConversionError::kNone) << fatal_message(c);
    EXPECT_EQ(c.result.note_count, 0);
    EXPECT_EQ(hit_object_lines(c.osu), "");
    EXPECT_EQ(c.osu.substr(c.osu.size() - 14), "\n[HitObjects]\n");
    EXPECT_EQ(c.err, "");
  }
}

TEST(HostileInput, TenMegabytesOfFFAfterTheHeaderIsAnInvalidTrackHeader) {
  Bytes midi = appended(Smf().header(0, 1, 480).bytes(), repeated(10 << 20, 0xFF));
  Converted c = convert_bytes(midi, Mode::kCircle);
  EXPECT_EQ(c.result.error, ConversionError::kInvalidTrackHeader);
  EXPECT_EQ(fatal_message(c), kTrack0Header);
  EXPECT_FALSE(c.output_opened);
}

TEST(HostileInput, TenMegabytesOfFFInsideATrackChunkEndOnlyThatTrack) {
  // One endless delta time that the chunk's end cuts off.
  Bytes midi = Smf().header(0, 1, 480).track().note_on(0, 0, 60, 100).raw(repeated(10 << 20, 0xFF)).bytes();
  MemoryGrowth growth;
  Converted c = convert_bytes(midi, Mode::kVertical);
  ASSERT_EQ(c.result.error, ConversionError::kNone) << fatal_message(c);
  EXPECT_EQ(c.result.note_count, 1);
  EXPECT_EQ(c.err, "");
  if (growth.usable()) {
    EXPECT_LT(growth.megabytes(), 32);
  }
}

TEST(HostileInput, TenMegabytesOfFFRunningToTheFileEndIsAReadFailure) {
  Bytes midi = Smf()
                   .header(0, 1, 480)
                   .track()
                   .set_chunk_length(0xFFFFFFFFu)
                   .note_on(0, 0, 60, 100)
                   .raw(repeated(10 << 20, 0xFF))
                   .bytes();
  Converted c = convert_bytes(midi, Mode::kCircle);
  EXPECT_EQ(c.result.error, ConversionError::kReadFailed);
  EXPECT_EQ(fatal_message(c), kReadFailed);
  EXPECT_FALSE(c.output_opened);
}

TEST(HostileInput, MillionBarSongOfAThousandBytesKeepsAThousandMeasures) {
  // Division 1 at 120 BPM: a tick is 500 ms and a 4/4 measure 2000 ms. The
  // End of Track lies 2^28 - 1 ticks on, past 2^31 ms, so the song claims
  // over a million measures. The grid stops after measure 1000, [1998000,
  // 2000000) ms: the note at 1999000 ms sits halfway into it (y = 30 + 324 /
  // 2 = 192); the note at 2001000 ms is past the grid and placed by the
  // song's length, 2147483647 ms (y = 30), not halfway into a measure 1001.
  Bytes midi = Smf()
                   .header(0, 1, 1)
                   .track()
                   .meta(0, 0x01, Bytes(957, 'x'))
                   .note_on(3998, 0, 60, 100)
                   .note_on(4, 0, 62, 100)
                   .end_of_track(0x0FFFFFFF)
                   .bytes();
  ASSERT_EQ(midi.size(), 1000u);
  Converted c = convert_bytes(midi, Mode::kVertical);
  ASSERT_EQ(c.result.error, ConversionError::kNone) << fatal_message(c);
  EXPECT_EQ(hit_object_lines(c.osu),
            "243,192,1999000,5,0,0:0:0:78:piano/60.mp3\n"
            "250,30,2001000,1,0,0:0:0:78:piano/62.mp3\n");
}

// Track 0 changes the tempo at every tick up to tick `changes`; each of the
// other tracks holds one note after the last change. Bytes: 7 per change, 16
// per note track.
Bytes tempo_changes_crossed_by_many_tracks(int changes, int note_tracks) {
  Smf smf;
  smf.header(1, static_cast<uint16_t>(note_tracks + 1), 480).track();
  for (int i = 0; i < changes; ++i) smf.tempo(1, 500000 + i % 2);
  smf.end_of_track();
  for (int i = 0; i < note_tracks; ++i) smf.track().note_on(changes + 5, i % 16, 60, 100).end_of_track();
  return smf.bytes();
}

TEST(HostileInput, ManyTracksCrossingManyTempoChangesConvert) {
  // Each note track reaches its note past every tempo change: 32000 tracks
  // over 32000 changes. A walk over the tempo map per track and change would
  // take a billion steps; the cursor jumps (its speed is the benchmark's
  // business). Every note lies at the same tick, so at one time.
  Converted c = convert_bytes(tempo_changes_crossed_by_many_tracks(32000, 32000), Mode::kCircle);
  ASSERT_EQ(c.result.error, ConversionError::kNone) << fatal_message(c);
  EXPECT_EQ(c.result.note_count, 32000);
  EXPECT_EQ(c.result.tempo_change_count, 32000);
  std::istringstream lines(hit_object_lines(c.osu));
  std::set<std::string> times;
  for (std::string line; std::getline(lines, line);) {
    size_t second_comma = line.find(',', line.find(',') + 1);
    times.insert(line.substr(second_comma + 1, line.find(',', second_comma + 1) - second_comma - 1));
  }
  EXPECT_EQ(times.size(), 1u);
}

// A small valid file, byte by byte:
//   0  4d 54 68 64 00 00 00 06 00 00 00 01 01 e0   MThd, 6, format 0, 1 track, 480
//  14  4d 54 72 6b 00 00 00 13                     MTrk, 19 bytes
//  22  00 ff 51 03 07 a1 20                        tempo 500000 at tick 0
//  29  00 90 3c 64                                 Note On 60 at tick 0
//  33  83 60 3e 64                                 Note On 62 at tick 480 (running status)
//  37  00 ff 2f 00                                 End of Track
Bytes small_valid_file() {
  return Smf()
      .header(0, 1, 480)
      .track()
      .tempo(0, 500000)
      .note_on(0, 0, 60, 100)
      .running(480, {62, 100})
      .end_of_track()
      .bytes();
}

struct CutOutcome {
  size_t first_size;
  size_t last_size;
  const char* error;  // null: the conversion succeeds
  int notes;          // hit objects when it succeeds
  bool meta_warnings;  // the meta-event message in the first walk and the note pass
};

// Where the file ends decides: inside the header, an invalid file; inside a
// chunk header, a delta time or an event's data, a read failure; right
// after a delta time (no status byte), the track simply ends; inside a meta
// event's type or length, the meta-event message and the track ends.
const CutOutcome kCutOutcomes[] = {
    {0, 13, kInvalidMidi, 0, false},  {14, 22, kReadFailed, 0, false}, {23, 23, nullptr, 0, false},
    {24, 25, nullptr, 0, true},       {26, 29, kReadFailed, 0, false}, {30, 30, nullptr, 0, false},
    {31, 34, kReadFailed, 0, false},  {35, 35, nullptr, 1, false},     {36, 37, kReadFailed, 0, false},
    {38, 38, nullptr, 2, false},      {39, 40, nullptr, 2, true},      {41, 41, nullptr, 2, false},
};

TEST(HostileInput, FileCutAtEveryByteEndsInBeatmapOrOneMessage) {
  const Bytes whole = small_valid_file();
  ASSERT_EQ(whole.size(), 41u);
  const std::string lines_of_notes[] = {"", kKey60At0, std::string(kKey60At0) + kKey62At500};
  const std::string meta_warnings = std::string(kMetaReadFailed) + kMetaReadFailed;
  for (const CutOutcome& expected : kCutOutcomes) {
    for (size_t size = expected.first_size; size <= expected.last_size; ++size) {
      SCOPED_TRACE("cut to " + std::to_string(size) + " bytes");
      Converted c = convert_bytes(truncated(whole, size), Mode::kCircle);
      if (expected.error) {
        EXPECT_NE(c.result.error, ConversionError::kNone);
        EXPECT_EQ(fatal_message(c), expected.error);
        EXPECT_EQ(c.err, "");
        EXPECT_FALSE(c.output_opened);
      } else {
        ASSERT_EQ(c.result.error, ConversionError::kNone) << fatal_message(c);
        EXPECT_EQ(hit_object_lines(c.osu), lines_of_notes[expected.notes]);
        EXPECT_EQ(c.err, expected.meta_warnings ? meta_warnings : "");
      }
    }
  }
}

// Two tracks and an alien chunk, with tempo and meter changes, a long text,
// system exclusive, running status and every channel message family.
Bytes multi_track_file() {
  return Smf()
      .header(1, 2, 96)
      .track()
      .time_signature(0, 3, 3)
      .tempo(0, 400000)
      .meta(0, 0x03, Bytes(150, 'n'))
      .tempo(96, 300000)
      .end_of_track()
      .chunk("XFIH")
      .raw({1, 2, 3, 4, 5})
      .track()
      .program_change(0, 2, 5)
      .note_on(0, 2, 60, 90)
      .running(24, {64, 91})
      .sysex(0, {0x41, 0x10, 0x42, 0x12, 0xF7})
      .running(24, {67, 92})
      .control_change(0, 2, 7, 100)
      .raw({0x00, 0xE2, 0x00, 0x40, 0x00, 0xD2, 0x10, 0x00, 0xA2, 60, 5})
      .note_off(48, 2, 60)
      .note_on(0, 3, 72, 31)
      .end_of_track(10)
      .bytes();
}

TEST(HostileInput, MultiTrackFileCutAtEveryByteNeverWritesAPartialBeatmap) {
  const Bytes whole = multi_track_file();
  for (size_t size = 0; size <= whole.size(); ++size) {
    SCOPED_TRACE("cut to " + std::to_string(size) + " bytes");
    Bytes cut = truncated(whole, size);
    int circle_notes = -1;
    for (Mode mode : {Mode::kCircle, Mode::kVertical, Mode::kHorizontal}) {
      Converted c = convert_bytes(cut, mode);
      if (c.result.error != ConversionError::kNone) {
        std::string message = fatal_message(c);
        bool known = false;
        for (const char* fatal : kFatalMessages) known = known || message.find(fatal) != std::string::npos;
        EXPECT_TRUE(known) << message;
        EXPECT_FALSE(c.output_opened);
        continue;
      }
      const int count = line_count(hit_object_lines(c.osu));
      EXPECT_EQ(count, c.result.note_count);
      if (circle_notes < 0) circle_notes = count;
      EXPECT_EQ(count, circle_notes);
    }
  }
  Converted c = convert_bytes(whole, Mode::kCircle);
  EXPECT_EQ(c.result.note_count, 4);
}

TEST(HostileInput, CutFileLeavesNoFileBehindAndKeepsTheOldBeatmap) {
  const Bytes whole = small_valid_file();
  const std::string old_beatmap = "old beatmap\n";
  const struct {
    size_t size;
    const char* message;
  } cuts[] = {{10, kInvalidMidi}, {18, kReadFailed}, {27, kReadFailed}, {36, kReadFailed}};
  for (const auto& cut : cuts) {
    SCOPED_TRACE("cut to " + std::to_string(cut.size) + " bytes");
    TempDir dir;
    write_file(dir.file("song.mid"), truncated(whole, cut.size));
    write_file(dir.file("song.osu"), old_beatmap);
    RunResult run = run_onpu({"song.mid"}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, cut.message);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"song.mid", "song.osu"}));
    EXPECT_EQ(read_file(dir.file("song.osu")), old_beatmap);
  }
}

TEST(HostileInput, FileCutAfterADeltaTimeConvertsWhatCameBefore) {
  TempDir dir;
  write_file(dir.file("song.mid"), truncated(small_valid_file(), 35));
  RunResult run = run_onpu({"song.mid", "both"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"song-circle.osu", "song-slider-horizontal.osu",
                                                     "song-slider-vertical.osu", "song.mid"}));
  EXPECT_EQ(hit_object_lines(read_file(dir.file("song-circle.osu"))), kKey60At0);
}

// The fuzz target's own inputs, the regressions it found among them, in the
// ordinary test run too (and so under the sanitizers).
TEST(HostileInput, EveryFuzzCorpusInputEndsInBeatmapOrOneMessage) {
  namespace fs = std::filesystem;
  const fs::path corpus = fs::path(__FILE__).parent_path().parent_path().parent_path() / "fuzz" / "corpus";
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "no fuzz corpus at " << corpus;
  int inputs = 0;
  for (const auto& entry : fs::directory_iterator(corpus)) {
    SCOPED_TRACE(entry.path().filename().string());
    const std::string text = read_file(entry.path().string());
    const Bytes midi(text.begin(), text.end());
    int circle_notes = -1;
    for (Mode mode : {Mode::kCircle, Mode::kVertical, Mode::kHorizontal}) {
      Converted c = convert_bytes(midi, mode);
      if (c.result.error != ConversionError::kNone) {
        EXPECT_NE(fatal_message(c), "");
        EXPECT_FALSE(c.output_opened);
        continue;
      }
      const int count = line_count(hit_object_lines(c.osu));
      EXPECT_EQ(count, c.result.note_count);
      if (circle_notes < 0) circle_notes = count;
      EXPECT_EQ(count, circle_notes);
    }
    ++inputs;
  }
  EXPECT_GT(inputs, 0);
}

TEST(HostileInput, HeldNotesAtExtremeTemposMakeBoundedMapsForPlay) {
  // A beat of a microsecond, then one of 16.7 seconds; notes held for tens
  // of thousands of beats and for a hundredth of one. A slider goes back and forth at
  // most four times, and none is made where the game would time it by
  // another beat length than its own.
  Smf smf;
  smf.header(0, 1, 1).track().tempo(0, 1);
  for (int i = 0; i < 200; ++i) smf.note_on(i == 0 ? 0 : 10000, 0, 60 + i % 12, 100).note_off(90000, 0, 60 + i % 12);
  smf.tempo(0, 0xFFFFFF);
  for (int i = 0; i < 200; ++i) smf.note_on(1, 0, 60 + i % 12, 100).note_off(i % 2 == 0 ? 3000 : 1, 0, 60 + i % 12);
  TempDir dir;
  write_file(dir.file("song.mid"), smf.end_of_track().bytes());
  RunResult run = run_onpu({"song.mid", "--stars", "1,5,12"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"song-1.00stars.osu", "song-5.00stars.osu", "song-12.00stars.osu"}) {
    std::istringstream lines(hit_object_lines(read_file(dir.file(name))));
    int objects = 0;
    for (std::string line; std::getline(lines, line); ++objects) {
      int x = 0, y = 0, time = 0, type = 0, end_x = 0, end_y = 0, slides = 0;
      if (std::sscanf(line.c_str(), "%d,%d,%d,%d,0,L|%d:%d,%d", &x, &y, &time, &type, &end_x, &end_y, &slides) == 7) {
        EXPECT_LE(slides, 4) << name << ": " << line.substr(0, 80);
        EXPECT_GE(time, 20000) << name << ": a slider on the beat of a microsecond: " << line.substr(0, 80);
      }
    }
    EXPECT_GT(objects, 0) << name;
  }
}

}  // namespace
}  // namespace onpu::test
