// Track chunks and the events inside them.
//
// Chunks are framed by their length fields: a track's events are read only
// inside its chunk, and the next chunk starts where the length says. Chunks
// with another tag than "MTrk" are passed over, as MIDI readers should.
//
// Where a chunk runs past the end of the file (a cut-off download), the end
// of the file decides: running out of bytes inside a delta time or inside an
// event's data means the file is damaged beyond that point, and the caller
// stops the conversion. Where a chunk ends inside an event but the file goes
// on, only that track ends there.
#pragma once

#include <cstdint>
#include <memory>

#include "common/byte_source.h"

namespace onpu {

struct TrackChunk {
  uint64_t data_offset = 0;  // first byte of the events
  uint64_t data_end = 0;     // end of the events: the chunk's end, or the file's if that comes first
  bool cut_by_file_end = false;
  uint64_t next_offset = 0;  // where the next chunk header starts
};

enum class ChunkSearch {
  kFound,
  kEndOfFile,   // no complete chunk header before the end of the file
  kInvalidTag,  // the four tag bytes are not printable ASCII: the file is damaged here
};

// Finds the next "MTrk" chunk whose header starts at or after offset,
// passing over chunks with other printable tags.
ChunkSearch find_track_chunk(const ByteSource& source, uint64_t offset, TrackChunk* chunk);

enum class EventKind : uint8_t {
  kNoteOn,   // 0x90-0x9F: data1 is the key, data2 the velocity
  kChannel,  // other channel messages, passed over
  kMeta,     // 0xFF: meta_type, meta_length and up to four data bytes
  kOther,    // system exclusive, other system messages, data without a status
};

struct TrackEvent {
  uint64_t tick = 0;  // sum of the track's delta times so far; never wraps
  EventKind kind = EventKind::kOther;
  uint8_t status = 0;  // the status in effect; 0 before any channel status
  uint8_t data1 = 0;
  uint8_t data2 = 0;
  uint8_t meta_type = 0;
  uint64_t meta_length = 0;
  uint8_t meta_data[4] = {0, 0, 0, 0};  // filled when meta_length is at most 4
  // 0xF0 and 0xF7 only: where the body (after the length) starts in the
  // source and how long the length says it is. The reader passes over it.
  uint64_t data_offset = 0;
  uint64_t data_length = 0;
};

enum class ReadStatus {
  kEvent,       // *event holds the next event
  kEndOfTrack,  // the End of Track event (its tick counts) ended the track
  kTrackEnded,  // the chunk's bytes ran out; the track ends quietly
  kMetaCut,     // a meta event's type or length is missing; the track ends
  kNoteOnCut,   // a Note On's key or velocity is missing; the track ends
  kFileEnded,   // the file ended inside a delta time or an event: damaged file
};

// Where the reading of a track stands between two events: enough for a
// fresh reader to go on from there as the first one would.
struct TrackPosition {
  uint64_t offset = 0;  // the next event's first byte
  uint64_t tick = 0;    // the tick of the event before it
  uint8_t running_status = 0;
};

// Reads one track's events in order through a buffer of its own.
class TrackReader {
 public:
  TrackReader(const ByteSource& source, const TrackChunk& chunk, size_t buffer_size);
  // Goes on from a position that a reader of the same chunk was at, keeping
  // the buffer. When about how many bytes will be read is known, first_read
  // asks for no more than that at first (0: a whole buffer).
  void restart(const TrackPosition& from, uint64_t first_read = 0);
  TrackReader(const TrackReader&) = delete;
  TrackReader& operator=(const TrackReader&) = delete;

  // Reads the next event. After any status other than kEvent the track is
  // over and further calls return kTrackEnded.
  ReadStatus next(TrackEvent* event) {
    // Most events of a large file are channel messages that lie whole in the
    // buffer: a delta time of up to 4 bytes, a status or a running status,
    // and up to two data bytes. They are read here without a bounds check
    // per byte; everything else takes the general way.
    if (limit_ - cursor_ >= 7 && !done_) {
      const uint8_t* p = cursor_;
      uint32_t delta = 0;
      int delta_bytes = 0;
      uint8_t byte;
      do {
        byte = *p++;
        delta = (delta << 7) | (byte & 0x7F);
      } while ((byte & 0x80) && ++delta_bytes < 4);
      uint8_t status = *p;
      if (!(byte & 0x80) && status < 0xF0 && (status >= 0x80 || running_status_ != 0)) {
        if (status >= 0x80) {
          running_status_ = status;
          ++p;
        } else {
          status = running_status_;
        }
        const uint8_t high = status & 0xF0;
        event->data1 = *p++;
        if (high == 0xC0 || high == 0xD0) {
          event->kind = EventKind::kChannel;
          event->data2 = 0;
        } else {
          event->kind = high == 0x90 ? EventKind::kNoteOn : EventKind::kChannel;
          event->data2 = *p++;
        }
        event->status = status;
        cursor_ = p;
        tick_ += delta;
        event->tick = tick_;
        last_status_tick_ = tick_;
        has_status_tick_ = true;
        return ReadStatus::kEvent;
      }
    }
    return next_in_general(event);
  }

  // The tick of the last event whose status was known, End of Track and cut
  // events included; has_status_tick() is false until there was one.
  uint64_t last_status_tick() const { return last_status_tick_; }
  bool has_status_tick() const { return has_status_tick_; }

  // True once the track is over.
  bool finished() const { return done_; }
  // Where the reader stands; meaningful while the track is not over.
  TrackPosition position_between_events() const { return TrackPosition{position(), tick_, running_status_}; }

 private:
  bool read_byte(uint8_t* byte) {
    if (cursor_ < limit_) {
      *byte = *cursor_++;
      return true;
    }
    return refill_and_read(byte);
  }
  ReadStatus next_in_general(TrackEvent* event);
  bool refill_and_read(uint8_t* byte);
  bool skip(uint64_t count);
  // Variable-length quantity for a length; saturates instead of wrapping.
  bool read_length(uint64_t* value);
  ReadStatus finish(ReadStatus status);
  // What running out of bytes inside an event's data means for this chunk.
  ReadStatus cut(ReadStatus inside_chunk) { return finish(chunk_.cut_by_file_end ? ReadStatus::kFileEnded : inside_chunk); }
  uint64_t position() const { return buffer_offset_ + static_cast<uint64_t>(cursor_ - buffer_.get()); }

  const ByteSource& source_;
  TrackChunk chunk_;
  std::unique_ptr<uint8_t[]> buffer_;
  size_t buffer_size_;
  size_t next_read_;  // the size of the next refill: buffer_size_ but after a restart
  uint64_t buffer_offset_;
  const uint8_t* cursor_;
  const uint8_t* limit_;
  uint64_t tick_ = 0;
  uint8_t running_status_ = 0;
  bool done_ = false;
  uint64_t last_status_tick_ = 0;
  bool has_status_tick_ = false;
};

}  // namespace onpu
