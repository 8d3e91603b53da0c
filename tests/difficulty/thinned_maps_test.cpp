// Maps thinned to a star rating (--stars), end to end: what they keep of the
// full map, their headers, their console lines, and the lists refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/star_targets.h"
#include "support/harness.h"
#include "support/played_piece.h"
#include "support/synthetic_performance.h"

namespace onpu {
namespace {

using test::Bytes;
using test::TempDir;

struct Line {
  int x = 0, y = 0, time = 0, type = 0;
  int key = 0;
  int volume = 0;      // of a circle; a slider's comes from its timing points
  int slides = 0;      // 0: a circle
  double length = 0;   // of a slider
};

std::vector<Line> hit_objects(const std::string& osu) {
  std::vector<Line> lines;
  std::istringstream text(test::hit_object_lines(osu));
  for (std::string row; std::getline(text, row);) {
    Line line;
    EXPECT_EQ(std::sscanf(row.c_str(), "%d,%d,%d,%d", &line.x, &line.y, &line.time, &line.type), 4) << row;
    if (line.type & 2) {
      int end_x = 0, end_y = 0;
      const size_t curve = row.find(",L|");
      EXPECT_EQ(std::sscanf(row.c_str() + curve, ",L|%d:%d,%d,%lf", &end_x, &end_y, &line.slides, &line.length), 4)
          << row;
    }
    const size_t sample = row.rfind(":piano/");
    line.key = std::stoi(row.substr(sample + 7));
    line.volume = std::stoi(row.substr(row.rfind(':', sample - 1) + 1));
    lines.push_back(line);
  }
  return lines;
}

std::string header_value(const std::string& osu, const std::string& key) {
  const size_t at = osu.find("\n" + key + ":");
  if (at == std::string::npos) return "(none)";
  const size_t start = at + key.size() + 2;
  return osu.substr(start, osu.find('\n', start) - start);
}

// The uninherited timing points of a map.
std::string uninherited_points(const std::string& osu) {
  const size_t start = osu.find("[TimingPoints]");
  std::istringstream lines(osu.substr(start, osu.find("[Colours]") - start));
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    int uninherited = 1;
    std::sscanf(line.c_str(), "%*[^,],%*[^,],%*[^,],%*[^,],%*[^,],%*[^,],%d", &uninherited);
    if (uninherited == 1) kept += line + "\n";
  }
  return kept;
}

// The rating printed for a thinned map's file, and whether it topped out.
bool printed_rating(const std::string& out, double target, const std::string& name, double* stars, bool* top) {
  char head[64];
  std::snprintf(head, sizeof head, "難易度 %.2f★: ", target);
  const std::string prefix = head + name + " → ";
  const size_t at = out.find(prefix);
  if (at == std::string::npos) return false;
  const size_t end = out.find('\n', at);
  const std::string rest = out.substr(at + prefix.size(), end - at - prefix.size());
  *stars = std::stod(rest);
  *top = rest.find(" (この曲の最高)") != std::string::npos;
  char expected[64];
  std::snprintf(expected, sizeof expected, "%.2f★%s", *stars, *top ? " (この曲の最高)" : "");
  EXPECT_EQ(rest, expected);
  return true;
}

// Whatever the song: every object plays a note of the full map (its time,
// key and, for a circle, volume), no two are closer than 10 ms, and every
// object lies on the playfield.
void expect_drawn_from(const std::vector<Line>& full, const std::vector<Line>& thinned, const std::string& what) {
  std::multimap<int, const Line*> by_time;
  for (const Line& line : full) by_time.emplace(line.time, &line);
  for (size_t i = 0; i < thinned.size(); ++i) {
    const Line& line = thinned[i];
    auto [from, to] = by_time.equal_range(line.time);
    EXPECT_TRUE(std::any_of(from, to,
                            [&](const auto& entry) {
                              return entry.second->key == line.key &&
                                     (line.slides > 0 || entry.second->volume == line.volume);
                            }))
        << what << ": no such note in the full map at " << line.time << " ms";
    EXPECT_TRUE(line.x >= 0 && line.x <= 512 && line.y >= 0 && line.y <= 384) << what << " at " << line.time;
    if (i > 0) {
      EXPECT_GE(line.time - thinned[i - 1].time, 10) << what;
    }
  }
}

const char* const kModes[] = {"circle", "slider-vertical", "slider-horizontal"};

TEST(ThinnedMaps, KeepTheTopVoiceOfEachMomentAtTheRatingAskedFor) {
  TempDir dir;
  test::write_file(dir.file("piece.mid"), test::played_piece({5, 64, 600000, true, true}));
  test::RunResult run = test::run_onpu({"piece.mid", "both", "--stars", "1.5,3.2,4.1,9.5"}, dir.path());
  ASSERT_EQ(run.status, 0) << run.err;
  // The maps for play are the same in every mode: one per target.
  TempDir circle_dir;
  test::write_file(circle_dir.file("piece.mid"), test::played_piece({5, 64, 600000, true, true}));
  test::RunResult circle_run = test::run_onpu({"piece.mid", "--stars", "1.5,3.2,4.1,9.5"}, circle_dir.path());
  ASSERT_EQ(circle_run.status, 0) << circle_run.err;
  EXPECT_EQ(dir.entries(), (std::vector<std::string>{"piece-1.50stars.osu", "piece-3.20stars.osu", "piece-4.10stars.osu",
                                                      "piece-9.50stars.osu", "piece-circle.osu",
                                                      "piece-slider-horizontal.osu", "piece-slider-vertical.osu",
                                                      "piece.mid"}));

  struct Band {
    double target;
    const char* name;
    const char* hp;
    const char* cs;
    const char* od;
    const char* ar;
  };
  const Band bands[] = {{1.5, "Easy", "3", "3", "3", "5"},
                        {3.2, "Hard", "5", "4", "6", "7.5"},
                        {4.1, "Insane", "5.5", "4", "7.5", "8.8"},
                        {9.5, "Expert+", "6", "4.5", "9", "9.7"}};
  const std::string full_text = test::read_file(dir.file("piece-circle.osu"));
  const std::vector<Line> full = hit_objects(full_text);
  for (const Band& band : bands) {
    char name[96];
    std::snprintf(name, sizeof name, "piece-%.2fstars.osu", band.target);
    SCOPED_TRACE(name);
    const std::string text = test::read_file(dir.file(name));
    EXPECT_TRUE(text == test::read_file(circle_dir.file(name)));
    const std::vector<Line> thinned = hit_objects(text);
    expect_drawn_from(full, thinned, name);

    double stars = 0;
    bool top = false;
    ASSERT_TRUE(printed_rating(run.out, band.target, name, &stars, &top)) << run.out;
    if (band.target < 9) {
      EXPECT_FALSE(top);
      EXPECT_NEAR(stars, band.target, 0.1);
    } else {
      EXPECT_TRUE(top);  // the piece tops out near 5 stars
      EXPECT_LT(stars, band.target);
    }
    char version[96];
    std::snprintf(version, sizeof version, "%s %.2f★", band.name, band.target);
    EXPECT_EQ(header_value(text, "Version"), version);
    EXPECT_EQ(header_value(text, "HPDrainRate"), band.hp);
    EXPECT_EQ(header_value(text, "CircleSize"), band.cs);
    EXPECT_EQ(header_value(text, "OverallDifficulty"), band.od);
    EXPECT_EQ(header_value(text, "ApproachRate"), band.ar);
    // The song's own timing points; the sliders add their volume points.
    EXPECT_EQ(uninherited_points(text), uninherited_points(full_text));
    EXPECT_EQ(header_value(text, "Title"), "piece");
    EXPECT_EQ(header_value(text, "StackLeniency"), header_value(full_text, "StackLeniency"));

    // The top voice: the chords of this piece roll over at most 20 ms
    // around their beat, and moments lie 120 ms apart or more.
    for (const Line& kept : thinned) {
      for (const Line& other : full) {
        if (std::abs(other.time - kept.time) < 40 && other.y != 220 /* drums */) {
          EXPECT_LE(other.key, kept.key) << "at " << kept.time << " ms";
        }
      }
    }

    if (top) continue;
    // No long silence while the song plays on: a gap between objects is the
    // music's own, or at most a few seconds longer (a held note's slider
    // counts as playing).
    for (size_t i = 1; i < thinned.size(); ++i) {
      int longest_rest = 0;
      int previous = thinned[i - 1].time;
      for (const Line& line : full) {
        if (line.time > thinned[i - 1].time && line.time <= thinned[i].time) {
          longest_rest = std::max(longest_rest, line.time - previous);
          previous = line.time;
        }
      }
      EXPECT_LE(thinned[i].time - thinned[i - 1].time - longest_rest, 3000) << "after " << thinned[i - 1].time;
    }
    // No burst far denser than the rest: per 2 seconds at most about
    // twice the objects of the densest stretch of the music's own pace.
    std::map<int, int> per_window;
    for (const Line& line : thinned) ++per_window[line.time / 2000];
    std::vector<int> counts;
    for (const auto& [window, count] : per_window) counts.push_back(count);
    std::sort(counts.begin(), counts.end());
    EXPECT_LE(counts.back(), 3 * counts[counts.size() / 2] + 2);
  }
}

// When each object of a map ends, as the game times it: a slider by the
// SliderMultiplier, the beat of the uninherited timing point in force at its
// head and the velocity of the last timing point there (100 / -its beat
// length when inherited, 1 when not). ball_speeds gets each slider's speed,
// px/ms.
std::vector<double> object_ends(const std::string& osu, std::vector<double>* ball_speeds) {
  const double multiplier = std::stod(header_value(osu, "SliderMultiplier"));
  struct Point {
    double time, length;
    int uninherited;
  };
  std::vector<Point> points;
  const size_t start = osu.find("[TimingPoints]");
  std::istringstream lines(osu.substr(start, osu.find("[Colours]") - start));
  for (std::string line; std::getline(lines, line);) {
    Point p{0, 0, 1};
    if (std::sscanf(line.c_str(), "%lf,%lf,%*d,%*d,%*d,%*d,%d", &p.time, &p.length, &p.uninherited) == 3) {
      points.push_back(p);
    }
  }
  std::vector<double> ends;
  for (const Line& object : hit_objects(osu)) {
    if (object.slides == 0) {
      ends.push_back(object.time);
      continue;
    }
    // Before the first uninherited point, the game takes that one's beat.
    double beat = 0, velocity = 1;
    for (const Point& p : points) {
      if (p.uninherited == 1 && beat == 0) beat = p.length;
    }
    double beat_time = -1e18;
    for (const Point& p : points) {
      if (p.time > object.time) break;
      // Of two uninherited points in one millisecond, the first counts.
      if (p.uninherited == 1 && p.time > beat_time) {
        beat = p.length;
        beat_time = p.time;
      }
      velocity = p.uninherited == 1 ? 1.0 : 100.0 / -p.length;
    }
    const double speed = 100.0 * multiplier * velocity / beat;
    ball_speeds->push_back(speed);
    ends.push_back(object.time + object.slides * object.length / speed);
  }
  return ends;
}

// The longest time between two notes of a full map.
int longest_rest_ms(const std::vector<Line>& full) {
  int longest = 0;
  for (size_t i = 1; i < full.size(); ++i) longest = std::max(longest, full[i].time - full[i - 1].time);
  return longest;
}

// A melody at bpm in 4/4 (division 480): notes every step ticks held for
// 90 % of it, moving by step; from each measure in bursts on, two measures
// of loud thirty-second notes.
Bytes melody_song(int bpm, int measures, int step, const std::vector<int>& bursts = {}) {
  std::vector<test::NoteEvent> events;
  static const int kMoves[] = {2, 2, 1, -3, 2, -1, -2, 4, -2, -1, 3, -5};
  int key = 67;
  for (int measure = 0, i = 0; measure < measures; ++measure) {
    const bool burst =
        std::any_of(bursts.begin(), bursts.end(), [&](int b) { return measure == b || measure == b + 1; });
    const int this_step = burst ? 60 : step;
    for (int tick = 0; tick < 1920; tick += this_step, ++i) {
      const uint64_t at = static_cast<uint64_t>(measure) * 1920 + tick;
      key = std::clamp(key + kMoves[i % 12], 55, 84);
      events.push_back({at, 0, key, burst ? 120 : (tick == 0 ? 96 : 80)});
      events.push_back({at + this_step * 9 / 10, 0, key, 0});
    }
  }
  return test::Smf()
      .header(0, 1, 480)
      .track()
      .tempo(0, static_cast<uint32_t>(60000000 / bpm))
      .notes(events)
      .end_of_track()
      .bytes();
}

TEST(ThinnedMaps, EveryBandFollowsTheWholeSongWithSlidersAtItsSpeed) {
  struct Song {
    const char* name;
    Bytes midi;
  };
  const std::vector<Song> songs = {
      {"calm with four bursts", melody_song(100, 96, 480, {20, 44, 68, 88})},
      {"200 BPM", melody_song(200, 120, 240)},
      {"20 minutes", melody_song(120, 600, 480)},
      {"played with rubato",
       test::performance_midi(test::synthetic_performance(test::PerformanceKind::kNocturne, 3, 48))},
  };
  // The fastest a slider's ball may move, px/ms, from Easy up.
  const double kFastestBall[] = {0.30, 0.38, 0.55};
  const double targets[] = {1.5, 2.3, 3.3};
  for (const Song& song : songs) {
    SCOPED_TRACE(song.name);
    TempDir dir;
    test::write_file(dir.file("song.mid"), song.midi);
    test::RunResult run = test::run_onpu({"song.mid", "--stars", "1.5,2.3,3.3"}, dir.path());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Line> full = hit_objects(test::read_file(dir.file("song.osu")));
    const int own_rest = longest_rest_ms(full);
    for (int band = 0; band < 3; ++band) {
      char name[64];
      std::snprintf(name, sizeof name, "song-%.2fstars.osu", targets[band]);
      SCOPED_TRACE(name);
      const std::string text = test::read_file(dir.file(name));
      const std::vector<Line> objects = hit_objects(text);
      std::vector<double> speeds;
      const std::vector<double> ends = object_ends(text, &speeds);
      ASSERT_EQ(ends.size(), objects.size());
      // From the song's first note to its last, never silent for longer
      // than the song's own longest rest and 2 s; no slider runs into the
      // next object.
      EXPECT_LE(objects.front().time - full.front().time, 2000);
      EXPECT_LE(full.back().time - objects.back().time, 2000);
      for (size_t i = 1; i < objects.size(); ++i) {
        EXPECT_LE(objects[i].time - ends[i - 1], own_rest + 2000.0) << "at " << objects[i].time;
        EXPECT_GE(objects[i].time - ends[i - 1], 10.0) << "at " << objects[i].time;
      }
      for (double speed : speeds) EXPECT_LE(speed, kFastestBall[band] + 1e-9);
      double stars = 0;
      bool top = false;
      ASSERT_TRUE(printed_rating(run.out, targets[band], name, &stars, &top)) << run.out;
      if (!top) {
        EXPECT_NEAR(stars, targets[band], 0.1);
      }

      const double minutes = (objects.back().time - objects.front().time) / 60000.0;
      if (std::string(song.name) == "200 BPM" && band == 0) {
        // Easy's sliders slow down: at 0.47 px/ms (velocity 1) they would be
        // faster than Easy allows.
        EXPECT_FALSE(speeds.empty());
        EXPECT_GE(objects.size() / minutes, 50.0);
      }
      if (std::string(song.name) == "calm with four bursts" && band == 0) {
        // The calm parts keep Easy's density, bursts or not: a thinned burst
        // does not take the rating from them.
        int calm = 0;
        for (const Line& object : objects) calm += object.time < 20 * 2400 ? 1 : 0;
        EXPECT_GE(calm, 40) << "objects in the first 48 calm seconds";
      }
    }
  }
}

TEST(ThinnedMaps, CorpusFilesKeepNotesOfTheFullMap) {
  const std::string corpus = test::corpus_dir();
  if (corpus.empty()) GTEST_SKIP() << "no shared MIDI corpus beside this checkout (../shared/corpus)";
  int converted = 0;
  for (const std::string& name : test::directory_entries(corpus)) {
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".mid") != 0) continue;
    SCOPED_TRACE(name);
    TempDir dir;
    test::write_file(dir.file("song.mid"), test::read_file(corpus + "/" + name));
    test::RunResult run = test::run_onpu({"song.mid", "both", "--stars", "1,3.33"}, dir.path());
    if (run.status != 0) {
      // A damaged file that the conversion refuses leaves no map at all.
      EXPECT_EQ(dir.entries(), std::vector<std::string>{"song.mid"});
      continue;
    }
    ++converted;
    const std::vector<Line> full = hit_objects(test::read_file(dir.file("song-circle.osu")));
    for (double target : {1.0, 3.33}) {
      char file[64];
      std::snprintf(file, sizeof file, "song-%.2fstars.osu", target);
      const std::string text = test::read_file(dir.file(file));
      const std::vector<Line> objects = hit_objects(text);
      expect_drawn_from(full, objects, file);
      // Never silent for longer than the song's own longest rest and 2 s.
      std::vector<double> speeds;
      const std::vector<double> ends = object_ends(text, &speeds);
      for (size_t i = 1; i < objects.size(); ++i) {
        EXPECT_LE(objects[i].time - ends[i - 1], longest_rest_ms(full) + 2000.0) << file << " at " << objects[i].time;
      }
      double stars = 0;
      bool top = false;
      EXPECT_TRUE(printed_rating(run.out, target, file, &stars, &top)) << run.out;
      if (top) {
        EXPECT_LT(stars, target);
      }
    }
  }
  EXPECT_GT(converted, 40);
}

