#include "midi/midi_header.h"

namespace onpu {
namespace {

bool valid_division(uint16_t division) {
  if (division == 0) return false;
  if ((division & 0x8000) == 0) return true;
  int frame_rate = -static_cast<int>(static_cast<int8_t>(division >> 8));
  int ticks_per_frame = division & 0xFF;
  bool known_rate = frame_rate == 24 || frame_rate == 25 || frame_rate == 29 || frame_rate == 30;
  return known_rate && ticks_per_frame != 0;
}

}  // namespace

bool read_midi_header(const ByteSource& source, MidiHeader* header, uint64_t* first_chunk_offset) {
  uint8_t bytes[14];
  if (source.read_at(0, bytes, sizeof bytes) != sizeof bytes) return false;
  if (bytes[0] != 'M' || bytes[1] != 'T' || bytes[2] != 'h' || bytes[3] != 'd') return false;
  uint32_t length = (uint32_t{bytes[4]} << 24) | (uint32_t{bytes[5]} << 16) | (uint32_t{bytes[6]} << 8) | bytes[7];
  if (length < 6) return false;
  header->format = static_cast<uint16_t>((bytes[8] << 8) | bytes[9]);
  header->track_count = static_cast<uint16_t>((bytes[10] << 8) | bytes[11]);
  header->division = static_cast<uint16_t>((bytes[12] << 8) | bytes[13]);
  if (!valid_division(header->division)) return false;
  *first_chunk_offset = 8 + uint64_t{length};
  return true;
}

}  // namespace onpu
