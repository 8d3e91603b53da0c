// MPEG-1 Layer III frames as LAME writes them: enough of each frame's header
// and side information to cut a stream between two frames and go on with
// another encoding of the same sound, and LAME's "Info" frame, which
// describes a whole stream (its frame and byte counts, a seek table, the
// encoder delay and padding, CRCs) for gapless decoders and seeking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace onpu::audio {

struct Mp3Frame {
  size_t size = 0;         // bytes, header included
  size_t side_end = 0;     // bytes of header, CRC and side information
  int kilobits_per_second = 0;
  int channels = 0;
  // How many bytes before this frame's header its main data starts: the bit
  // reservoir, filled by the frames before it.
  int main_data_begin = 0;
  // The window of each granule and channel (window switching, block type,
  // mixed blocks): what the next frame's windows must fit with.
  uint8_t windows[2][2] = {};
};

// Reads the frame whose header starts at `p`; bytes up to `limit` are
// there. False when no MPEG-1 Layer III header starts at `p` or its side
// information runs past `limit`.
bool parse_mp3_frame(const uint8_t* p, const uint8_t* limit, Mp3Frame* frame);

// The CRC-16 of LAME's tag (polynomial 0x8005, bits reflected), going on
// from `crc`.
uint16_t mp3_crc16(const uint8_t* data, size_t size, uint16_t crc = 0);

// What the Info frame says of the frames after it.
struct Mp3StreamTotals {
  uint32_t frames = 0;
  uint64_t bytes = 0;       // of those frames
  uint16_t crc = 0;         // mp3_crc16 of those bytes
  int kilobits_per_second = 0;  // constant bit rate
  int padding = 0;          // samples the encoder added at the end
};

// Rewrites an Info frame that LAME made for a constant bit rate stream so
// that it describes `totals`, exactly as LAME would have written it had it
// encoded that stream in one go. False when `info` is no such frame.
bool complete_info_frame(const Mp3StreamTotals& totals, std::vector<uint8_t>* info);

}  // namespace onpu::audio
