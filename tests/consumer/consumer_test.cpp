// Beatmaps that onpu wrote, read back by a published .osu decoder (the npm
// package osu-parsers, run by tests/consumer/check_osu.mjs under Node.js).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "audio/osz_builder.h"
#include "audio/soundfont_locator.h"
#include "common/console.h"
#include "difficulty/star_rating.h"
#include "support/harness.h"
#include "support/played_piece.h"

namespace onpu {
namespace {

using test::Smf;

// With ONPU_REQUIRE_CONSUMER=1 (CI sets it) a missing node or npm package
// fails the test: a skipped consumer test would pass unseen.
bool consumer_required() {
  const char* value = std::getenv("ONPU_REQUIRE_CONSUMER");
  return value != nullptr && std::string(value) == "1";
}

// Skips the test for want of node or an npm package, or fails it when the
// consumer test is required. Returns from the calling function either way.
#define SKIP_WITHOUT_CONSUMER(why)                           \
  do {                                                       \
    if (consumer_required()) {                               \
      GTEST_FAIL() << (why) << " (ONPU_REQUIRE_CONSUMER=1)"; \
    }                                                        \
    GTEST_SKIP() << (why);                                   \
  } while (0)

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
  std::vector<int> keys;     // the sample file of each hit object, in time order
  std::string background{};  // the background picture's file; empty: not checked
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
    json += "]";
    if (!e.background.empty()) json += ",\"background\":" + json_string(e.background);
    json += "}";
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
      SKIP_WITHOUT_CONSUMER("node is not installed: the decoder check needs Node.js");
    if (!test::file_exists(source_dir() + "/tests/consumer/node_modules/osu-parsers/package.json")) {
      SKIP_WITHOUT_CONSUMER("osu-parsers is not installed: run npm ci --prefix tests/consumer");
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
  test::RunResult run = test::run_onpu({"set.mid", "--osz", "both", "--stars", "2"}, dir_.path());
  ASSERT_EQ(run.status, 0) << run.err;

  // Every map of the run, the thinned ones too.
  NodeRun listing = run_command("cd '" + dir_.path() + "' && unzip -Z1 set.osz");
  ASSERT_EQ(listing.status, 0) << listing.output;
  EXPECT_EQ(listing.output,
            "set-circle.osu\nset-slider-vertical.osu\nset-slider-horizontal.osu\nset-2.00stars.osu\nset.mp3\n"
            "background.png\npiano/60.mp3\npiano/64.mp3\n");
  const std::vector<int> keys = {60, 64, 60};
  std::vector<Expected> inside;
  for (const char* version : {"circle", "slider-vertical", "slider-horizontal"}) {
    const std::string name = std::string("set-") + version + ".osu";
    NodeRun extract =
        run_command("cd '" + dir_.path() + "' && mkdir -p x && unzip -p set.osz " + name + " > x/" + name);
    ASSERT_EQ(extract.status, 0) << extract.output;
    EXPECT_TRUE(test::read_file(dir_.file("x/" + name)) == test::read_file(dir_.file(name))) << name;
  }
  inside.push_back({dir_.file("x/set-circle.osu"), "set", "Circle Mode", 1, keys});
  inside.push_back({dir_.file("x/set-slider-vertical.osu"), "set", "Vertical Slider Mode", 1, keys});
  inside.push_back({dir_.file("x/set-slider-horizontal.osu"), "set", "Horizontal Slider Mode", 1, keys});
  // The map for play shows the set's picture as its background.
  inside.push_back({dir_.file("set-2.00stars.osu"), "set", "Normal 2.00★", 1, keys, "background.png"});
  expect_decoded(inside);
}

// The objects and the settings of a written beatmap, as the rating reads
// them. A slider takes the beat length of the last uninherited timing point
// at or before it (the first of several at one time, the first of all before
// it), as the game does, and the slider velocity of the last timing point
// at or before it: 100 / -its beat length for an inherited one, 1 for an
// uninherited one; the points come in time order.
void read_rated_map(const std::string& text, std::vector<RatedObject>* objects, RatingSettings* settings) {
  std::istringstream lines(text);
  std::string line;
  std::string section;
  std::vector<std::pair<double, double>> beats;       // time, beat length
  std::vector<std::pair<double, double>> velocities;  // time, slider velocity
  while (std::getline(lines, line)) {
    if (!line.empty() && line[0] == '[') {
      section = line;
      continue;
    }
    auto value = [&](const char* key) { return std::stod(line.substr(std::string(key).size())); };
    if (line.rfind("CircleSize:", 0) == 0) settings->circle_size = value("CircleSize:");
    if (line.rfind("OverallDifficulty:", 0) == 0) settings->overall_difficulty = value("OverallDifficulty:");
    if (line.rfind("ApproachRate:", 0) == 0) settings->approach_rate = value("ApproachRate:");
    if (line.rfind("SliderMultiplier:", 0) == 0) settings->slider_multiplier = value("SliderMultiplier:");
    if (line.rfind("SliderTickRate:", 0) == 0) settings->slider_tick_rate = value("SliderTickRate:");
    if (line.rfind("StackLeniency:", 0) == 0) settings->stack_leniency = value("StackLeniency:");
    if (line.empty()) continue;
    if (section == "[TimingPoints]") {
      double time = 0, beat = 0;
      int meter = 0, set = 0, index = 0, volume = 0, uninherited = 1;
      ASSERT_GE(std::sscanf(line.c_str(), "%lf,%lf,%d,%d,%d,%d,%d", &time, &beat, &meter, &set, &index, &volume,
                            &uninherited),
                2)
          << line;
      if (uninherited == 1) beats.emplace_back(time, beat);
      velocities.emplace_back(time, uninherited == 1 ? 1.0 : 100.0 / -beat);
    } else if (section == "[HitObjects]") {
      RatedObject object;
      int type = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "%d,%d,%d,%d", &object.x, &object.y, &object.time_ms, &type), 4) << line;
      if (type & 2) {
        const size_t path = line.find(",L|");
        ASSERT_NE(path, std::string::npos) << line;
        ASSERT_EQ(std::sscanf(line.c_str() + path, ",L|%d:%d,%d,%lf", &object.end_x, &object.end_y, &object.slides,
                              &object.length_px),
                  4)
            << line;
        ASSERT_FALSE(beats.empty()) << line;
        const std::pair<double, double>* in_force = &beats.front();
        for (const auto& beat : beats) {
          if (beat.first <= object.time_ms && beat.first > in_force->first) in_force = &beat;
        }
        object.beat_length_ms = in_force->second;
        for (const auto& velocity : velocities) {
          if (velocity.first <= object.time_ms) object.slider_velocity = velocity.second;
        }
      }
      objects->push_back(object);
    }
  }
}

