// The header chunk of a Standard MIDI File.
#pragma once

#include <cstdint>

#include "common/byte_source.h"

namespace onpu {

struct MidiHeader {
  uint16_t format = 0;
  uint16_t track_count = 0;
  // Ticks per quarter note, or with the top bit set SMPTE timing: the top
  // byte is the negated frame rate, the low byte the ticks per frame.
  uint16_t division = 0;
};

// Reads the header chunk at the start of source. Returns false for anything
// that is not a usable MIDI file: no "MThd" tag, a header cut short, a length
// field below 6, a division of 0, or SMPTE timing with a frame rate other
// than 24, 25, 29 (30000/1001) or 30 or with 0 ticks per frame. On success
// *first_chunk_offset is where the chunk after the header starts (the length
// field is honoured, so extra header bytes are passed over).
bool read_midi_header(const ByteSource& source, MidiHeader* header, uint64_t* first_chunk_offset);

}  // namespace onpu
