#include "audio/midi_timeline.h"

#include <algorithm>

namespace onpu::audio {
namespace {

constexpr uint32_t kDefaultTempo = 500000;  // microseconds per quarter note (120 bpm)

// One event of one track before merging. Tempo changes and End of Track stay
// in the list until the times are known.
enum class Kind : uint8_t { channel, sysex, tempo, end_of_track };

struct RawEvent {
  uint64_t tick = 0;
  Kind kind = Kind::channel;
  uint8_t status = 0;
  uint8_t data1 = 0;
  uint8_t data2 = 0;
  uint32_t value = 0;  // tempo, or sysex offset
  uint32_t size = 0;   // sysex size
};

uint32_t read_be(const uint8_t* p, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; ++i) value = (value << 8) | p[i];
  return value;
}

class TrackCursor {
 public:
  TrackCursor(const uint8_t* begin, const uint8_t* end) : pos_(begin), end_(end) {}
  bool at_end() const { return pos_ >= end_; }
  size_t left() const { return static_cast<size_t>(end_ - pos_); }
  bool byte(uint8_t* out) {
    if (pos_ >= end_) return false;
    *out = *pos_++;
    return true;
  }
  bool peek(uint8_t* out) const {
    if (pos_ >= end_) return false;
    *out = *pos_;
    return true;
  }
  // Variable-length quantity of at most four bytes.
  bool vlq(uint32_t* out) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
      uint8_t b = 0;
      if (!byte(&b)) return false;
      value = (value << 7) | (b & 0x7F);
      if (!(b & 0x80)) {
        *out = value;
        return true;
      }
    }
    return false;
  }
  const uint8_t* take(uint32_t count) {
    if (count > left()) return nullptr;
    const uint8_t* start = pos_;
    pos_ += count;
    return start;
  }

 private:
  const uint8_t* pos_;
  const uint8_t* end_;
};

int data_bytes_of(uint8_t status) {
  uint8_t high = status & 0xF0;
  return (high == 0xC0 || high == 0xD0) ? 1 : 2;
}

// Reads one track into `events`; a damaged tail just ends the track.
void read_track(const uint8_t* begin, const uint8_t* end, std::vector<RawEvent>* events,
                std::vector<uint8_t>* sysex_bytes) {
  TrackCursor cursor(begin, end);
  uint64_t tick = 0;
  uint8_t running = 0;
  while (!cursor.at_end()) {
    uint32_t delta = 0;
    if (!cursor.vlq(&delta)) break;
    tick += delta;
    uint8_t first = 0;
    if (!cursor.peek(&first)) break;
    RawEvent event;
    event.tick = tick;
    if (first < 0x80) {
      if (running == 0) break;  // data byte without a status to run on
      event.status = running;
    } else {
      cursor.byte(&event.status);
    }
    uint8_t status = event.status;
    if (status < 0xF0) {
      running = status;
      int count = data_bytes_of(status);
      const uint8_t* data = cursor.take(static_cast<uint32_t>(count));
      if (data == nullptr) break;
      event.kind = Kind::channel;
      event.data1 = data[0] & 0x7F;
      event.data2 = count == 2 ? (data[1] & 0x7F) : 0;
      events->push_back(event);
    } else if (status == 0xF0 || status == 0xF7) {
      running = 0;
      uint32_t length = 0;
      if (!cursor.vlq(&length)) break;
      const uint8_t* body = cursor.take(length);
      if (body == nullptr) break;
      // F7 packets (continuations, escapes) are not played.
      if (status == 0xF0) {
        uint32_t size = length;
        if (size > 0 && body[size - 1] == 0xF7) --size;
        event.kind = Kind::sysex;
        event.value = static_cast<uint32_t>(sysex_bytes->size());
        event.size = size;
        sysex_bytes->insert(sysex_bytes->end(), body, body + size);
        events->push_back(event);
      }
    } else if (status == 0xFF) {
      running = 0;
      uint8_t type = 0;
      uint32_t length = 0;
      if (!cursor.byte(&type) || !cursor.vlq(&length)) break;
      const uint8_t* body = cursor.take(length);
      if (body == nullptr) break;
      if (type == 0x51 && length >= 3) {
        event.kind = Kind::tempo;
        event.value = read_be(body, 3);
        events->push_back(event);
      } else if (type == 0x2F) {
        event.kind = Kind::end_of_track;
        events->push_back(event);
        break;
      }
    } else {
      break;  // system common or real-time bytes have no place in a file
    }
  }
  // The track lasts up to its last complete event even without End of Track.
  if (events->empty() || events->back().kind != Kind::end_of_track) {
    RawEvent end_marker;
    end_marker.tick = tick;
    end_marker.kind = Kind::end_of_track;
    events->push_back(end_marker);
  }
}

