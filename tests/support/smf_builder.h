// Builds Standard MIDI Files in memory for tests:
//
//   Smf().header(1, 2, 480)
//       .track().tempo(0, 500000).end_of_track()
//       .track().note_on(0, 0, 60, 100).note_off(480, 0, 60).end_of_track()
//       .bytes();
//
// Chunk lengths are filled in by themselves; raw(), set_chunk_length() and
// the mutators on the finished bytes damage a file on purpose.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace onpu::test {

using Bytes = std::vector<uint8_t>;

// A note's start (velocity > 0) or end (velocity 0) at an absolute tick.
struct NoteEvent {
  uint64_t tick;
  int channel;
  int key;
  int velocity;
};

class Smf {
 public:
  // "MThd", length 6, format, track count, division.
  Smf& header(uint16_t format, uint16_t track_count, uint16_t division);
  // A header chunk with these exact bytes after the tag (length field included).
  Smf& raw_header(const Bytes& after_tag);
  // Starts an "MTrk" chunk; the events below go into it.
  Smf& track();
  // Starts a chunk with another tag.
  Smf& chunk(const std::string& tag);
  // Overrides the length field of the current chunk.
  Smf& set_chunk_length(uint32_t length);

  Smf& note_on(uint32_t delta, int channel, int key, int velocity);
  Smf& note_off(uint32_t delta, int channel, int key, int velocity = 0);
  // Note ons and offs at their ticks, in any order (those of one tick keep
  // theirs), from tick 0 of the current track.
  Smf& notes(std::vector<NoteEvent> events);
  // A channel message without its status byte (running status).
  Smf& running(uint32_t delta, std::initializer_list<uint8_t> data);
  Smf& program_change(uint32_t delta, int channel, int program);
  Smf& control_change(uint32_t delta, int channel, int controller, int value);
  Smf& tempo(uint32_t delta, uint32_t microseconds_per_quarter);
  Smf& time_signature(uint32_t delta, int numerator, int denominator_exponent, int clocks = 24, int thirty_seconds = 8);
  Smf& meta(uint32_t delta, uint8_t type, const Bytes& data);
  // 0xF0 (or 0xF7), the length as a variable-length quantity, the data.
  Smf& sysex(uint32_t delta, const Bytes& data, uint8_t status = 0xF0);
  Smf& end_of_track(uint32_t delta = 0);
  // Bytes as they are, into the current chunk.
  Smf& raw(const Bytes& data);
  Smf& delta(uint32_t value) { return raw(vlq(value)); }

  Bytes bytes() const;

  static Bytes vlq(uint64_t value);

 private:
  struct Chunk {
    std::string tag;
    Bytes data;
    bool length_set = false;
    uint32_t length = 0;
    bool raw_body = false;  // data holds the length field itself
  };
  Chunk& current();
  std::vector<Chunk> chunks_;
};

// Mutators on finished bytes.
Bytes truncated(Bytes bytes, size_t size);
Bytes with_byte(Bytes bytes, size_t offset, uint8_t value);
Bytes appended(Bytes bytes, const Bytes& tail);

}  // namespace onpu::test
