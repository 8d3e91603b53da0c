#include "beatmap/hit_object_writer.h"

#include <cstring>

#include "common/messages.h"

namespace onpu {
namespace {

// A short piece of text in a fixed slot, copied whole and cut by its length.
struct Piece {
  char text[24];
  uint8_t length;
};

// The parts of a line that depend on one byte of the note only, made once:
// "<velocity's volume>:piano/" and "<key>.mp3\n". A line is then a few
// fixed-size copies and the numbers that vary.
struct LineTables {
  uint8_t volume[256];
  Piece sample[256];  // ",0,0:0:0:<volume>:piano/" (hit sound 0, default sample set)
  Piece file[256];    // "<key>.mp3\n"

  LineTables() {
    for (int v = 0; v < 256; ++v) {
      volume[v] = static_cast<uint8_t>(static_cast<int>(static_cast<double>(v) / 127.0 * 100.0));
      fill(&sample[v], ",0,0:0:0:", volume[v], ":piano/");
      fill(&file[v], "", v, ".mp3\n");
    }
  }
  static void fill(Piece* piece, const char* head, int number, const char* tail) {
    char* p = piece->text;
    for (const char* c = head; *c; ++c) *p++ = *c;
    p = write_decimal(p, number);
    for (const char* c = tail; *c; ++c) *p++ = *c;
    piece->length = static_cast<uint8_t>(p - piece->text);
  }
};

const LineTables kTables;

inline char* put(char* out, const Piece& piece) {
  std::memcpy(out, piece.text, sizeof piece.text);
  return out + piece.length;
}

}  // namespace

int sample_volume(uint8_t velocity) { return kTables.volume[velocity]; }

void HitObjectWriter::add_hit_object(const HitObject& object) {
  char type = '1';
  if (object.channel != previous_channel_) {
    type = '5';  // a new combo
    previous_channel_ = object.channel;
  }
  // "x,y,time,type,hit_sound,0:0:0:volume:piano/key.mp3"; the type is 1 (a
  // hit circle) or 5 with the new-combo bit, the hit sound always 0. The
  // slot needs at most 3 * 20 digits, 4 separators and 2 pieces of 24.
  char* start = out_.reserve(128);
  char* p = start;
  p = write_decimal(p, object.x);
  *p++ = ',';
  p = write_decimal(p, object.y);
  *p++ = ',';
  p = write_decimal(p, object.time);
  *p++ = ',';
  *p++ = type;
  p = put(p, kTables.sample[object.velocity]);
  p = put(p, kTables.file[object.note]);
  out_.commit(static_cast<size_t>(p - start));

  keys_used_.set(object.note);
  ++note_count_;
  if (note_count_ % kProgressInterval == 0) console_.out(format(msg::kProgress, note_count_));
}

}  // namespace onpu
