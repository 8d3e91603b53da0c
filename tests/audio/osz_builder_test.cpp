#include "audio/osz_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>

#include "audio/midi_timeline.h"
#include "audio/song_parts.h"
#if ONPU_TESTS_HAVE_SYNTH
#include "audio/song_renderer.h"
#endif
#include "audio/soundfont_locator.h"
#include "audio_test_support.h"

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

namespace onpu::audio {
namespace {

using testing::Bytes;
using testing::channel_event;
using testing::concat;

constexpr int kRate = 44100;

// Two seconds at 120 bpm: a piano C major arpeggio and one drum hit; the End
// of Track sits at tick 1920, after the last note-off.
Bytes two_second_song() {
  Bytes conductor = testing::mtrk(testing::tempo_event(0, 500000));
  Bytes piano = testing::mtrk(concat({
      channel_event(0, {0xC0, 0}),
      channel_event(0, {0x90, 60, 100}), channel_event(480, {0x80, 60, 0}),
      channel_event(0, {0x90, 64, 100}), channel_event(480, {0x80, 64, 0}),
      channel_event(0, {0x90, 67, 100}), channel_event(0, {0x99, 38, 90}),
      channel_event(480, {0x80, 67, 0}), channel_event(0, {0x89, 38, 0}),
  }), 480);
  return testing::smf(1, 480, {conductor, piano});
}

MidiTimeline timeline_of(const Bytes& smf) {
  MidiTimeline timeline;
  std::string error;
  EXPECT_TRUE(read_midi_timeline(smf, &timeline, &error)) << error;
  return timeline;
}

void set_time_zone(const char* zone) {
#ifdef _WIN32
  _putenv_s("TZ", zone);
  _tzset();
#else
  setenv("TZ", zone, 1);
  tzset();
#endif
}

class OszBuild : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!audio_supported()) GTEST_SKIP() << "built without FluidSynth, LAME or libzip";
    std::string error;
    if (!find_default_soundfont("", &soundfont, &error)) GTEST_SKIP() << error;
    dir.write("song.mid", two_second_song());
    std::filesystem::create_directory(std::filesystem::u8path(dir.file("maps")));
    const std::string osu = "osu file format v14\n";
    for (const char* name : {"maps/song [Easy].osu", "maps/song [Normal].osu", "maps/song [Hard].osu"})
      dir.write(name, Bytes(osu.begin(), osu.end()));
  }

  OszRequest request(const std::string& osz_name, std::vector<int> keys) const {
    OszRequest r;
    r.midi_path = dir.file("song.mid");
    r.osz_path = dir.file(osz_name);
    r.base_name = "song";
    r.osu_paths = {dir.file("maps/song [Normal].osu")};
    r.keys = std::move(keys);
    r.soundfont = soundfont;
    return r;
  }

  // Runs build_osz and returns the archive's entries by name.
  std::map<std::string, testing::ZipEntry> build(const OszRequest& r) {
    CaptureConsole console;
    std::string error;
    EXPECT_TRUE(build_osz(r, console, &error)) << error;
    EXPECT_TRUE(console.err_text.empty());
    last_output = console.out_text;
    std::vector<testing::ZipEntry> entries;
    EXPECT_TRUE(testing::read_zip(testing::read_bytes(r.osz_path), &entries));
    std::map<std::string, testing::ZipEntry> by_name;
    for (auto& e : entries) by_name[e.name] = e;
    EXPECT_EQ(by_name.size(), entries.size()) << "duplicate entry names";
    return by_name;
  }

  std::vector<int16_t> decode(const testing::ZipEntry& entry, int channels) {
    std::string path = dir.file("decoded.mp3");
    dir.write("decoded.mp3", entry.data);
    std::vector<int16_t> samples;
    EXPECT_TRUE(testing::decode_mp3(path, channels, &samples)) << entry.name;
    std::filesystem::remove(std::filesystem::u8path(path));
    return samples;
  }

  testing::ScratchDir dir;
  std::string soundfont;
  std::string last_output;
};