// A map rated by the published calculation and by ours.
struct RatedPair {
  std::string path;
  double stars = 0, aim = 0, speed = 0;  // the reference's
  StarRating ours;
  std::vector<RatedObject> objects;
  RatingSettings settings;
};

// Rates the maps at paths (each quoted, space-separated) both ways, in the
// reference's order; each rating of ours within 0.01 of the reference's.
std::vector<RatedPair> rate_both_ways(const std::string& paths) {
  std::vector<RatedPair> pairs;
  NodeRun reference = run_command("node '" + source_dir() + "/tests/consumer/star_rating.mjs'" + paths);
  EXPECT_EQ(reference.status, 0) << reference.output;
  std::istringstream lines(reference.output);
  for (std::string line; std::getline(lines, line);) {
    RatedPair pair;
    std::istringstream fields(line);
    fields >> pair.stars >> pair.aim >> pair.speed >> pair.path;
    read_rated_map(test::read_file(pair.path), &pair.objects, &pair.settings);
    pair.ours = rate_objects(pair.objects, pair.settings);
    EXPECT_NEAR(pair.ours.stars, pair.stars, 0.01) << pair.path;
    EXPECT_NEAR(pair.ours.aim, pair.aim, 0.01) << pair.path;
    EXPECT_NEAR(pair.ours.speed, pair.speed, 0.01) << pair.path;
    pairs.push_back(std::move(pair));
  }
  return pairs;
}

