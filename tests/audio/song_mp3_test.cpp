// The song's MP3 made on two cores, checked against one encoder's stream of
// the same samples.
#if ONPU_TESTS_HAVE_SYNTH

#include "audio/song_mp3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "audio/mp3_frames.h"
#include "audio_test_support.h"

namespace onpu::audio {
namespace {

using testing::Bytes;

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

// Stereo notes that change four times a second, each struck hard (short
// windows) and decaying, over a little noise.
std::vector<float> test_song(size_t frames) {
  std::vector<float> samples(frames * 2);
  uint32_t noise = 1;
  for (size_t i = 0; i < frames; ++i) {
    size_t note = i / (kRate / 4);
    double since = static_cast<double>(i % (kRate / 4)) / kRate;
    double hz = 220.0 * std::pow(2.0, static_cast<double>(note * 7 % 24) / 12.0);
    double t = static_cast<double>(i) / kRate;
    noise = noise * 1664525u + 1013904223u;
    double hiss = (static_cast<double>(noise >> 8) / (1 << 24) - 0.5) * 0.02;
    double tone = std::sin(2 * kPi * hz * t) * std::exp(-6 * since);
    samples[2 * i] = static_cast<float>(0.6 * tone + hiss);
    samples[2 * i + 1] = static_cast<float>(0.4 * tone + 0.2 * std::sin(3 * kPi * hz * t) * std::exp(-3 * since) - hiss);
  }
  return samples;
}

// Encodes `samples` through a raw float file, as the song is; the MP3's
// bytes.
Bytes encode(const testing::ScratchDir& dir, const std::vector<float>& samples, const Mp3SplitOptions& options) {
  std::string raw = dir.file("song.pcm");
  std::FILE* file = std::fopen(raw.c_str(), "wb");
  EXPECT_EQ(std::fwrite(samples.data(), sizeof(float), samples.size(), file), samples.size());
  std::fclose(file);
  AtomicOutputFile out;
  AtomicOutputFile spare;
  EXPECT_TRUE(out.open(dir.file("song.mp3")) && spare.open(dir.file("spare.mp3")));
  std::string error;
  EXPECT_TRUE(encode_samples_mp3(raw, samples.size() / 2, 0.9f, Mp3Format(), options, out, spare, &error)) << error;
  EXPECT_EQ(out.commit(), AtomicOutputFile::CommitResult::kOk);
  return testing::read_bytes(dir.file("song.mp3"));
}

Mp3SplitOptions one_encoder() {
  Mp3SplitOptions options;
  options.min_frames = SIZE_MAX;
  return options;
}

// Every frame of the stream, the Info frame first; empty when any byte is
// not part of a whole frame.
std::vector<Mp3Frame> frames_of(const Bytes& mp3) {
  std::vector<Mp3Frame> frames;
  for (size_t at = 0; at < mp3.size();) {
    Mp3Frame frame;
    if (!parse_mp3_frame(mp3.data() + at, mp3.data() + mp3.size(), &frame) || at + frame.size > mp3.size()) return {};
    frames.push_back(frame);
    at += frame.size;
  }
  return frames;
}

uint32_t info_frame_count(const Bytes& mp3) {
  return static_cast<uint32_t>(mp3[44] << 24 | mp3[45] << 16 | mp3[46] << 8 | mp3[47]);
}

TEST(SongMp3, InfoFrameIsRebuiltAsLameWroteIt) {
  testing::ScratchDir dir;
  // Long enough for LAME's seek table to thin out its samples (past 400
  // frames) more than once.
  Bytes mp3 = encode(dir, test_song(45 * kRate), one_encoder());
  std::vector<Mp3Frame> frames = frames_of(mp3);
  ASSERT_GT(frames.size(), 1000u);
  Bytes lame_info(mp3.begin(), mp3.begin() + static_cast<std::ptrdiff_t>(frames[0].size));
  Mp3StreamTotals totals;
  totals.frames = static_cast<uint32_t>(frames.size() - 1);
  totals.bytes = mp3.size() - lame_info.size();
  totals.crc = mp3_crc16(mp3.data() + lame_info.size(), totals.bytes);
  totals.kilobits_per_second = frames[1].kilobits_per_second;
  totals.padding = (lame_info[36 + 142] & 0x0F) << 8 | lame_info[36 + 143];
  Bytes rebuilt = lame_info;
  for (size_t i = 36 + 8; i < rebuilt.size(); ++i) {
    if (i < 36 + 116 || i >= 36 + 148) rebuilt[i] = 0;  // all but LAME's settings
  }
  rebuilt[36 + 142] &= 0xF0;
  ASSERT_TRUE(complete_info_frame(totals, &rebuilt));
  EXPECT_EQ(rebuilt, lame_info);

  Bytes not_info = rebuilt;
  not_info[36] = 'X';
  EXPECT_FALSE(complete_info_frame(totals, &not_info));
}

TEST(SongMp3, HalvesJoinIntoOneGaplessStream) {
  testing::ScratchDir dir;
  const size_t frames = 40 * kRate + 123;
  std::vector<float> song = test_song(frames);
  Mp3SplitOptions two_halves;
  two_halves.min_frames = 0;
  // Joined before the second encoder has settled, so its reservoir at the
  // join is not the first one's.
  two_halves.warm_up = 2;
  Bytes joined = encode(dir, song, two_halves);
  Bytes alone = encode(dir, song, one_encoder());
  ASSERT_NE(joined, alone) << "no join was found";
  EXPECT_EQ(encode(dir, song, two_halves), joined) << "the same samples gave other bytes";
  std::vector<Mp3Frame> joined_frames = frames_of(joined);
  EXPECT_EQ(joined_frames.size(), frames_of(alone).size());
  EXPECT_EQ(info_frame_count(joined), joined_frames.size() - 1);
  // After the Info frame, the bytes differ only from about the middle on.
  size_t same = joined_frames[0].size;
  while (same < joined.size() && joined[same] == alone[same]) ++same;
  EXPECT_GT(same, alone.size() * 2 / 5);

  if (!testing::have_mpg123()) GTEST_SKIP() << "mpg123 is not installed: the decoded sound is not compared";
  std::vector<int16_t> joined_pcm;
  std::vector<int16_t> alone_pcm;
  std::string path = dir.file("decoded.mp3");
  dir.write("decoded.mp3", joined);
  ASSERT_TRUE(testing::decode_mp3(path, 2, &joined_pcm));
  dir.write("decoded.mp3", alone);
  ASSERT_TRUE(testing::decode_mp3(path, 2, &alone_pcm));
  ASSERT_EQ(joined_pcm.size(), frames * 2) << "gapless decoding must give back every frame";
  ASSERT_EQ(alone_pcm.size(), frames * 2);
  // Both are the song with coding noise, and no more of it in any stretch
  // of the joined stream, the join included, than in that of the other.
  auto error_at = [&](const std::vector<int16_t>& pcm, size_t block) {
    double sum = 0;
    for (size_t i = block; i < block + 1152 * 2; ++i) {
      double d = pcm[i] / 32768.0 - 0.9 * song[i];
      sum += d * d;
    }
    return std::sqrt(sum / (1152 * 2));
  };
  for (size_t block = 0; block + 1152 * 2 <= joined_pcm.size(); block += 1152 * 2) {
    ASSERT_LT(error_at(joined_pcm, block), 1.5 * error_at(alone_pcm, block) + 0.001) << "at frame " << block / 2;
  }
}

}  // namespace
}  // namespace onpu::audio

#endif  // ONPU_TESTS_HAVE_SYNTH
