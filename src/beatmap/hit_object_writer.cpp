#include "beatmap/hit_object_writer.h"

#include <array>

#include "common/messages.h"

namespace onpu {
namespace {

std::array<uint8_t, 256> make_volume_table() {
  std::array<uint8_t, 256> table{};
  for (int v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(static_cast<int>(static_cast<double>(v) / 127.0 * 100.0));
  return table;
}

const std::array<uint8_t, 256> kVolumes = make_volume_table();

}  // namespace

int sample_volume(uint8_t velocity) { return kVolumes[velocity]; }

void HitObjectWriter::add_hit_object(const HitObject& object) {
  int type = object.type;
  if (object.channel != previous_channel_) {
    type |= 4;
    previous_channel_ = object.channel;
  }
  // "x,y,time,type,hit_sound,0:0:0:volume:piano/key.mp3"
  char* start = out_.reserve(128);
  char* p = start;
  p = write_decimal(p, object.x);
  *p++ = ',';
  p = write_decimal(p, object.y);
  *p++ = ',';
  p = write_decimal(p, object.time);
  *p++ = ',';
  p = write_decimal(p, type);
  *p++ = ',';
  p = write_decimal(p, object.hit_sound);
  static const char kSampleHead[] = ",0:0:0:";
  for (char c : std::string_view(kSampleHead, sizeof kSampleHead - 1)) *p++ = c;
  p = write_decimal(p, kVolumes[object.velocity]);
  static const char kFileHead[] = ":piano/";
  for (char c : std::string_view(kFileHead, sizeof kFileHead - 1)) *p++ = c;
  p = write_decimal(p, object.note);
  static const char kFileTail[] = ".mp3\n";
  for (char c : std::string_view(kFileTail, sizeof kFileTail - 1)) *p++ = c;
  out_.commit(static_cast<size_t>(p - start));

  keys_used_.set(object.note);
  ++note_count_;
  if (note_count_ % kProgressInterval == 0) console_.out(format(msg::kProgress, note_count_));
}

}  // namespace onpu