// Finds the MThd chunk, inside a RIFF RMID file when there is one.
bool locate_smf(const std::vector<uint8_t>& bytes, size_t* start, size_t* end) {
  *start = 0;
  *end = bytes.size();
  if (bytes.size() >= 12 && std::equal(bytes.begin(), bytes.begin() + 4, "RIFF") &&
      std::equal(bytes.begin() + 8, bytes.begin() + 12, "RMID")) {
    size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
      uint32_t size = bytes[pos + 4] | (bytes[pos + 5] << 8) | (bytes[pos + 6] << 16) |
                      (static_cast<uint32_t>(bytes[pos + 7]) << 24);
      size_t body = pos + 8;
      if (std::equal(bytes.begin() + pos, bytes.begin() + pos + 4, "data")) {
        *start = body;
        *end = std::min(bytes.size(), body + size);
        break;
      }
      pos = body + size + (size & 1);
    }
  }
  return *end - *start >= 14 && std::equal(bytes.begin() + *start, bytes.begin() + *start + 4, "MThd");
}

}  // namespace

bool read_midi_timeline(const std::vector<uint8_t>& bytes, MidiTimeline* timeline,
                        std::string* error) {
  *timeline = MidiTimeline();
  size_t start = 0;
  size_t end = 0;
  if (!locate_smf(bytes, &start, &end)) {
    *error = "エラー: MIDI ファイルではありません (MThd がありません)\n";
    return false;
  }
  const uint8_t* data = bytes.data();
  uint32_t header_length = read_be(data + start + 4, 4);
  if (header_length < 6 || header_length > end - start - 8) {
    *error = "エラー: MIDI ファイルのヘッダが壊れています\n";
    return false;
  }
  uint32_t track_count = read_be(data + start + 10, 2);
  uint32_t division = read_be(data + start + 12, 2);
  if (division == 0 || (division & 0x8000 && (division & 0xFF) == 0)) {
    *error = "エラー: MIDI ファイルの分解能が 0 です\n";
    return false;
  }

  // Per-track lists, concatenated in track order, then a stable sort by tick
  // gives the merge order the header promises.
  std::vector<RawEvent> merged;
  size_t pos = start + 8 + header_length;
  uint32_t tracks_read = 0;
  while (tracks_read < track_count && pos + 8 <= end) {
    uint32_t length = read_be(data + pos + 4, 4);
    size_t body = pos + 8;
    size_t body_end = length > end - body ? end : body + length;
    if (std::equal(data + pos, data + pos + 4, "MTrk")) {
      read_track(data + body, data + body_end, &merged, &timeline->sysex_bytes);
      ++tracks_read;
    }
    pos = body_end;
  }
  std::stable_sort(merged.begin(), merged.end(),
                   [](const RawEvent& a, const RawEvent& b) { return a.tick < b.tick; });

  const bool smpte = (division & 0x8000) != 0;
  double seconds_per_tick_smpte = 0;
  if (smpte) {
    int frames = -static_cast<int8_t>(division >> 8);
    double fps = frames == 29 ? 30000.0 / 1001.0 : frames;
    if (fps <= 0) fps = 25;  // an invalid rate; any positive one keeps time moving
    seconds_per_tick_smpte = 1.0 / (fps * (division & 0xFF));
  }

  uint32_t tempo = kDefaultTempo;
  uint64_t last_tick = 0;
  double last_seconds = 0;
  for (const RawEvent& raw : merged) {
    double seconds;
    if (smpte) {
      seconds = static_cast<double>(raw.tick) * seconds_per_tick_smpte;
    } else {
      seconds = last_seconds + static_cast<double>(raw.tick - last_tick) * tempo / (1e6 * division);
      last_tick = raw.tick;
      last_seconds = seconds;
    }
    timeline->end_seconds = std::max(timeline->end_seconds, seconds);
    if (raw.kind == Kind::tempo) {
      if (raw.value > 0) tempo = raw.value;
    } else if (raw.kind == Kind::channel || raw.kind == Kind::sysex) {
      TimedEvent event;
      event.seconds = seconds;
      event.status = raw.kind == Kind::sysex ? 0xF0 : raw.status;
      event.data1 = raw.data1;
      event.data2 = raw.data2;
      event.sysex_offset = raw.kind == Kind::sysex ? raw.value : 0;
      event.sysex_size = raw.kind == Kind::sysex ? raw.size : 0;
      timeline->events.push_back(event);
    }
  }
  return true;
}

}  // namespace onpu::audio