// The beats and bar lines that a map's uninherited timing points draw, as
// the game draws them: every beat length from each point up to the next
// (the last up to the last object), a bar line every meter beats, the first
// left out where the point's effects say so.
void drawn_beats(const std::string& osu, std::vector<double>* beats, std::vector<double>* bar_lines) {
  struct Point {
    double time, length;
    int meter, effects;
  };
  std::vector<Point> points;
  const size_t start = osu.find("[TimingPoints]");
  std::istringstream lines(osu.substr(start, osu.find("[Colours]") - start));
  for (std::string line; std::getline(lines, line);) {
    Point p{};
    int sample_set = 0, index = 0, volume = 0, uninherited = 0;
    if (std::sscanf(line.c_str(), "%lf,%lf,%d,%d,%d,%d,%d,%d", &p.time, &p.length, &p.meter, &sample_set, &index,
                    &volume, &uninherited, &p.effects) == 8 &&
        uninherited == 1) {
      points.push_back(p);
    }
  }
  const std::vector<Line> objects = hit_objects(osu);
  const double last = objects.empty() ? 0 : objects.back().time + 1.0;
  for (size_t i = 0; i < points.size(); ++i) {
    const double end = i + 1 < points.size() ? points[i + 1].time : last;
    for (int k = 0; points[i].time + k * points[i].length < end - 0.5; ++k) {
      const double at = points[i].time + k * points[i].length;
      beats->push_back(at);
      if (k % points[i].meter == 0 && !(k == 0 && (points[i].effects & 8))) bar_lines->push_back(at);
    }
  }
}