TEST_F(OsuDecoder, StarRatingsAgreeWithThePublishedCalculation) {
  if (!test::file_exists(source_dir() + "/tests/consumer/node_modules/osu-standard-stable/package.json")) {
    SKIP_WITHOUT_CONSUMER("osu-standard-stable is not installed: run npm ci --prefix tests/consumer");
  }
  // Played pieces of several tempos, a quantised one with drums, a fast
  // stream of wide jumps, stacked chords and held notes; each laid out for
  // play at a spread of ratings in every band, and the full maps of every
  // mode at circle size 16.
  struct Song {
    const char* name;
    test::Bytes midi;
  };
  Smf jumps;
  jumps.header(0, 1, 480).track().tempo(0, 300000);
  for (int i = 0; i < 400; ++i) jumps.note_on(i == 0 ? 0 : 60, i % 3, (i * 37) % 96 + 16, 40 + (i * 13) % 87);
  Smf stacks;
  stacks.header(0, 1, 480).track();
  for (int i = 0; i < 120; ++i) {
    stacks.note_on(i == 0 ? 0 : 240, 0, 60, 100).note_on(0, 0, 60, 90).note_on(0, 0, 64 + i % 5, 80);
  }
  // Two bursts with twelve silent minutes between them.
  Smf silence;
  silence.header(0, 1, 500).track();
  for (int i = 0; i < 600; ++i) silence.note_on(i == 0 ? 0 : i == 300 ? 720000 : 90, 0, 50 + i % 30, 100);
  // A melody of held notes: the maps for play have sliders.
  Smf held;
  held.header(0, 1, 480).track().tempo(0, 540000);
  for (int i = 0; i < 300; ++i) {
    const int key = 60 + (i * 7) % 12 + (i / 24) % 3 * 5;
    held.note_on(i == 0 ? 0 : 20 + (i % 5 == 0 ? 480 : 0), 0, key, 70 + i % 40).note_off(i % 3 == 0 ? 460 : 220, 0, key);
  }
  const std::vector<Song> songs = {
      {"held.mid", held.end_of_track().bytes()},
      {"played.mid", test::played_piece({1, 48, 600000, true, false})},
      {"slow.mid", test::played_piece({2, 24, 1000000, true, false})},
      {"quantised.mid", test::played_piece({3, 40, 468750, false, true})},
      {"jumps.mid", jumps.end_of_track().bytes()},
      {"stacks.mid", stacks.end_of_track().bytes()},
      {"silence.mid", silence.end_of_track().bytes()},
  };
  std::vector<std::string> printed;  // the lines of the thinned maps
  for (const Song& song : songs) {
    test::write_file(dir_.file(song.name), song.midi);
    test::RunResult run = test::run_onpu({song.name, "both", "--stars", "0.8,2.3,3.4,4.7,5.9,8"}, dir_.path());
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream out(run.out);
    for (std::string line; std::getline(out, line);) {
      if (line.rfind("難易度 ", 0) == 0) printed.push_back(line);
    }
  }
  ASSERT_EQ(printed.size(), songs.size() * 6);

  std::string paths;
  for (const std::string& name : dir_.entries()) {
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".osu") == 0) paths += " '" + dir_.file(name) + "'";
  }
  double worst = 0.0;
  int maps = 0;
  for (const RatedPair& pair : rate_both_ways(paths)) {
    const std::string& path = pair.path;
    const double stars = pair.stars;
    worst = std::max(worst, std::fabs(pair.ours.stars - stars));
    ++maps;

    // The rating printed for a thinned map is the reference's, rounded.
    const std::string name = path.substr(path.rfind('/') + 1);
    for (const std::string& said : printed) {
      const size_t at = said.find(": " + name + " → ");
      if (at == std::string::npos) continue;
      EXPECT_NEAR(std::stod(said.substr(at + name.size() + 2 + 5)), stars, 0.0051) << said;
    }
  }
  EXPECT_EQ(maps, static_cast<int>(songs.size()) * (3 + 6));
  std::printf("%d maps, largest difference from the reference: %.3g stars\n", maps, worst);
}

// A beatmap of circles and sliders: its settings and a pattern of objects.
struct SliderCase {
  const char* name;
  double circle_size, overall_difficulty, approach_rate, stack_leniency;
  std::vector<std::pair<int, double>> tempo;  // the object where a beat length (ms) starts, ascending
  int count;                                  // objects
  int gap_ms;                                 // from one object's end to the next object
  int slider_every;                           // every slider_every-th object is a slider
  std::vector<double> lengths_px;             // of the sliders in turn
  std::vector<int> slides;                    // of the sliders in turn
  bool onto_ends = false;                     // each object starts where the object before ends
};