TEST_F(OszBuild, ArchiveHoldsTheBeatmapsTheSongAndOneSamplePerKeyAtItsRoot) {
  OszRequest r = request("song.osz", {0, 60, 108, 127, 128, 255});
  r.osu_paths = {dir.file("maps/song [Easy].osu"), dir.file("maps/song [Normal].osu"), dir.file("maps/song [Hard].osu")};
  auto entries = build(r);

  std::vector<std::string> names;
  for (const auto& [name, entry] : entries) names.push_back(name);
  std::vector<std::string> expected = {"background.png",      "piano/0.mp3",         "piano/108.mp3",         "piano/127.mp3",
                                       "piano/128.mp3",       "piano/255.mp3",         "piano/60.mp3",
                                       "song [Easy].osu",     "song [Hard].osu",       "song [Normal].osu",
                                       "song.mp3"};
  EXPECT_EQ(names, expected);
  for (const auto& [name, entry] : entries) {
    EXPECT_EQ(entry.method, 0) << name << " should be stored";
    EXPECT_EQ(entry.dos_date, entries.begin()->second.dos_date) << name;
    EXPECT_EQ(entry.dos_time, entries.begin()->second.dos_time) << name;
  }
  EXPECT_EQ(entries["song [Hard].osu"].data, testing::read_bytes(dir.file("maps/song [Hard].osu")));
  const std::vector<uint8_t>& picture = entries["background.png"].data;
  EXPECT_EQ(std::string(picture.begin(), picture.begin() + std::min<size_t>(picture.size(), 8)), "\x89PNG\r\n\x1a\n");
  for (const auto& [name, entry] : entries) {
    if (name.size() < 4 || name.compare(name.size() - 4, 4, ".mp3") != 0) continue;
    testing::Mp3Header header = testing::first_mp3_header(entry.data);
    EXPECT_TRUE(header.valid && header.mpeg1_layer3) << name;
  }
  // One line per step, and nothing but the archive and the inputs left behind.
  EXPECT_GE(std::count(last_output.begin(), last_output.end(), '\n'), 4);
  EXPECT_EQ(dir.names(), (std::vector<std::string>{"maps", "song.mid", "song.osz"}));
}

TEST_F(OszBuild, Mp3sDecodeToTheirLengthsAndAreNormalised) {
  if (!testing::have_mpg123()) GTEST_SKIP() << "mpg123 is not installed";
  auto entries = build(request("song.osz", {60}));

  testing::Mp3Header song_header = testing::first_mp3_header(entries["song.mp3"].data);
  EXPECT_TRUE(song_header.mpeg1_layer3);
  EXPECT_EQ(song_header.sample_rate, kRate);
  EXPECT_EQ(song_header.kilobits_per_second, 128);
  EXPECT_EQ(song_header.channels, 2);
  std::vector<int16_t> song = decode(entries["song.mp3"], 2);
  // The MIDI file ends at 2 s; the song adds a short fixed tail, not the
  // whole reverb decay.
  double song_seconds = static_cast<double>(song.size() / 2) / kRate;
  EXPECT_GT(song_seconds, 2.5);
  EXPECT_LT(song_seconds, 4.5);
  EXPECT_GT(testing::peak_of(song), 32767 * 7 / 10);

  testing::Mp3Header key_header = testing::first_mp3_header(entries["piano/60.mp3"].data);
  EXPECT_EQ(key_header.channels, 1);
  EXPECT_EQ(key_header.sample_rate, kRate);
  std::vector<int16_t> key = decode(entries["piano/60.mp3"], 1);
  double key_seconds = static_cast<double>(key.size()) / kRate;
  EXPECT_NEAR(key_seconds, 1.5, 0.03);
  EXPECT_GT(testing::peak_of(key), 32767 * 7 / 10);
  // Faded out: the last 10 ms are close to silence.
  std::vector<int16_t> end(key.end() - kRate / 100, key.end());
  EXPECT_LT(testing::peak_of(end), 32767 / 50);
}

TEST_F(OszBuild, SameInputGivesTheSameBytesWhateverTheTimeZoneOrTheOtherKeys) {
  // The song is shared by two synthesizers on two threads.
  ASSERT_EQ(plan_song_parts(timeline_of(two_second_song())).parts_used, 2);
  set_time_zone("UTC0");
  auto first = build(request("first.osz", {60, 115}));
  set_time_zone("JST-9");
  auto second = build(request("second.osz", {60, 115}));
  set_time_zone("PST8PDT");
  auto other_keys = build(request("third.osz", {20, 60, 100}));
  set_time_zone("");
  EXPECT_EQ(testing::read_bytes(dir.file("first.osz")), testing::read_bytes(dir.file("second.osz")));
  EXPECT_EQ(first["piano/60.mp3"].data, other_keys["piano/60.mp3"].data);
  EXPECT_EQ(first["song.mp3"].data, other_keys["song.mp3"].data);
}