TEST(ThinnedMaps, PerformancesGetTimingPointsThatFollowThePlayer) {
  struct Case {
    test::PerformanceKind kind;
    double least_beat_f;
    double least_bar_f;
    bool mostly_soft;  // four notes in five below the hit objects' velocity, heard by the tracker all the same
  };
  const Case cases[] = {
      {test::PerformanceKind::kSteady, 0.9, 0.9, false},    {test::PerformanceKind::kRitardando, 0.8, 0.5, false},
      {test::PerformanceKind::kWaltz, 0.9, 0.8, false},     {test::PerformanceKind::kPickup, 0.9, 0.8, false},
      {test::PerformanceKind::kRitardando, 0.8, 0.5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(test::kind_name(c.kind)) + (c.mostly_soft ? ", mostly soft" : ""));
    test::SyntheticPerformance performance = test::synthetic_performance(c.kind, 1);
    for (size_t i = 0; c.mostly_soft && i < performance.notes.size(); ++i) {
      if (i % 5 != 0) performance.notes[i].velocity = 20;
    }
    TempDir dir;
    test::write_file(dir.file("played.mid"), test::performance_midi(performance));
    test::write_file(dir.file("score.mid"), test::performance_midi(performance, true));
    test::RunResult played = test::run_onpu({"played.mid", "--stars", "3"}, dir.path());
    ASSERT_EQ(played.status, 0) << played.err;
    EXPECT_NE(played.out.find("拍: 演奏から推定しました ("), std::string::npos) << played.out;
    const std::string map = test::read_file(dir.file("played-3.00stars.osu"));
    std::vector<double> beats, bar_lines;
    drawn_beats(map, &beats, &bar_lines);
    EXPECT_GE(test::beat_f_measure(performance.beats_ms, beats), c.least_beat_f);
    EXPECT_GE(test::beat_f_measure(performance.downbeats_ms, bar_lines), c.least_bar_f);
    // The objects keep the times of their notes.
    expect_drawn_from(hit_objects(test::read_file(dir.file("played.osu"))), hit_objects(map), "played");

    // The same notes on the score's grid keep the file's own timing.
    test::RunResult score = test::run_onpu({"score.mid", "--stars", "3"}, dir.path());
    ASSERT_EQ(score.status, 0) << score.err;
    EXPECT_NE(score.out.find("拍: ファイルのテンポと拍子をそのまま使います\n"), std::string::npos) << score.out;
    EXPECT_EQ(uninherited_points(test::read_file(dir.file("score-3.00stars.osu"))),
              uninherited_points(test::read_file(dir.file("score.osu"))));
  }
}

