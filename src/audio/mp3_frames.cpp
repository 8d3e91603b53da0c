#include "audio/mp3_frames.h"

#include <array>
#include <cmath>
#include <cstring>

namespace onpu::audio {
namespace {

constexpr int kBitRates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int kSampleRates[4] = {44100, 48000, 32000, 0};

// Reads side information most significant bit first.
class BitReader {
 public:
  explicit BitReader(const uint8_t* p) : p_(p) {}
  int read(int bits) {
    int value = 0;
    for (int i = 0; i < bits; ++i, ++at_) value = value << 1 | ((p_[at_ / 8] >> (7 - at_ % 8)) & 1);
    return value;
  }

 private:
  const uint8_t* p_;
  size_t at_ = 0;
};

std::array<uint16_t, 256> crc_table() {
  std::array<uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned crc = i;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    table[i] = static_cast<uint16_t>(crc);
  }
  return table;
}

void put_be(uint8_t* p, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i, value >>= 8) p[i] = static_cast<uint8_t>(value);
}

// LAME's seek table for `frames` frames at one bit rate: it keeps the
// running sum of bit rates at up to 400 frames spread evenly over the
// stream, and each entry is where a hundredth of the stream starts, in
// 256ths of its size. The arithmetic (and its float rounding) is LAME's.
void seek_table(uint32_t frames, int kilobits_per_second, uint8_t* toc) {
  constexpr int kSize = 400;
  int bag[kSize] = {};
  int sum = 0, seen = 0, want = 1, pos = 0;
  for (uint32_t f = 0; f < frames; ++f) {
    sum += kilobits_per_second;
    if (++seen < want) continue;
    if (pos < kSize) {
      bag[pos++] = sum;
      seen = 0;
    }
    if (pos == kSize) {
      for (int i = 1; i < kSize; i += 2) bag[i / 2] = bag[i];
      want *= 2;
      pos /= 2;
    }
  }
  std::memset(toc, 0, 100);
  if (pos <= 0) return;
  for (int i = 1; i < 100; ++i) {
    float j = static_cast<float>(i) / 100.0f;
    int index = static_cast<int>(std::floor(j * static_cast<float>(pos)));
    if (index > pos - 1) index = pos - 1;
    auto act = static_cast<float>(bag[index]);
    auto total = static_cast<float>(sum);
    int point = static_cast<int>(256. * act / total);
    toc[i] = static_cast<uint8_t>(point > 255 ? 255 : point);
  }
}

}  // namespace

bool parse_mp3_frame(const uint8_t* p, const uint8_t* limit, Mp3Frame* frame) {
  if (limit - p < 4 || p[0] != 0xFF || (p[1] & 0xFE) != 0xFA) return false;  // sync, MPEG-1, Layer III
  int kbps = kBitRates[p[2] >> 4];
  int rate = kSampleRates[(p[2] >> 2) & 3];
  if (kbps == 0 || rate == 0) return false;
  const int channels = (p[3] >> 6) == 3 ? 1 : 2;
  const size_t crc_bytes = (p[1] & 1) ? 0 : 2;
  const size_t side_start = 4 + crc_bytes;
  frame->size = static_cast<size_t>(144000 * kbps / rate + ((p[2] >> 1) & 1));
  frame->side_end = side_start + (channels == 1 ? 17 : 32);
  if (static_cast<size_t>(limit - p) < frame->side_end || frame->size < frame->side_end) return false;
  frame->kilobits_per_second = kbps;
  frame->channels = channels;
  BitReader bits(p + side_start);
  frame->main_data_begin = bits.read(9);
  bits.read(channels == 1 ? 5 : 3);  // private bits
  bits.read(4 * channels);           // scale factor selection
  std::memset(frame->windows, 0, sizeof frame->windows);
  for (int granule = 0; granule < 2; ++granule) {
    for (int channel = 0; channel < channels; ++channel) {
      bits.read(12 + 9 + 8 + 4);  // part2_3_length, big_values, global_gain, scalefac_compress
      int window = 0;
      if (bits.read(1)) {
        int block_type = bits.read(2);
        int mixed = bits.read(1);
        window = 8 | block_type << 1 | mixed;
        bits.read(2 * 5 + 3 * 3);  // table_select, subblock_gain
      } else {
        bits.read(3 * 5 + 4 + 3);  // table_select, region counts
      }
      bits.read(3);  // preflag, scalefac_scale, count1table_select
      frame->windows[granule][channel] = static_cast<uint8_t>(window);
    }
  }
  return true;
}

uint16_t mp3_crc16(const uint8_t* data, size_t size, uint16_t crc) {
  static const std::array<uint16_t, 256> table = crc_table();
  for (size_t i = 0; i < size; ++i) crc = static_cast<uint16_t>((crc >> 8) ^ table[(crc ^ data[i]) & 0xFF]);
  return crc;
}

bool complete_info_frame(const Mp3StreamTotals& totals, std::vector<uint8_t>* info) {
  Mp3Frame frame;
  std::vector<uint8_t>& tag = *info;
  if (!parse_mp3_frame(tag.data(), tag.data() + tag.size(), &frame) || frame.side_end != 4 + 32) return false;
  // "Info", flags, frames, bytes, seek table, quality; then LAME's part.
  const size_t at = frame.side_end;
  constexpr size_t kLame = 120, kDelayPadding = kLame + 21, kMusicLength = kLame + 28, kMusicCrc = kLame + 32,
                   kTagCrc = kLame + 34;
  if (tag.size() < at + kTagCrc + 2 || std::memcmp(&tag[at], "Info", 4) != 0 ||
      std::memcmp(&tag[at + kLame], "LAME", 4) != 0 || totals.padding < 0 || totals.padding > 0xFFF) {
    return false;
  }
  const uint64_t stream_bytes = totals.bytes + tag.size();
  put_be(&tag[at + 8], totals.frames, 4);
  put_be(&tag[at + 12], stream_bytes, 4);
  seek_table(totals.frames, totals.kilobits_per_second, &tag[at + 16]);
  uint8_t* delay_padding = &tag[at + kDelayPadding];
  delay_padding[1] = static_cast<uint8_t>((delay_padding[1] & 0xF0) | totals.padding >> 8);
  delay_padding[2] = static_cast<uint8_t>(totals.padding);
  put_be(&tag[at + kMusicLength], stream_bytes, 4);
  put_be(&tag[at + kMusicCrc], totals.crc, 2);
  put_be(&tag[at + kTagCrc], mp3_crc16(tag.data(), at + kTagCrc), 2);
  return true;
}

}  // namespace onpu::audio
