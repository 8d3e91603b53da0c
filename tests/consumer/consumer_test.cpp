// Beatmaps that onpu wrote, read back by a published .osu decoder (the npm
// package osu-parsers, run by tests/consumer/check_osu.mjs under Node.js).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "audio/osz_builder.h"
#include "audio/soundfont_locator.h"
#include "support/harness.h"

namespace onpu {
namespace {

using test::Smf;

std::string source_dir() {
#ifdef ONPU_SOURCE_DIR
  return ONPU_SOURCE_DIR;
#else
  // The corpus is found beside the checkout: <source>/../shared/corpus/...
  const std::string corpus = ONPU_CORPUS_DIR;
  const std::string tail = "/../shared/corpus/smf-test-files";
  return corpus.size() > tail.size() && corpus.compare(corpus.size() - tail.size(), tail.size(), tail) == 0
             ? corpus.substr(0, corpus.size() - tail.size())
             : std::string();
#endif
}

struct Expected {
  std::string path;
  std::string title;
  std::string version;
  int timing_points = 0;
  std::vector<int> keys;  // the sample file of each hit object, in time order
};

std::string json_string(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string to_json(const std::vector<Expected>& beatmaps) {
  std::string json = "[";
  for (const Expected& e : beatmaps) {
    if (json.size() > 1) json += ",\n";
    json += "{\"path\":" + json_string(e.path) + ",\"title\":" + json_string(e.title) +
            ",\"version\":" + json_string(e.version) + ",\"timingPoints\":" + std::to_string(e.timing_points) +
            ",\"samples\":[";
    for (size_t i = 0; i < e.keys.size(); ++i) {
      json += (i ? ",\"piano/" : "\"piano/") + std::to_string(e.keys[i]) + ".mp3\"";
    }
    json += "]}";
  }
  return json + "]\n";
}

struct NodeRun {
  int status = -1;
  std::string output;
};

NodeRun run_command(const std::string& command) {
  NodeRun run;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class OsuDecoder : public ::testing::Test {
 protected:
  void SetUp() override {
    script_ = source_dir() + "/tests/consumer/check_osu.mjs";
    if (run_command("node --version").status != 0)
      GTEST_SKIP() << "node is not installed: the decoder check needs Node.js";
    if (!test::file_exists(source_dir() + "/tests/consumer/node_modules/osu-parsers/package.json")) {
      GTEST_SKIP() << "osu-parsers is not installed: run npm ci --prefix tests/consumer";
    }
  }

  void convert(const std::string& midi_name, const test::Bytes& midi, const std::string& mode = "") {
    test::write_file(dir_.file(midi_name), midi);
    std::vector<std::string> args = {midi_name};
    if (!mode.empty()) args.push_back(mode);
    test::RunResult run = test::run_onpu(args, dir_.path());
    ASSERT_EQ(run.status, 0) << run.err;
  }

  // Runs the decoder over the beatmaps; its report is the message.
  void expect_decoded(const std::vector<Expected>& beatmaps) {
    test::write_file(dir_.file("expected.json"), to_json(beatmaps));
    NodeRun run = run_command("node '" + script_ + "' '" + dir_.file("expected.json") + "'");
    EXPECT_EQ(run.status, 0) << run.output;
    for (const Expected& e : beatmaps)
      EXPECT_NE(run.output.find("ok " + e.path + ":"), std::string::npos) << run.output;
  }

  test::TempDir dir_;
  std::string script_;
};

TEST_F(OsuDecoder, ReadsTheThreeBeatmapsOfModeBoth) {
  // Times: key 60 at 0 ms, 55 at 500, 64 and 67 both at 1000 (track 1 first).
  ASSERT_NO_FATAL_FAILURE(convert("duet.mid",
                                  Smf()
                                      .header(1, 3, 480)
                                      .track()
                                      .tempo(0, 500000)
                                      .tempo(960, 750000)
                                      .end_of_track()
                                      .track()
                                      .note_on(0, 0, 60, 100)
                                      .note_on(960, 0, 64, 100)
                                      .end_of_track(480)
                                      .track()
                                      .note_on(480, 1, 55, 100)
                                      .note_on(480, 1, 67, 100)
                                      .end_of_track()
                                      .bytes(),
                                  "both"));
  const std::vector<int> keys = {60, 55, 64, 67};
  expect_decoded({{dir_.file("duet-circle.osu"), "duet", "Circle Mode", 2, keys},
                  {dir_.file("duet-slider-vertical.osu"), "duet", "Vertical Slider Mode", 2, keys},
                  {dir_.file("duet-slider-horizontal.osu"), "duet", "Horizontal Slider Mode", 2, keys}});
}

TEST_F(OsuDecoder, ReadsALongTwoTrackSongWrittenInTimeOrder) {
  // One tick is one millisecond. Track 0: key 60 every 10 ms from 0 to 7990;
  // track 1: key 72 every 5 ms from 0 to 3995.
  Smf smf;
  smf.header(1, 2, 500).track();
  for (int i = 0; i < 800; ++i) smf.note_on(i == 0 ? 0 : 10, 0, 60, 100);
  smf.end_of_track().track();
  for (int i = 0; i < 800; ++i) smf.note_on(i == 0 ? 0 : 5, 1, 72, 100);
  ASSERT_NO_FATAL_FAILURE(convert("long.mid", smf.end_of_track().bytes(), "slider-horizontal"));
  // Below 4000 ms each 10 ms hold 60 and 72 together, then 72 alone.
  std::vector<int> keys;
  for (int i = 0; i < 400; ++i) keys.insert(keys.end(), {60, 72, 72});
  for (int i = 0; i < 400; ++i) keys.push_back(60);
  expect_decoded({{dir_.file("long.osu"), "long", "Horizontal Slider Mode", 1, keys}});
}

TEST_F(OsuDecoder, ReadsABeatmapWithoutNotesAndAJapaneseTitle) {
  const std::string name = "\xE5\xA4\x9C\xE3\x81\xAE\xE6\x9B\xB2";  // 夜の曲
  ASSERT_NO_FATAL_FAILURE(
      convert(name + ".mid", Smf().header(0, 1, 480).track().note_on(0, 0, 60, 20).end_of_track(960).bytes()));
  expect_decoded({{dir_.file(name + ".osu"), name, "Circle Mode", 1, {}}});
}

TEST_F(OsuDecoder, ReadsTheBeatmapsInsideTheOszArchive) {
  std::string soundfont;
  std::string why;
  if (!audio::audio_supported()) GTEST_SKIP() << "this build has no audio support for --osz";
  if (!audio::find_default_soundfont("", &soundfont, &why)) GTEST_SKIP() << why;
  if (run_command("unzip -v").status != 0) GTEST_SKIP() << "unzip is not installed";

  // Key 60 at 0 ms, 64 at 500 ms (channel 1), 60 again at 1000 ms.
  test::Bytes midi = Smf()
                         .header(0, 1, 480)
                         .track()
                         .note_on(0, 0, 60, 100)
                         .note_on(480, 1, 64, 90)
                         .note_on(480, 0, 60, 80)
                         .end_of_track()
                         .bytes();
  test::write_file(dir_.file("set.mid"), midi);
  test::RunResult run = test::run_onpu({"set.mid", "--osz", "both"}, dir_.path());
  ASSERT_EQ(run.status, 0) << run.err;

  NodeRun listing = run_command("cd '" + dir_.path() + "' && unzip -Z1 set.osz");
  ASSERT_EQ(listing.status, 0) << listing.output;
  EXPECT_EQ(listing.output,
            "set-circle.osu\nset-slider-vertical.osu\nset-slider-horizontal.osu\nset.mp3\npiano/60.mp3\n"
            "piano/64.mp3\n");
  const std::vector<int> keys = {60, 64, 60};
  std::vector<Expected> inside;
  for (const char* version : {"circle", "slider-vertical", "slider-horizontal"}) {
    const std::string name = std::string("set-") + version + ".osu";
    NodeRun extract = run_command("cd '" + dir_.path() + "' && mkdir -p x && unzip -p set.osz " + name + " > x/" + name);
    ASSERT_EQ(extract.status, 0) << extract.output;
    EXPECT_TRUE(test::read_file(dir_.file("x/" + name)) == test::read_file(dir_.file(name))) << name;
  }
  inside.push_back({dir_.file("x/set-circle.osu"), "set", "Circle Mode", 1, keys});
  inside.push_back({dir_.file("x/set-slider-vertical.osu"), "set", "Vertical Slider Mode", 1, keys});
  inside.push_back({dir_.file("x/set-slider-horizontal.osu"), "set", "Horizontal Slider Mode", 1, keys});
  expect_decoded(inside);
}

}  // namespace
}  // namespace onpu
