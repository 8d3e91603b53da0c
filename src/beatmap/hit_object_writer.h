// The hit-object lines of a beatmap, written in the order they are added.
#pragma once

#include <bitset>
#include <cstdint>

#include "beatmap/note_placement.h"
#include "common/console.h"
#include "common/output_sink.h"

namespace onpu {

class HitObjectWriter {
 public:
  HitObjectWriter(TextBuffer& out, Console& console) : out_(out), console_(console) {}

  // Writes one hit-object line. A line whose channel differs from the line
  // before it (or the file's first line) starts a new combo. Every 10000th
  // line is reported on the console.
  void add_hit_object(const HitObject& object);

  // Lines written so far.
  int note_count() const { return note_count_; }
  // The channel of the last line written, or -1 before the first.
  int last_channel() const { return previous_channel_; }
  // The key bytes that some written line names.
  const std::bitset<256>& keys_used() const { return keys_used_; }

  static constexpr int kProgressInterval = 10000;

 private:
  TextBuffer& out_;
  Console& console_;
  int note_count_ = 0;
  int previous_channel_ = -1;
  std::bitset<256> keys_used_;
};

// The sample volume for a velocity byte: velocity / 127 * 100, truncated.
int sample_volume(uint8_t velocity);

}  // namespace onpu
