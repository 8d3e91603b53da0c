#include "support/smf_builder.h"

#include <algorithm>
#include <stdexcept>

namespace onpu::test {

Smf& Smf::header(uint16_t format, uint16_t track_count, uint16_t division) {
  return raw_header({0, 0, 0, 6, uint8_t(format >> 8), uint8_t(format), uint8_t(track_count >> 8),
                     uint8_t(track_count), uint8_t(division >> 8), uint8_t(division)});
}

Smf& Smf::raw_header(const Bytes& after_tag) {
  Chunk chunk;
  chunk.tag = "MThd";
  chunk.data = after_tag;
  chunk.raw_body = true;
  chunks_.push_back(chunk);
  return *this;
}

Smf& Smf::track() { return chunk("MTrk"); }

Smf& Smf::chunk(const std::string& tag) {
  Chunk chunk;
  chunk.tag = tag;
  chunks_.push_back(chunk);
  return *this;
}

Smf& Smf::set_chunk_length(uint32_t length) {
  current().length_set = true;
  current().length = length;
  return *this;
}

Smf::Chunk& Smf::current() {
  if (chunks_.empty()) throw std::logic_error("no chunk started");
  return chunks_.back();
}

Smf& Smf::raw(const Bytes& data) {
  Bytes& out = current().data;
  out.insert(out.end(), data.begin(), data.end());
  return *this;
}

Smf& Smf::note_on(uint32_t delta, int channel, int key, int velocity) {
  return this->delta(delta).raw({uint8_t(0x90 | channel), uint8_t(key), uint8_t(velocity)});
}

Smf& Smf::note_off(uint32_t delta, int channel, int key, int velocity) {
  return this->delta(delta).raw({uint8_t(0x80 | channel), uint8_t(key), uint8_t(velocity)});
}

Smf& Smf::notes(std::vector<NoteEvent> events) {
  std::stable_sort(events.begin(), events.end(), [](const NoteEvent& a, const NoteEvent& b) { return a.tick < b.tick; });
  uint64_t now = 0;
  for (const NoteEvent& e : events) {
    const uint32_t delta = static_cast<uint32_t>(e.tick - now);
    if (e.velocity > 0) {
      note_on(delta, e.channel, e.key, e.velocity);
    } else {
      note_off(delta, e.channel, e.key);
    }
    now = e.tick;
  }
  return *this;
}

Smf& Smf::running(uint32_t delta, std::initializer_list<uint8_t> data) { return this->delta(delta).raw(Bytes(data)); }

Smf& Smf::program_change(uint32_t delta, int channel, int program) {
  return this->delta(delta).raw({uint8_t(0xC0 | channel), uint8_t(program)});
}

Smf& Smf::control_change(uint32_t delta, int channel, int controller, int value) {
  return this->delta(delta).raw({uint8_t(0xB0 | channel), uint8_t(controller), uint8_t(value)});
}

Smf& Smf::tempo(uint32_t delta, uint32_t tempo) {
  return meta(delta, 0x51, {uint8_t(tempo >> 16), uint8_t(tempo >> 8), uint8_t(tempo)});
}

Smf& Smf::time_signature(uint32_t delta, int numerator, int denominator_exponent, int clocks, int thirty_seconds) {
  return meta(delta, 0x58, {uint8_t(numerator), uint8_t(denominator_exponent), uint8_t(clocks), uint8_t(thirty_seconds)});
}

Smf& Smf::meta(uint32_t delta, uint8_t type, const Bytes& data) {
  this->delta(delta).raw({0xFF, type});
  raw(vlq(data.size()));
  return raw(data);
}

Smf& Smf::sysex(uint32_t delta, const Bytes& data, uint8_t status) {
  this->delta(delta).raw({status});
  raw(vlq(data.size()));
  return raw(data);
}

Smf& Smf::end_of_track(uint32_t delta) { return meta(delta, 0x2F, {}); }

Bytes Smf::bytes() const {
  Bytes out;
  for (const Chunk& chunk : chunks_) {
    out.insert(out.end(), chunk.tag.begin(), chunk.tag.end());
    if (chunk.raw_body) {
      out.insert(out.end(), chunk.data.begin(), chunk.data.end());
      continue;
    }
    uint32_t length = chunk.length_set ? chunk.length : static_cast<uint32_t>(chunk.data.size());
    out.push_back(uint8_t(length >> 24));
    out.push_back(uint8_t(length >> 16));
    out.push_back(uint8_t(length >> 8));
    out.push_back(uint8_t(length));
    out.insert(out.end(), chunk.data.begin(), chunk.data.end());
  }
  return out;
}

Bytes Smf::vlq(uint64_t value) {
  Bytes reversed;
  do {
    reversed.push_back(value & 0x7F);
    value >>= 7;
  } while (value != 0);
  Bytes out;
  for (size_t i = reversed.size(); i-- > 0;) out.push_back(uint8_t(reversed[i] | (i > 0 ? 0x80 : 0)));
  return out;
}

Bytes truncated(Bytes bytes, size_t size) {
  if (size < bytes.size()) bytes.resize(size);
  return bytes;
}

Bytes with_byte(Bytes bytes, size_t offset, uint8_t value) {
  bytes.at(offset) = value;
  return bytes;
}

Bytes appended(Bytes bytes, const Bytes& tail) {
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

}  // namespace onpu::test
