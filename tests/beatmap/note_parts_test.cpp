// The note pass of a large file is cut into parts that threads make side by
// side: the parts begin where a new millisecond begins, and written in order
// they give the very beatmap and console text of the whole pass.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "beatmap/note_merge.h"
#include "common/byte_source.h"
#include "common/console.h"
#include "common/output_sink.h"
#include "conversion/conversion.h"
#include "support/harness.h"

namespace onpu {
namespace {

using test::Mode;
using test::Smf;

// Division 960 at 120 BPM: a tick lasts 0.52 ms, so two or three ticks share
// each millisecond. Three tracks play the same rhythm on channels 0, 0 and 1,
// so equal times are everywhere and the combo depends on the track before.
test::Bytes crowded_song(int notes_per_track) {
  Smf smf;
  smf.header(1, 3, 960);
  for (int t = 0; t < 3; ++t) {
    smf.track();
    if (t == 1) smf.tempo(0, 500000);
    for (int i = 0; i < notes_per_track; ++i) smf.note_on(i % 3 == 0 ? 0 : 1, t == 2 ? 1 : 0, 40 + i % 50, 100);
    smf.end_of_track();
  }
  return smf.bytes();
}

TEST(NoteParts, PartsGiveTheBeatmapAndProgressOfTheWholePass) {
  // 30000 notes: three progress lines, written as their parts are.
  const test::Bytes midi = crowded_song(10000);
  for (Mode mode : {Mode::kCircle, Mode::kHorizontal}) {
    test::Converted whole = test::convert_bytes(midi, mode);
    ASSERT_EQ(whole.result.note_count, 30000);
    for (uint64_t part_notes : {1, 333, 4096}) {
      SCOPED_TRACE(part_notes);
      test::Converted parts = test::convert_bytes_in_parts(midi, mode, part_notes, 3, 16);
      EXPECT_EQ(parts.result.note_count, 30000);
      EXPECT_TRUE(parts.osu == whole.osu);
      EXPECT_EQ(parts.out, whole.out);
      EXPECT_EQ(parts.err, whole.err);
      EXPECT_EQ(parts.result.keys_used, whole.result.keys_used);
    }
    const std::string progress = "変換済ノート数: 10000\n変換済ノート数: 20000\n変換済ノート数: 30000\n";
    EXPECT_NE(whole.out.find(progress), std::string::npos) << whole.out;
  }
}

// Notes, at each progress line, how much of the beatmap had reached the
// output.
class ProgressWatch : public Console {
 public:
  explicit ProgressWatch(const StringSink& sink) : sink_(sink) {}
  void out(std::string_view text) override {
    if (text.find("変換済ノート数") != std::string_view::npos) written_at.push_back(sink_.text.size());
  }
  void err(std::string_view) override {}
  std::vector<size_t> written_at;

 private:
  const StringSink& sink_;
};

class SinkTarget : public OutputTarget {
 public:
  OutputSink* open() override { return &sink; }
  StringSink sink;
};

TEST(NoteParts, ProgressOfASongOfOnePartComesAsItsLinesAreMade) {
  // One part, as for any song of under a million notes or on one core: the
  // user sees the count grow, not every line at the end.
  const test::Bytes midi = crowded_song(10000);
  MemorySource source(midi.data(), midi.size());
  CaptureConsole quiet;
  MidiAnalysis analysis;
  ASSERT_EQ(analyse_midi(source, quiet, &analysis).error, ConversionError::kNone);
  SinkTarget target;
  ProgressWatch watch(target.sink);
  ConversionResult result =
      write_beatmap(source, analysis, "song", test::options_for(Mode::kCircle), target, watch);
  ASSERT_EQ(result.note_count, 30000);
  ASSERT_EQ(watch.written_at.size(), 3u);
  EXPECT_LT(watch.written_at[0], target.sink.text.size() / 2);
  EXPECT_LT(watch.written_at[1], target.sink.text.size());
}

TEST(NoteParts, EveryPartBeginsWhereANewMillisecondBegins) {
  const test::Bytes midi = crowded_song(2000);
  MemorySource source(midi.data(), midi.size());
  CaptureConsole console;
  MidiAnalysis analysis;
  ASSERT_EQ(analyse_midi(source, console, &analysis, 8).error, ConversionError::kNone);
  NotePassPlan plan = plan_note_pass(analysis.scan, analysis.tempo_map, 100, 2);
  ASSERT_GT(plan.boundaries.size(), 20u);
  uint64_t previous = 0;
  for (uint64_t boundary : plan.boundaries) {
    EXPECT_GT(boundary, previous);
    const int32_t at = seconds_to_ms(analysis.tempo_map.ticks_to_seconds(boundary));
    const int32_t before = seconds_to_ms(analysis.tempo_map.ticks_to_seconds(boundary - 1));
    EXPECT_LT(before, at) << "tick " << boundary;
    previous = boundary;
  }
}

TEST(NoteParts, SmallSongOrASingleThreadMakesOnePart) {
  const test::Bytes midi = crowded_song(100);
  MemorySource source(midi.data(), midi.size());
  CaptureConsole console;
  MidiAnalysis analysis;
  ASSERT_EQ(analyse_midi(source, console, &analysis, 8).error, ConversionError::kNone);
  EXPECT_FALSE(plan_note_pass(analysis.scan, analysis.tempo_map, 10, 2).boundaries.empty());
  EXPECT_TRUE(plan_note_pass(analysis.scan, analysis.tempo_map, 10, 1).boundaries.empty());
  EXPECT_TRUE(plan_note_pass(analysis.scan, analysis.tempo_map, 1000, 2).boundaries.empty());
  EXPECT_TRUE(plan_note_pass(analysis.scan, analysis.tempo_map, 0, 2).boundaries.empty());
}

TEST(NoteParts, FileSourceServesReadersOnSeveralThreadsAtOnce) {
  test::TempDir dir;
  test::Bytes bytes(1 << 20);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  test::write_file(dir.file("data"), bytes);
  std::FILE* file = std::fopen(dir.file("data").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  FileSource source(file);
  ASSERT_EQ(source.size(), bytes.size());
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&, r] {
      uint8_t chunk[1000];
      for (uint64_t offset = static_cast<uint64_t>(r) * 997; offset + sizeof chunk <= bytes.size();
           offset += 4001) {
        if (source.read_at(offset, chunk, sizeof chunk) != sizeof chunk) ++wrong[r];
        for (size_t i = 0; i < sizeof chunk; ++i) wrong[r] += chunk[i] != bytes[offset + i];
      }
    });
  }
  for (std::thread& reader : readers) reader.join();
  std::fclose(file);
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace onpu
