// The real program on real files: every file of the shared corpus either
// converts or fails with one of the program's messages, and each failure
// message of a conversion run comes out as the user sees it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/harness.h"
#include "support/smf_builder.h"

namespace onpu::test {
namespace {

const std::string kInvalidFile = "エラー: 無効なMIDIファイルです\n";
const std::string kReadFailed = "エラー: ファイルの読み込みに失敗しました\n";
const std::string kMetaFailed = "エラー: メタイベントの読み込みに失敗しました\n";
const std::string kNoteOnFailed = "エラー: ノートオンイベントの読み込みに失敗しました\n";

Bytes file_bytes(const std::string& path) {
  std::string text = read_file(path);
  return Bytes(text.begin(), text.end());
}

// The loud Note On events (velocity 31 or more) of a well-formed file, or -1
// when the file is not well-formed: a 6-byte header, track_count "MTrk"
// chunks (other chunks passed over) that lie inside the file, each ending
// with its End of Track exactly at the chunk's end, and no data byte without
// a running status.
int count_loud_notes(const Bytes& b) {
  auto u32 = [&](size_t at) {
    return size_t{b[at]} << 24 | size_t{b[at + 1]} << 16 | size_t{b[at + 2]} << 8 | b[at + 3];
  };
  if (b.size() < 14 || std::memcmp(b.data(), "MThd", 4) != 0 || u32(4) != 6) return -1;
  const size_t track_count = size_t{b[10]} << 8 | b[11];
  size_t chunk = 14;
  int notes = 0;
  for (size_t found = 0; found < track_count;) {
    if (chunk + 8 > b.size()) return -1;
    const size_t end = chunk + 8 + u32(chunk + 4);
    if (end > b.size()) return -1;
    const bool is_track = std::memcmp(&b[chunk], "MTrk", 4) == 0;
    size_t p = chunk + 8;
    chunk = end;
    if (!is_track) continue;
    ++found;
    // A variable-length quantity inside the chunk, or -1.
    auto vlq = [&](size_t& at) -> long {
      long value = 0;
      do {
        if (at >= end || value > (1L << 28)) return -1;
        value = value << 7 | (b[at] & 0x7F);
      } while (b[at++] & 0x80);
      return value;
    };
    uint8_t running = 0;
    for (bool ended = false; !ended;) {
      if (vlq(p) < 0 || p >= end) return -1;
      uint8_t status = b[p];
      if (status < 0x80) {
        if (running == 0) return -1;
        status = running;
      } else {
        ++p;
        if (status < 0xF0) running = status;
      }
      long length;
      if (status == 0xFF) {
        if (p >= end) return -1;
        ended = b[p++] == 0x2F;
        length = vlq(p);
      } else if (status == 0xF0 || status == 0xF7) {
        length = vlq(p);
      } else if (status == 0xF1 || status == 0xF3) {
        length = 1;
      } else if (status == 0xF2) {
        length = 2;
      } else if (status > 0xF0) {
        length = 0;
      } else {
        length = status >= 0xC0 && status <= 0xDF ? 1 : 2;
      }
      if (length < 0 || p + length > end) return -1;
      if ((status & 0xF0) == 0x90 && b[p + 1] >= 31) ++notes;
      p += length;
    }
    if (p != end) return -1;
  }
  return notes;
}

// The note count of the summary line, or -1 without one.
int summary_note_count(const std::string& out) {
  const std::string prefix = "変換完了: 合計 ";
  size_t at = out.find(prefix);
  int notes = -1;
  if (at == std::string::npos || std::sscanf(out.c_str() + at + prefix.size(), "%d", &notes) != 1) return -1;
  return notes;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

bool is_fatal_message(const std::string& line) {
  if (line == kInvalidFile || line == kReadFailed) return true;
  int track = 0;
  char rest[128] = {};
  return std::sscanf(line.c_str(), "エラー: トラック %d %127[^\n]", &track, rest) == 2 &&
         std::string(rest) == "に無効なヘッダーがあります";
}

bool is_warning(const std::string& line) {
  return line == kMetaFailed || line == kNoteOnFailed || line.rfind("警告: テンポ値 0 を無視しました: tick=", 0) == 0;
}

std::vector<std::string> corpus_files() {
  std::vector<std::string> paths;
  for (const auto& entry : std::filesystem::directory_iterator(corpus_dir())) paths.push_back(entry.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// --- The corpus -----------------------------------------------------------

TEST(Corpus, EveryFileConvertsOrFailsWithOneMessage) {
  if (corpus_dir().empty()) GTEST_SKIP() << "the shared MIDI corpus is not in this checkout";
  int well_formed = 0;
  for (const std::string& path : corpus_files()) {
    SCOPED_TRACE(path);
    TempDir dir;
    RunResult run = run_onpu({path, "circle"}, dir.path());
    ASSERT_TRUE(run.status == 0 || run.status == 1) << "status " << run.status << "\n" << run.err;
    std::vector<std::string> err = lines_of(run.err);
    std::vector<std::string> entries = dir.entries();
    if (run.status == 0) {
      ASSERT_EQ(entries.size(), 1u);
      EXPECT_TRUE(ends_with(entries[0], ".osu")) << entries[0];
      for (const std::string& line : err) EXPECT_TRUE(is_warning(line)) << line;
      // A valid beatmap: the whole header, then one line per note in time order.
      const std::string osu = read_file(dir.file(entries[0]));
      EXPECT_EQ(osu.rfind("\xEF\xBB\xBFosu file format v14\n\n[General]\n", 0), 0u);
      const std::vector<std::string> objects = lines_of(hit_object_lines(osu));
      EXPECT_NE(osu.find("\n[Colours]\n"), std::string::npos);
      EXPECT_EQ(static_cast<int>(objects.size()), summary_note_count(run.out));
      long previous_time = -1;
      for (const std::string& line : objects) {
        long x = 0, y = 0, time = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%ld,%ld,%ld,", &x, &y, &time), 3) << line;
        EXPECT_LE(previous_time, time) << line;
        previous_time = time;
      }
      int expected = count_loud_notes(file_bytes(path));
      if (expected >= 0) {
        ++well_formed;
        EXPECT_EQ(summary_note_count(run.out), expected) << run.out;
        EXPECT_EQ(run.err, "");
      }
    } else {
      EXPECT_TRUE(entries.empty()) << entries[0];
      ASSERT_FALSE(err.empty());
      EXPECT_TRUE(is_fatal_message(err.back())) << err.back();
      for (size_t i = 0; i + 1 < err.size(); ++i) EXPECT_TRUE(is_warning(err[i])) << err[i];
      EXPECT_EQ(summary_note_count(run.out), -1);
    }
  }
  EXPECT_GE(well_formed, 65);  // all but the five damaged or foreign files
}

// The loop above trusts count_loud_notes; these counts were made by hand.
TEST(Corpus, NoteCounterAgreesWithHandCountedFiles) {
  if (corpus_dir().empty()) GTEST_SKIP() << "the shared MIDI corpus is not in this checkout";
  const struct {
    const char* name;
    int notes;
  } cases[] = {
      {"test-c-major-scale.mid", 8},        {"test-note-on-velocity.mid", 7},  // velocities 1 and 16 make none
      {"test-2-tracks-type-1.mid", 16},     {"test-running-status-metaevent.mid", 8},
      {"test-running-status-sysex.mid", 8}, {"test-illegal-message-all.mid", 8},
      {"test-non-midi-track.mid", 8},       {"test-empty.mid", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(count_loud_notes(file_bytes(corpus_dir() + "/" + c.name)), c.notes) << c.name;
}

TEST(Corpus, FileMissingItsLastByteReportsTheCutMetaEventTwice) {
  if (corpus_dir().empty()) GTEST_SKIP() << "the shared MIDI corpus is not in this checkout";
  TempDir dir;
  RunResult run = run_onpu({corpus_dir() + "/test-corrupt-file-missing-byte.mid", "circle"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, kMetaFailed + kMetaFailed);
  EXPECT_EQ(summary_note_count(run.out), 8);
}

TEST(Corpus, ModeBothWritesThreeFilesOrNone) {
  if (corpus_dir().empty()) GTEST_SKIP() << "the shared MIDI corpus is not in this checkout";
  for (const char* name : {"test-c-major-scale", "test-empty", "test-corrupt-file-missing-byte"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    RunResult run = run_onpu({corpus_dir() + "/" + name + ".mid", "both"}, dir.path());
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string base = name;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{base + "-circle.osu", base + "-slider-horizontal.osu",
                                                        base + "-slider-vertical.osu"}));
  }
  TempDir dir;
  RunResult run = run_onpu({corpus_dir() + "/test-not-a-midi-file.mid", "both"}, dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, kInvalidFile);
  EXPECT_TRUE(dir.entries().empty());
}

// --- Failure messages of a conversion run ---------------------------------

struct Failed {
  RunResult run;
  std::vector<std::string> entries;
};

// Runs onpu on bytes saved as song.mid in a fresh directory.
Failed run_on(const Bytes& midi) {
  TempDir dir;
  write_file(dir.file("song.mid"), midi);
  Failed failed;
  failed.run = run_onpu({"song.mid"}, dir.path());
  failed.entries = dir.entries();
  return failed;
}

const std::vector<std::string> kOnlyTheMidiFile = {"song.mid"};

TEST(ConversionFailure, NotAMidiFileIsInvalid) {
  Failed f = run_on({'R', 'I', 'F', 'F', 0, 0, 0, 4, 'W', 'A', 'V', 'E', 0, 0});
  EXPECT_EQ(f.run.status, 1);
  EXPECT_EQ(f.run.err, kInvalidFile);
  EXPECT_EQ(f.run.out.find("MIDIフォーマット"), std::string::npos);
  EXPECT_EQ(f.entries, kOnlyTheMidiFile);
}

TEST(ConversionFailure, DamagedTrackTagNamesTheTrack) {
  Failed f = run_on(Smf().header(1, 2, 480).track().end_of_track().chunk("\x01\x02\x03\x04").end_of_track().bytes());
  EXPECT_EQ(f.run.status, 1);
  EXPECT_EQ(f.run.err, "エラー: トラック 1 に無効なヘッダーがあります\n");
  EXPECT_EQ(f.entries, kOnlyTheMidiFile);
}

TEST(ConversionFailure, FileEndingInsideTrackIsReadFailure) {
  Failed f = run_on(Smf().header(0, 1, 480).track().note_on(0, 0, 60, 100).set_chunk_length(50).bytes());
  EXPECT_EQ(f.run.status, 1);
  EXPECT_EQ(f.run.err, kReadFailed);
  EXPECT_EQ(f.entries, kOnlyTheMidiFile);
}

TEST(ConversionFailure, CutMetaEventIsReportedAndTheSongConverts) {
  Failed f = run_on(Smf().header(0, 1, 480).track().note_on(0, 0, 60, 100).raw({0x00, 0xFF}).bytes());
  EXPECT_EQ(f.run.status, 0);
  EXPECT_EQ(f.run.err, kMetaFailed + kMetaFailed);
  EXPECT_EQ(summary_note_count(f.run.out), 1);
  EXPECT_EQ(f.entries, (std::vector<std::string>{"song.mid", "song.osu"}));
}

TEST(ConversionFailure, CutNoteOnIsReportedOnceAndTheSongConverts) {
  Failed f = run_on(Smf().header(0, 1, 480).track().note_on(0, 0, 60, 100).raw({0x00, 0x90, 0x3E}).bytes());
  EXPECT_EQ(f.run.status, 0);
  EXPECT_EQ(f.run.err, kNoteOnFailed);
  EXPECT_EQ(summary_note_count(f.run.out), 1);
  EXPECT_EQ(f.entries, (std::vector<std::string>{"song.mid", "song.osu"}));
}

}  // namespace
}  // namespace onpu::test