// Drives the synthesizers directly: only in builds that have them.
#if ONPU_TESTS_HAVE_SYNTH
TEST_F(OszBuild, TwoPartsSoundLikeOneSynthesizerPlayingEverything) {
  MidiTimeline timeline = timeline_of(two_second_song());
  auto render = [&](const SongPartPlan& plan) {
    std::vector<float> song;
    std::string error;
    SongSink keep = [&](const float* stereo, size_t frames) {
      song.insert(song.end(), stereo, stereo + frames * 2);
      return true;
    };
    EXPECT_TRUE(render_song(soundfont, timeline, plan, nullptr, keep, &error)) << error;
    return song;
  };
  SongPartPlan alone;
  alone.parts_used = 1;
  std::vector<float> one = render(alone);
  std::vector<float> two = render(plan_song_parts(timeline));
  ASSERT_EQ(one.size(), two.size());
  float peak = 0;
  float difference = 0;
  for (size_t i = 0; i < one.size(); ++i) {
    peak = std::max(peak, std::fabs(one[i]));
    difference = std::max(difference, std::fabs(one[i] - two[i]));
  }
  EXPECT_GT(peak, 0.05f);
  EXPECT_LT(difference, peak / 1000) << "a part missed a message, or the sum is not the whole";
}
#endif

TEST(SongParts, PercussionAndGlidingChannelsStayWholeAndTheNotesAreShared) {
  Bytes conductor = testing::mtrk(testing::tempo_event(0, 500000));
  Bytes body;
  for (int i = 0; i < 6; ++i) {
    body = concat({body, channel_event(0, {0x90, static_cast<uint8_t>(40 + i), 100}),
                   channel_event(0, {0x99, static_cast<uint8_t>(35 + i), 100}),
                   channel_event(0, {0x92, static_cast<uint8_t>(50 + i), 100}),
                   channel_event(0, {0x93, static_cast<uint8_t>(60 + i), 100})});
  }
  // Channel 3 glides from key to key; bank 0 on channel 0 is nothing special.
  body = concat({channel_event(0, {0xB3, 65, 127}), channel_event(0, {0xB0, 0, 0}), body});
  SongPartPlan plan = plan_song_parts(timeline_of(testing::smf(1, 480, {conductor, testing::mtrk(body, 480)})));
  EXPECT_EQ(plan.parts_used, 2);
  auto part = [&](int channel, int key) { return plan.part_of[channel * 128 + key]; };
  int notes_on_part_0 = 0;
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(part(9, 35 + i), part(9, 35)) << "percussion key " << 35 + i;
    EXPECT_EQ(part(3, 60 + i), part(3, 60)) << "portamento key " << 60 + i;
    notes_on_part_0 += (part(0, 40 + i) == 0) + (part(2, 50 + i) == 0);
  }
  // 24 notes: two whole channels of six and 12 single keys, evenly shared.
  EXPECT_NE(part(9, 35), part(3, 60));
  EXPECT_EQ(notes_on_part_0, 6);
  TimedEvent controller{0, 0xB9, 7, 100, 0, 0};
  EXPECT_TRUE(part_plays(plan, 0, controller) && part_plays(plan, 1, controller));
}

TEST_F(OszBuild, KeysTheSoundFontLacksStillSoundAtTheirOwnPitch) {
  if (!testing::have_mpg123()) GTEST_SKIP() << "mpg123 is not installed";
  // FluidR3's piano stops at key 108; the others are bent into place.
  auto entries = build(request("song.osz", {108, 109, 115, 127, 200}));
  for (int key : {108, 109, 115, 127}) {
    std::vector<int16_t> mono = decode(entries["piano/" + std::to_string(key) + ".mp3"], 1);
    ASSERT_GT(mono.size(), static_cast<size_t>(kRate));
    double expected = 440.0 * std::pow(2.0, (key - 69) / 12.0);
    double measured = testing::zero_crossing_hz(mono, kRate / 10, kRate / 2, kRate);
    EXPECT_NEAR(measured / expected, 1.0, 0.03) << "key " << key << " measured " << measured;
  }
  // Key bytes above 127 have no pitch of their own: they sound like 127.
  EXPECT_EQ(entries["piano/200.mp3"].data, entries["piano/127.mp3"].data);
}

