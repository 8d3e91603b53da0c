#include "audio/song_picture.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <utility>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace onpu::audio {
namespace {

constexpr int kMarginX = 60;
constexpr int kMarginY = 70;
constexpr int kPercussionChannel = 9;
constexpr int kFewestKeys = 24;

// A colour for each channel, bright enough on the dark ground.
constexpr uint8_t kChannelColours[16][3] = {
    {255, 196, 64},  {80, 200, 255},  {255, 96, 128},  {120, 230, 120}, {190, 130, 255}, {255, 150, 70},
    {70, 230, 210},  {250, 120, 220}, {200, 220, 90},  {200, 200, 200}, {110, 150, 255}, {255, 220, 150},
    {140, 255, 190}, {255, 130, 100}, {170, 200, 255}, {230, 180, 255},
};

int32_t to_ms(double seconds) { return static_cast<int32_t>(std::llround(seconds * 1000.0)); }

void fill(SongPicture* picture, int x0, int y0, int x1, int y1, const uint8_t colour[3]) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, kPictureWidth);
  y1 = std::min(y1, kPictureHeight);
  for (int y = y0; y < y1; ++y) {
    uint8_t* row = picture->rgb.data() + static_cast<size_t>(y) * kPictureWidth * 3;
    for (int x = x0; x < x1; ++x) std::copy(colour, colour + 3, row + x * 3);
  }
}

int floor_to(int value, int cell) { return value / cell * cell; }
int ceil_to(int value, int cell) { return (value + cell - 1) / cell * cell; }

}  // namespace

std::vector<PictureNote> picture_notes(const MidiTimeline& timeline) {
  const int32_t song_end = to_ms(timeline.end_seconds);
  std::vector<PictureNote> notes;
  std::map<std::pair<int, int>, std::deque<size_t>> sounding;  // (channel, key): notes not yet ended
  for (const TimedEvent& event : timeline.events) {
    const int kind = event.status & 0xF0;
    const int channel = event.status & 0x0F;
    if ((kind != 0x80 && kind != 0x90) || channel == kPercussionChannel) continue;
    const int key = event.data1 & 0x7F;
    std::deque<size_t>& open = sounding[{channel, key}];
    if (kind == 0x90 && event.data2 > 0) {
      open.push_back(notes.size());
      PictureNote note;
      note.start_ms = to_ms(event.seconds);
      note.end_ms = std::max(note.start_ms, song_end);
      note.key = static_cast<uint8_t>(key);
      note.channel = static_cast<uint8_t>(channel);
      note.velocity = static_cast<uint8_t>(std::min<int>(event.data2, 127));
      notes.push_back(note);
    } else if (!open.empty()) {
      PictureNote& note = notes[open.front()];
      note.end_ms = std::max(note.start_ms, to_ms(event.seconds));
      open.pop_front();
    }
  }
  return notes;
}

void draw_song_picture(const std::vector<PictureNote>& notes, int32_t song_ms, int cell, SongPicture* picture) {
  cell = std::max(cell, 1);
  song_ms = std::max<int32_t>(song_ms, 1);
  picture->rgb.assign(static_cast<size_t>(kPictureWidth) * kPictureHeight * 3, 0);
  // The ground darkens from a deep blue at the top to nearly black.
  for (int y = 0; y < kPictureHeight; ++y) {
    const uint8_t ground[3] = {static_cast<uint8_t>(10 + 14 * (kPictureHeight - y) / kPictureHeight),
                               static_cast<uint8_t>(12 + 18 * (kPictureHeight - y) / kPictureHeight),
                               static_cast<uint8_t>(22 + 40 * (kPictureHeight - y) / kPictureHeight)};
    fill(picture, 0, y, kPictureWidth, y + 1, ground);
  }
  int low = 127;
  int high = 0;
  for (const PictureNote& note : notes) {
    low = std::min<int>(low, note.key);
    high = std::max<int>(high, note.key);
  }
  if (notes.empty()) {
    low = 48;
    high = 71;
  }
  if (high - low + 1 < kFewestKeys) {
    const int wanting = kFewestKeys - (high - low + 1);
    low = std::max(0, low - wanting / 2);
    high = std::min(127, low + kFewestKeys - 1);
    low = std::max(0, high - kFewestKeys + 1);
  }
  const int keys = high - low + 1;
  const int plot_width = kPictureWidth - 2 * kMarginX;
  const int plot_height = kPictureHeight - 2 * kMarginY;
  auto row_top = [&](int key) { return kMarginY + (high - key) * plot_height / keys; };
  // A faint line along each C, as on a keyboard's octaves.
  const uint8_t octave_line[3] = {40, 46, 70};
  for (int key = low; key <= high; ++key) {
    if (key % 12 == 0)
      fill(picture, kMarginX, row_top(key - 1) - 1, kPictureWidth - kMarginX, row_top(key - 1), octave_line);
  }
  const int gap = plot_height / keys >= 4 ? 1 : 0;
  for (const PictureNote& note : notes) {
    const int x0 = kMarginX + static_cast<int>(int64_t{note.start_ms} * plot_width / song_ms);
    int x1 = kMarginX + static_cast<int>(int64_t{note.end_ms} * plot_width / song_ms);
    x1 = std::max(x1, x0 + 2);
    const int y0 = row_top(note.key);
    const int y1 = std::max(row_top(note.key - 1) - gap, y0 + 1);
    // Four steps of loudness: fewer colours pack smaller.
    const int step = std::min(note.velocity / 32, 3);
    const uint8_t* base = kChannelColours[note.channel & 0x0F];
    uint8_t colour[3];
    for (int c = 0; c < 3; ++c) colour[c] = static_cast<uint8_t>(base[c] * (136 + 40 * step) / 256);
    fill(picture, floor_to(x0, cell), floor_to(y0, cell), ceil_to(x1, cell), ceil_to(y1, cell), colour);
  }
}

std::vector<uint8_t> encode_png(const SongPicture& picture) {
  // The settings stay fixed, whatever the writer's defaults become.
  stbi_write_png_compression_level = 8;
  stbi_write_force_png_filter = -1;
  std::vector<uint8_t> png;
  auto append = [](void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    const auto* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
  };
  if (!stbi_write_png_to_func(append, &png, kPictureWidth, kPictureHeight, 3, picture.rgb.data(), kPictureWidth * 3)) {
    png.clear();
  }
  return png;
}

std::vector<uint8_t> song_picture_png(const std::vector<PictureNote>& notes, int32_t song_ms) {
  SongPicture picture;
  std::vector<uint8_t> png;
  for (int cell : {1, 4, 12, 40}) {
    draw_song_picture(notes, song_ms, cell, &picture);
    png = encode_png(picture);
    if (!png.empty() && png.size() <= kMostPictureBytes) break;
  }
  return png;
}

}  // namespace onpu::audio