TEST(ThinnedMaps, StarListsAreReadAsDecimalTargets) {
  struct Case {
    const char* list;
    std::vector<int> hundredths;
  };
  const Case cases[] = {
      {"4.5", {450}},
      {"1.8,2.5,3.5,4.8,6", {180, 250, 350, 480, 600}},
      {"0.5,12,12.0000", {50, 1200}},
      {"3.5,3.50,2,3.499", {350, 200}},  // the same target twice counts once
      {"2.345", {235}},
      {".75", {75}},
      {"7.", {700}},
  };
  for (const Case& c : cases) {
    std::vector<int> hundredths;
    std::string error;
    EXPECT_TRUE(parse_star_targets(c.list, &hundredths, &error)) << c.list << ": " << error;
    EXPECT_EQ(hundredths, c.hundredths) << c.list;
  }
  EXPECT_EQ(star_target_suffix(350), "-3.50stars");
  EXPECT_EQ(star_target_suffix(1200), "-12.00stars");
}

TEST(ThinnedMaps, ABadStarListWritesNothing) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::string need =
      "エラー: --stars には星の数を指定してください (例: --stars 4.5 または --stars 1.8,2.5,3.5,4.8,6)\n";
  const Case cases[] = {
      {{"--stars"}, need},
      {{"--stars="}, need},
      {{"--stars", ""}, need},
      {{"--stars", "3,,4"}, "エラー: --stars の一覧に空の項目があります: '3,,4'\n"},
      {{"--stars", "3,"}, "エラー: --stars の一覧に空の項目があります: '3,'\n"},
      {{"--stars=,3"}, "エラー: --stars の一覧に空の項目があります: ',3'\n"},
      {{"--stars", "three"}, "エラー: --stars の 'three' は数ではありません\n"},
      {{"--stars", "4, 5"}, "エラー: --stars の ' 5' は数ではありません\n"},
      {{"--stars", "-1"}, "エラー: --stars の '-1' は数ではありません\n"},
      {{"--stars", "1e1"}, "エラー: --stars の '1e1' は数ではありません\n"},
      {{"--stars", "4.5.1"}, "エラー: --stars の '4.5.1' は数ではありません\n"},
      {{"--stars", "."}, "エラー: --stars の '.' は数ではありません\n"},
      {{"--stars", "0.49"}, "エラー: --stars の 0.49 は範囲外です (0.5 から 12 まで)\n"},
      {{"--stars", "4,12.00001"}, "エラー: --stars の 12.00001 は範囲外です (0.5 から 12 まで)\n"},
      {{"--stars", "0"}, "エラー: --stars の 0 は範囲外です (0.5 から 12 まで)\n"},
  };
  const Bytes midi = test::Smf().header(0, 1, 480).track().note_on(0, 0, 60, 100).end_of_track().bytes();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.back());
    TempDir dir;
    test::write_file(dir.file("song.mid"), midi);
    std::vector<std::string> args = {"song.mid", "both"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    test::RunResult run = test::run_onpu(args, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.message);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"song.mid"});
  }
}

}  // namespace
}  // namespace onpu