// The beatmap text of a case, with the header the program writes.
std::string slider_map(const SliderCase& c) {
  std::string timing;
  std::string objects;
  double beat_ms = 0;
  int time = 0;
  int x = 64, y = 64;
  size_t tempo = 0, slider = 0;
  for (int i = 0; i < c.count; ++i) {
    for (; tempo < c.tempo.size() && c.tempo[tempo].first == i; ++tempo) {
      beat_ms = c.tempo[tempo].second;
      timing += format("%d,%.6f,4,1,0,100,1,0\n", time, beat_ms);
    }
    int next_x = 40 + (i * 137) % 420, next_y = 40 + (i * 89) % 300;
    int duration_ms = 0;
    if (i % c.slider_every == 0) {
      const double length = c.lengths_px[slider % c.lengths_px.size()];
      const int slides = c.slides[slider % c.slides.size()];
      const int way = slider++ % 4 < 2 ? 1 : -1;
      // Straight across at the slider's length, or askew and cut or extended.
      const int end_x = x + way * (c.onto_ends ? static_cast<int>(length) : 90);
      const int end_y = c.onto_ends ? y : y + (i % 3 == 0 ? 50 : -40);
      objects +=
          format("%d,%d,%d,2,0,L|%d:%d,%d,%.2f,0|0,0:0|0:0,0:0:0:0:\n", x, y, time, end_x, end_y, slides, length);
      duration_ms = static_cast<int>(std::ceil(slides * length / (140 / beat_ms)));
      if (c.onto_ends && slides % 2 == 1) next_x = end_x, next_y = end_y;
      if (c.onto_ends && slides % 2 == 0) next_x = x, next_y = y;
    } else {
      objects += format("%d,%d,%d,1,0,0:0:0:0:\n", x, y, time);
      if (c.onto_ends) next_x = x, next_y = y;
    }
    time += duration_ms + c.gap_ms;
    x = next_x, y = next_y;
  }
  const std::string header = format(
      "\xEF\xBB\xBFosu file format v14\n\n"
      "[General]\nAudioFilename: %s.mp3\nAudioLeadIn: 0\nPreviewTime: -1\nCountdown: 0\nSampleSet: Normal\n"
      "StackLeniency: %g\nMode: 0\nLetterboxInBreaks: 0\nWidescreenStoryboard: 0\n\n"
      "[Editor]\nDistanceSpacing: 1\nBeatDivisor: 4\nGridSize: 32\nTimelineZoom: 1\n\n"
      "[Metadata]\nTitle:%s\nTitleUnicode:%s\nArtist:Unknown\nArtistUnicode:Unknown\nCreator:MIDI Converter\n"
      "Version:Slider Mode\nSource:MIDI\nTags:midi converted\nBeatmapID:0\nBeatmapSetID:-1\n\n"
      "[Difficulty]\nHPDrainRate:5\nCircleSize:%g\nOverallDifficulty:%g\nApproachRate:%g\n"
      "SliderMultiplier:1.4\nSliderTickRate:1\n\n"
      "[Events]\n//Background and Video events\n//Break Periods\n\n"
      "[TimingPoints]\n",
      c.name, c.stack_leniency, c.name, c.name, c.circle_size, c.overall_difficulty, c.approach_rate);
  return header + timing + "\n[HitObjects]\n" + objects;
}

TEST_F(OsuDecoder, SliderRatingsAgreeWithThePublishedCalculation) {
  if (!test::file_exists(source_dir() + "/tests/consumer/node_modules/osu-standard-stable/package.json")) {
    SKIP_WITHOUT_CONSUMER("osu-standard-stable is not installed: run npm ci --prefix tests/consumer");
  }
  // Short and long sliders with repeats: at 500 ms a beat a tick comes every
  // 140 px (500 ms), so 139.99 px has none and 150 px has one after the last
  // tick 36 ms before the end. Sliders where the tempo changes (of two beat
  // lengths at one time the first holds); a fast stream of sliders at circle
  // size 7; big circles and slow sliders; circles and sliders stacked on
  // slider ends at a stacking leniency of 0.7.
  // clang-format off
  const std::vector<SliderCase> cases = {
      {"lengths", 4, 8, 9, 0, {{0, 500}}, 120, 150, 2, {12.5, 70, 139.99, 140, 141.37, 150, 280, 333.33, 600},
       {1, 2, 1, 3, 5}},
      {"tempo", 5, 6, 7, 0, {{0, 600}, {10, 250.123457}, {10, 400}, {25, 1000}, {40, 333.333333}}, 80, 110, 2,
       {100, 210.5, 35}, {1, 2}},
      {"stream", 7, 10, 10, 0, {{0, 300}}, 300, 40, 1, {30, 90, 20}, {1, 1, 2}},
      {"big", 2, 3, 5, 0, {{0, 1000}}, 60, 400, 3, {200, 450, 100}, {2, 1, 4}},
      {"stacked", 4.5, 9, 9.5, 0.7, {{0, 400}}, 90, 60, 2, {120, 84}, {1, 2}, true},
  };
  // clang-format on
  std::string paths;
  for (const SliderCase& c : cases) {
    test::write_file(dir_.file(std::string(c.name) + ".osu"), slider_map(c));
    paths += " '" + dir_.file(std::string(c.name) + ".osu") + "'";
  }
  double worst = 0.0;
  int maps = 0;
  for (const RatedPair& pair : rate_both_ways(paths)) {
    ++maps;
    worst = std::max({worst, std::fabs(pair.ours.stars - pair.stars), std::fabs(pair.ours.aim - pair.aim),
                      std::fabs(pair.ours.speed - pair.speed)});
    // The sliders count: the same objects as circles rate otherwise.
    std::vector<RatedCircle> circles;
    for (const RatedObject& o : pair.objects) circles.push_back(RatedCircle{o.x, o.y, o.time_ms});
    EXPECT_GT(std::fabs(rate_circles(circles, pair.settings).stars - pair.stars), 0.05) << pair.path;
  }
  EXPECT_EQ(maps, static_cast<int>(cases.size()));
  std::printf("%d maps with sliders, largest difference from the reference: %.3g stars\n", maps, worst);
  // The two do the same operations in the same precision; only the last
  // bits of their elementary functions differ.
  EXPECT_LT(worst, 1e-9);
}

}  // namespace
}  // namespace onpu