TEST(OszFailure, MissingSoundFontOrBadInputFailsAndLeavesNoFile) {
  testing::ScratchDir dir;
  dir.write("song.mid", two_second_song());
  dir.write("a.osu", {'o'});
  dir.write("old.osz", {'o', 'l', 'd'});
  auto attempt = [&](OszRequest r, const std::string& expected_in_error) {
    CaptureConsole console;
    std::string error;
    EXPECT_FALSE(build_osz(r, console, &error));
    ASSERT_FALSE(error.empty());
    EXPECT_EQ(error.find('\n'), error.size() - 1) << error;
    if (audio_supported()) {
      EXPECT_NE(error.find(expected_in_error), std::string::npos) << error;
    }
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"a.osu", "old.osz", "song.mid"}));
    EXPECT_EQ(testing::read_bytes(dir.file("old.osz")), (Bytes{'o', 'l', 'd'}));
  };
  OszRequest base;
  base.midi_path = dir.file("song.mid");
  base.osz_path = dir.file("new.osz");
  base.base_name = "song";
  base.osu_paths = {dir.file("a.osu")};
  base.keys = {60};
  base.soundfont = dir.file("nowhere.sf2");

  attempt(base, dir.file("nowhere.sf2"));
  OszRequest r = base;
  r.osz_path = dir.file("old.osz");
  attempt(r, "nowhere.sf2");

  // From here on a real SoundFont would be found, but the inputs are wrong.
  base.soundfont.clear();
  r = base;
  r.midi_path = dir.file("a.osu");
  attempt(r, "MIDI");
  r = base;
  r.osu_paths.push_back(dir.file("missing.osu"));
  attempt(r, "missing.osu");
  r = base;
  r.keys = {60, 256};
  attempt(r, "256");
  // A file that is no SoundFont, and one that only starts like one.
  r = base;
  r.soundfont = dir.file("a.osu");
  attempt(r, "SoundFont");
  Bytes damaged = {'R', 'I', 'F', 'F', 16, 0, 0, 0, 's', 'f', 'b', 'k', 'L', 'I', 'S', 'T', 4, 0, 0, 0, 'j', 'u', 'n', 'k'};
  dir.write("a.osu", damaged);
  r.soundfont = dir.file("a.osu");
  attempt(r, "SoundFont");

  // A tick far out (a damaged file) makes a song of some 14.5 hours.
  dir.write("song.mid", testing::smf(1, 480, {testing::mtrk(testing::tempo_event(0, 500000), 50000000)}));
  attempt(base, "曲が長すぎます (14.5 時間; 音声は 12 時間までです");
}

#ifndef _WIN32
// A full disk, simulated by a limit on the size of any file this process
// writes: once while the song is rendered into its temporary file, once
// while the archive is written from the finished MP3.
TEST_F(OszBuild, FullDiskAfterTheRenderStartedLeavesNoFileBehind) {
  dir.write("old.osz", {'o', 'l', 'd'});
  dir.write("maps/big.osu", Bytes(3 << 20, 'x'));
  auto attempt = [&](rlim_t limit_bytes, const std::string& expected_in_error) {
    OszRequest r = request("old.osz", {60});
    r.osu_paths = {dir.file("maps/big.osu")};
    rlimit old_limit;
    getrlimit(RLIMIT_FSIZE, &old_limit);
    rlimit limit = old_limit;
    limit.rlim_cur = limit_bytes;
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    CaptureConsole console;
    std::string error;
    bool built = build_osz(r, console, &error);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_FALSE(built);
    EXPECT_NE(error.find(expected_in_error), std::string::npos) << error;
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"maps", "old.osz", "song.mid"}));
    EXPECT_EQ(testing::read_bytes(dir.file("old.osz")), (Bytes{'o', 'l', 'd'}));
  };
  // The song's samples take about 1.4 MB, the archive over 3 MB.
  attempt(256 << 10, "一時ファイルに書き込めません");
  attempt(2 << 20, ".osz を作れません");
}
#endif

TEST(OszFailure, BuildWithoutAudioLibrariesSaysWhatIsMissing) {
  if (audio_supported()) GTEST_SKIP() << "this build has audio support";
  CaptureConsole console;
  std::string error;
  EXPECT_FALSE(build_osz(OszRequest(), console, &error));
  EXPECT_NE(error.find("FluidSynth"), std::string::npos);
  EXPECT_NE(error.find("LAME"), std::string::npos);
  EXPECT_NE(error.find("libzip"), std::string::npos);
}

}  // namespace
}  // namespace onpu::audio
