// The background picture of a set: a piano roll of the song, the same bytes
// on every platform.
#include "audio/song_picture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace onpu::audio {
namespace {

TimedEvent channel_event(double seconds, uint8_t status, uint8_t key, uint8_t velocity) {
  TimedEvent event;
  event.seconds = seconds;
  event.status = status;
  event.data1 = key;
  event.data2 = velocity;
  return event;
}

// Whether the pixel stands out from the dark ground.
bool lit(const SongPicture& picture, int x, int y) {
  return picture.at(x, y, 0) > 100 || picture.at(x, y, 1) > 100 || picture.at(x, y, 2) > 100;
}

// The rows of column x that are lit: [first, last], or {-1, -1}.
std::pair<int, int> lit_rows(const SongPicture& picture, int x) {
  std::pair<int, int> rows{-1, -1};
  for (int y = 0; y < kPictureHeight; ++y) {
    if (!lit(picture, x, y)) continue;
    if (rows.first < 0) rows.first = y;
    rows.second = y;
  }
  return rows;
}

uint32_t big_endian(const std::vector<uint8_t>& bytes, size_t at) {
  return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 | uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

uint64_t fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
  return hash;
}

// A song of two notes: a high C for its first half, a low C for its second
// (its Note Off a Note On of velocity 0), and a drum all through that is
// left out. Each lights its own rows, in its own half.
TEST(SongPicture, OneHighAndOneLowNoteLightTheirRowsInTheirHalves) {
  MidiTimeline timeline;
  timeline.events = {channel_event(0, 0x99, 36, 100), channel_event(0, 0x90, 84, 100), channel_event(5, 0x80, 84, 0),
                     channel_event(5, 0x91, 36, 100), channel_event(10, 0x91, 36, 0),  channel_event(10, 0x89, 36, 0)};
  timeline.end_seconds = 10;
  const std::vector<PictureNote> notes = picture_notes(timeline);
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[0].key, 84);
  EXPECT_EQ(notes[0].end_ms, 5000);
  EXPECT_EQ(notes[1].key, 36);
  EXPECT_EQ(notes[1].end_ms, 10000);

  SongPicture picture;
  draw_song_picture(notes, 10000, 1, &picture);
  const int first_half = kPictureWidth / 4;
  const int second_half = kPictureWidth * 3 / 4;
  const auto high = lit_rows(picture, first_half);
  const auto low = lit_rows(picture, second_half);
  // The high note near the top, the low one near the bottom, each in a
  // band of a few rows; no other row lit in its column.
  ASSERT_GE(high.first, 0);
  ASSERT_GE(low.first, 0);
  EXPECT_LT(high.second, kPictureHeight / 6);
  EXPECT_GT(low.first, kPictureHeight * 5 / 6);
  EXPECT_LT(high.second - high.first, 40);
  EXPECT_LT(low.second - low.first, 40);
  EXPECT_FALSE(lit(picture, first_half, low.first));
  EXPECT_FALSE(lit(picture, second_half, high.first));
  // In two colours: the channels differ.
  EXPECT_NE(picture.at(first_half, high.first, 2), picture.at(second_half, low.first, 2));
  // Nothing lit at the edges, where the time does not run.
  EXPECT_EQ(lit_rows(picture, 10), (std::pair<int, int>{-1, -1}));
  EXPECT_EQ(lit_rows(picture, kPictureWidth - 10), (std::pair<int, int>{-1, -1}));
}

// The picture of a song (a scale in four channels), and of one dense enough
// to be noise: 1920x1080 RGB PNGs within a megabyte, the first with the same
// bytes as on every other platform.
TEST(SongPicture, IsAFullHdPngWithinAMegabyteWithTheSameBytesEverywhere) {
  std::vector<PictureNote> scale;
  for (int i = 0; i < 64; ++i) {
    scale.push_back(PictureNote{i * 500, i * 500 + 400, static_cast<uint8_t>(48 + (i * 7) % 36),
                                static_cast<uint8_t>(i % 4), static_cast<uint8_t>(20 + i)});
  }
  std::vector<PictureNote> noise;
  uint32_t seed = 12345;
  for (int i = 0; i < 200000; ++i) {
    seed = seed * 1103515245u + 12345u;
    noise.push_back(PictureNote{static_cast<int32_t>(i * 3), static_cast<int32_t>(i * 3 + 20 + (seed >> 24)),
                                static_cast<uint8_t>((seed >> 8) % 128), static_cast<uint8_t>((seed >> 16) % 16),
                                static_cast<uint8_t>(1 + (seed >> 4) % 127)});
  }
  for (const auto* notes : {&scale, &noise}) {
    const std::vector<uint8_t> png = song_picture_png(*notes, notes->back().end_ms);
    ASSERT_GT(png.size(), 33u);
    EXPECT_LE(png.size(), kMostPictureBytes);
    EXPECT_EQ(std::string(png.begin(), png.begin() + 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(big_endian(png, 16), 1920u);
    EXPECT_EQ(big_endian(png, 20), 1080u);
    EXPECT_EQ(png[24], 8);  // bits per sample
    EXPECT_EQ(png[25], 2);  // RGB
    if (notes == &scale) {
      EXPECT_EQ(fnv1a(png), 16218945163638076808ull) << png.size();
    }
  }
}

}  // namespace
}  // namespace onpu::audio
