#include "midi/track_reader.h"

#include <algorithm>

namespace onpu {
namespace {

bool printable_tag(const uint8_t* tag) {
  for (int i = 0; i < 4; ++i) {
    if (tag[i] < 0x20 || tag[i] > 0x7E) return false;
  }
  return true;
}

}  // namespace

ChunkSearch find_track_chunk(const ByteSource& source, uint64_t offset, TrackChunk* chunk) {
  const uint64_t file_size = source.size();
  // Every pass over an alien chunk moves at least 8 bytes on, so the loop
  // ends within the file.
  while (true) {
    uint8_t header[8];
    if (offset > file_size || source.read_at(offset, header, 8) != 8) return ChunkSearch::kEndOfFile;
    if (!printable_tag(header)) return ChunkSearch::kInvalidTag;
    uint64_t length = (uint64_t{header[4]} << 24) | (uint64_t{header[5]} << 16) | (uint64_t{header[6]} << 8) | header[7];
    uint64_t data_offset = offset + 8;
    uint64_t chunk_end = data_offset + length;
    if (header[0] == 'M' && header[1] == 'T' && header[2] == 'r' && header[3] == 'k') {
      chunk->data_offset = data_offset;
      chunk->cut_by_file_end = chunk_end > file_size;
      chunk->data_end = std::min(chunk_end, file_size);
      chunk->next_offset = chunk_end;
      return ChunkSearch::kFound;
    }
    offset = chunk_end;
  }
}

TrackReader::TrackReader(const ByteSource& source, const TrackChunk& chunk, size_t buffer_size)
    : source_(source), chunk_(chunk) {
  uint64_t length = chunk.data_end - chunk.data_offset;
  buffer_size_ = static_cast<size_t>(std::max<uint64_t>(1, std::min<uint64_t>(buffer_size, length)));
  buffer_.reset(new uint8_t[buffer_size_]);
  next_read_ = buffer_size_;
  buffer_offset_ = chunk.data_offset;
  cursor_ = limit_ = buffer_.get();
}

void TrackReader::restart(const TrackPosition& from, uint64_t first_read) {
  const uint64_t offset = std::clamp(from.offset, chunk_.data_offset, chunk_.data_end);
  const uint64_t buffered = static_cast<uint64_t>(limit_ - buffer_.get());
  if (offset >= buffer_offset_ && offset - buffer_offset_ < buffered) {
    // Already in the buffer: no need to read it again.
    cursor_ = buffer_.get() + (offset - buffer_offset_);
  } else {
    next_read_ = first_read > 0 ? static_cast<size_t>(std::min<uint64_t>(first_read, buffer_size_)) : buffer_size_;
    buffer_offset_ = offset;
    cursor_ = limit_ = buffer_.get();
  }
  tick_ = from.tick;
  running_status_ = from.running_status;
  done_ = false;
  last_status_tick_ = 0;
  has_status_tick_ = false;
}

bool TrackReader::refill_and_read(uint8_t* byte) {
  uint64_t offset = position();
  if (offset >= chunk_.data_end) return false;
  size_t wanted = static_cast<size_t>(std::min<uint64_t>(next_read_, chunk_.data_end - offset));
  next_read_ = buffer_size_;
  size_t got = source_.read_at(offset, buffer_.get(), wanted);
  buffer_offset_ = offset;
  cursor_ = buffer_.get();
  limit_ = cursor_ + got;
  if (got == 0) {
    // A read error inside the file: treat it as the end of the file.
    chunk_.data_end = offset;
    chunk_.cut_by_file_end = true;
    return false;
  }
  *byte = *cursor_++;
  return true;
}

bool TrackReader::skip(uint64_t count) {
  uint64_t in_buffer = static_cast<uint64_t>(limit_ - cursor_);
  if (count <= in_buffer) {
    cursor_ += count;
    return true;
  }
  uint64_t target = position() + count;
  bool inside = count <= chunk_.data_end - position();
  buffer_offset_ = inside ? target : chunk_.data_end;
  cursor_ = limit_ = buffer_.get();
  return inside;
}

bool TrackReader::read_length(uint64_t* value) {
  uint64_t result = 0;
  uint8_t byte;
  do {
    if (!read_byte(&byte)) return false;
    // A length beyond any file is as good as infinite: stop growing it.
    if (result < (uint64_t{1} << 48)) result = (result << 7) | (byte & 0x7F);
  } while (byte & 0x80);
  *value = result;
  return true;
}

ReadStatus TrackReader::finish(ReadStatus status) {
  done_ = true;
  return status;
}

ReadStatus TrackReader::next_in_general(TrackEvent* event) {
  if (done_) return ReadStatus::kTrackEnded;

  // Delta time: the low 32 bits of the quantity, however many bytes it has.
  uint32_t delta = 0;
  uint8_t byte;
  do {
    if (!read_byte(&byte)) return finish(chunk_.cut_by_file_end ? ReadStatus::kFileEnded : ReadStatus::kTrackEnded);
    delta = (delta << 7) | (byte & 0x7F);
  } while (byte & 0x80);
  tick_ += delta;

  if (!read_byte(&byte)) return finish(ReadStatus::kTrackEnded);
  event->tick = tick_;
  last_status_tick_ = tick_;
  has_status_tick_ = true;

  if (byte < 0x80) {
    if (running_status_ == 0) {
      // Data with no status before it: the byte and the one after it are
      // passed over, as if a two-byte message had lost its status.
      event->kind = EventKind::kOther;
      event->status = 0;
      return skip(1) ? ReadStatus::kEvent : cut(ReadStatus::kTrackEnded);
    }
    event->status = running_status_;
  } else if (byte < 0xF0) {
    running_status_ = byte;
    event->status = byte;
    if (!read_byte(&byte)) {
      return cut((event->status & 0xF0) == 0x90 ? ReadStatus::kNoteOnCut : ReadStatus::kTrackEnded);
    }
  } else {
    // System messages leave the running status alone.
    event->status = byte;
    event->kind = EventKind::kOther;
    if (byte == 0xFF) {
      uint8_t type;
      uint64_t length;
      if (!read_byte(&type) || !read_length(&length)) return finish(ReadStatus::kMetaCut);
      event->kind = EventKind::kMeta;
      event->meta_type = type;
      event->meta_length = length;
      if (length <= 4) {
        for (uint64_t i = 0; i < length; ++i) {
          if (!read_byte(&event->meta_data[i])) return cut(ReadStatus::kTrackEnded);
        }
      } else if (!skip(length)) {
        return cut(ReadStatus::kTrackEnded);
      }
      if (type == 0x2F) return finish(ReadStatus::kEndOfTrack);
      return ReadStatus::kEvent;
    }
    uint64_t length = 0;
    if (byte == 0xF0 || byte == 0xF7) {
      if (!read_length(&length)) return cut(ReadStatus::kTrackEnded);
      event->data_offset = position();
      event->data_length = length;
    } else if (byte == 0xF1 || byte == 0xF3) {
      length = 1;
    } else if (byte == 0xF2) {
      length = 2;
    }
    return skip(length) ? ReadStatus::kEvent : cut(ReadStatus::kTrackEnded);
  }

  // A channel message; byte is its first data byte.
  const uint8_t high = event->status & 0xF0;
  if (high == 0xC0 || high == 0xD0) {
    event->kind = EventKind::kChannel;
    event->data1 = byte;
    event->data2 = 0;
    return ReadStatus::kEvent;
  }
  uint8_t second;
  if (!read_byte(&second)) return cut(high == 0x90 ? ReadStatus::kNoteOnCut : ReadStatus::kTrackEnded);
  event->kind = high == 0x90 ? EventKind::kNoteOn : EventKind::kChannel;
  event->data1 = byte;
  event->data2 = second;
  return ReadStatus::kEvent;
}

}  // namespace onpu
