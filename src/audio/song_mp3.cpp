#include "audio/song_mp3.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/file_bytes.h"
#include "audio/mp3_frames.h"
#include "common/threads.h"

namespace onpu::audio {
namespace {

// Sample frames per MPEG-1 Layer III frame.
constexpr size_t kFrameSamples = 1152;
// Sample frames read from the samples file at a time.
constexpr size_t kReadFrames = 64 * 1024;
// Frames before the middle whose bytes may hold the reservoir of the frame
// joined at.
constexpr size_t kReservoirFrames = 8;
// Frames the first encoder runs past the join window: LAME gives out a
// frame's bytes only once it has coded a little beyond it.
constexpr size_t kFirstLagFrames = 8;

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

FilePtr open_for_reading(const std::string& path) { return FilePtr(open_utf8_file(path, "rb"), std::fclose); }

std::string cannot_read(const std::string& path) { return "エラー: 一時ファイルを読めません: " + path + "\n"; }

const char kCannotJoin[] = "エラー: 曲の MP3 をつなげません\n";

bool write_bytes(std::FILE* out, const uint8_t* data, size_t size) {
  return size == 0 || std::fwrite(data, 1, size, out) == size;
}

// Told each time a stretch of frames has been encoded.
using EncodedFrames = std::function<void(size_t frames)>;

// Feeds sample frames [from, to) of the samples file to `encoder` and writes
// what it gives out to `out`.
bool encode_range(const std::string& samples_path, size_t channels, size_t from, size_t to, float gain,
                  Mp3Encoder& encoder, AtomicOutputFile& out, const EncodedFrames& encoded, std::string* error) {
  FilePtr in = open_for_reading(samples_path);
  const size_t frame_bytes = channels * sizeof(float);
  if (!in || !seek_file(in.get(), static_cast<int64_t>(from * frame_bytes), SEEK_SET)) {
    *error = "エラー: 一時ファイルを開けません: " + samples_path + "\n";
    return false;
  }
  std::vector<float> chunk(kReadFrames * channels);
  std::vector<uint8_t> bytes;
  for (size_t at = from; at < to;) {
    size_t count = std::min(kReadFrames, to - at);
    if (std::fread(chunk.data(), frame_bytes, count, in.get()) != count) {
      *error = cannot_read(samples_path);
      return false;
    }
    bytes.clear();
    if (!encoder.encode(chunk.data(), count, gain, &bytes, error)) return false;
    if (!write_bytes(out.stream(), bytes.data(), bytes.size())) {
      *error = cannot_write_scratch(out.temp_path());
      return false;
    }
    at += count;
    encoded(count);
  }
  return true;
}

// Ends the stream; its Info frame, if it has one, goes over the room LAME
// left at the start.
bool finish_stream(Mp3Encoder& encoder, AtomicOutputFile& out, std::string* error) {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> info;
  if (!encoder.finish(&bytes, &info, error)) return false;
  if (!write_bytes(out.stream(), bytes.data(), bytes.size()) ||
      (!info.empty() &&
       (!seek_file(out.stream(), 0, SEEK_SET) || !write_bytes(out.stream(), info.data(), info.size()))) ||
      std::fflush(out.stream()) != 0) {
    *error = cannot_write_scratch(out.temp_path());
    return false;
  }
  return true;
}

// Goes through the frames of an MP3 file from its start.
class FrameWalker {
 public:
  explicit FrameWalker(std::FILE* file) : file_(file) {}

  // The next whole frame: its header, where it starts and its bytes (valid
  // until the next call). False at the end of the file, at a frame cut off
  // by it, and where no frame starts.
  bool next(Mp3Frame* frame, uint64_t* offset, const uint8_t** bytes) {
    constexpr size_t kLongestHeader = 4 + 2 + 32;
    fill(kLongestHeader);
    if (!parse_mp3_frame(buffer_.data() + at_, buffer_.data() + size_, frame) || !fill(frame->size)) return false;
    *offset = start_ + at_;
    *bytes = buffer_.data() + at_;
    at_ += frame->size;
    return true;
  }

  // Where the next frame would start.
  uint64_t offset() const { return start_ + at_; }

 private:
  // Makes `count` bytes from the current frame on readable, if the file has
  // them.
  bool fill(size_t count) {
    if (size_ - at_ >= count) return true;
    std::memmove(buffer_.data(), buffer_.data() + at_, size_ - at_);
    start_ += at_;
    size_ -= at_;
    at_ = 0;
    size_ += std::fread(buffer_.data() + size_, 1, buffer_.size() - size_, file_);
    return size_ >= count;
  }

  std::FILE* file_;
  std::vector<uint8_t> buffer_ = std::vector<uint8_t>(1 << 20);
  uint64_t start_ = 0;  // file offset of buffer_[0]
  size_t at_ = 0;
  size_t size_ = 0;
};

struct FrameAt {
  uint64_t offset = 0;
  Mp3Frame frame;
};

// The frames numbered first..last of the file at `path`, counting from the
// one after the first `skip` frames; fewer when the file ends before.
bool scan_frames(const std::string& path, size_t skip, size_t first, size_t last, std::vector<FrameAt>* frames,
                 std::string* error) {
  FilePtr in = open_for_reading(path);
  if (!in) {
    *error = cannot_read(path);
    return false;
  }
  FrameWalker walker(in.get());
  FrameAt at;
  const uint8_t* bytes = nullptr;
  for (size_t index = 0; index < skip + last + 1 && walker.next(&at.frame, &at.offset, &bytes); ++index) {
    if (index >= skip + first) frames->push_back(at);
  }
  return true;
}

struct Span {
  uint64_t offset = 0;
  size_t size = 0;
};

// Where the last `count` bytes of main data before frames[index] lie, in
// stream order: the room after the side information of the frames before
// it. False when they reach back past frames[0].
bool reservoir_spans(const std::vector<FrameAt>& frames, size_t index, size_t count, std::vector<Span>* spans) {
  spans->clear();
  for (size_t k = index; count > 0;) {
    if (k == 0) return false;
    const FrameAt& before = frames[--k];
    size_t take = std::min(before.frame.size - before.frame.side_end, count);
    spans->push_back({before.offset + before.frame.size - take, take});
    count -= take;
  }
  std::reverse(spans->begin(), spans->end());
  return true;
}

// Where the two streams meet: frames[join] of each, by which time the second
// encoder codes the sound with the same windows as the first (so the
// windows before and after the join fit together as in the first stream)
// and its reservoir fits in the room the first stream had left for its own.
// The second stream must also reach past the first one's end, as the joined
// stream is written over the first.
struct Join {
  size_t index = 0;
  std::vector<Span> first_spans;
  std::vector<Span> second_spans;
};

bool find_join(const std::vector<FrameAt>& first, const std::vector<FrameAt>& second, size_t from, size_t to,
               uint64_t first_size, uint64_t second_size, Join* join) {
  to = std::min({to, first.size(), second.size()});
  for (size_t i = from; i < to; ++i) {
    const Mp3Frame& a = first[i].frame;
    const Mp3Frame& b = second[i].frame;
    if (b.main_data_begin > a.main_data_begin || a.channels != b.channels ||
        a.kilobits_per_second != b.kilobits_per_second || std::memcmp(a.windows, b.windows, sizeof a.windows) != 0 ||
        second_size - second[i].offset < first_size - first[i].offset) {
      continue;
    }
    auto need = static_cast<size_t>(b.main_data_begin);
    if (reservoir_spans(first, i, need, &join->first_spans) && reservoir_spans(second, i, need, &join->second_spans)) {
      join->index = i;
      return true;
    }
  }
  return false;
}

bool read_spans(std::FILE* in, const std::vector<Span>& spans, std::vector<uint8_t>* bytes) {
  for (const Span& span : spans) {
    size_t at = bytes->size();
    bytes->resize(at + span.size);
    if (!seek_file(in, static_cast<int64_t>(span.offset), SEEK_SET) ||
        std::fread(bytes->data() + at, 1, span.size, in) != span.size) {
      return false;
    }
  }
  return true;
}

// Writes the second stream from its frame at `from` over the first from
// `to` on, and the second's reservoir for that frame into the first's room
// for main data before it.
bool splice(const Join& join, uint64_t from, uint64_t to, AtomicOutputFile& out, const std::string& second_path,
            std::string* error) {
  FilePtr in = open_for_reading(second_path);
  std::vector<uint8_t> bytes;
  if (!in || !read_spans(in.get(), join.second_spans, &bytes)) {
    *error = cannot_read(second_path);
    return false;
  }
  size_t taken = 0;
  for (const Span& span : join.first_spans) {
    if (!seek_file(out.stream(), static_cast<int64_t>(span.offset), SEEK_SET) ||
        !write_bytes(out.stream(), bytes.data() + taken, span.size)) {
      *error = cannot_write_scratch(out.temp_path());
      return false;
    }
    taken += span.size;
  }
  if (!seek_file(in.get(), static_cast<int64_t>(from), SEEK_SET) ||
      !seek_file(out.stream(), static_cast<int64_t>(to), SEEK_SET)) {
    *error = cannot_write_scratch(out.temp_path());
    return false;
  }
  bytes.resize(1 << 20);
  for (;;) {
    size_t count = std::fread(bytes.data(), 1, bytes.size(), in.get());
    if (count == 0) break;
    if (!write_bytes(out.stream(), bytes.data(), count)) {
      *error = cannot_write_scratch(out.temp_path());
      return false;
    }
  }
  if (std::ferror(in.get())) {
    *error = cannot_read(second_path);
    return false;
  }
  if (std::fflush(out.stream()) != 0) {
    *error = cannot_write_scratch(out.temp_path());
    return false;
  }
  return true;
}

// Counts the joined stream's frames and takes its CRC; the stream must be
// whole frames from its Info frame to its end.
bool stream_totals(const std::string& path, uint64_t size, size_t* info_size, Mp3StreamTotals* totals,
                   std::string* error) {
  FilePtr in = open_for_reading(path);
  if (!in) {
    *error = cannot_read(path);
    return false;
  }
  FrameWalker walker(in.get());
  Mp3Frame frame;
  uint64_t offset = 0;
  const uint8_t* bytes = nullptr;
  if (!walker.next(&frame, &offset, &bytes)) {
    *error = kCannotJoin;
    return false;
  }
  *info_size = frame.size;
  while (walker.next(&frame, &offset, &bytes)) {
    if (totals->frames == 0) totals->kilobits_per_second = frame.kilobits_per_second;
    if (frame.kilobits_per_second != totals->kilobits_per_second) break;
    ++totals->frames;
    totals->bytes += frame.size;
    totals->crc = mp3_crc16(bytes, frame.size, totals->crc);
  }
  if (walker.offset() != size) {
    *error = kCannotJoin;
    return false;
  }
  return true;
}

}  // namespace

bool encode_samples_mp3(const std::string& samples_path, size_t frames, float gain, const Mp3Format& format,
                        const Mp3SplitOptions& options, AtomicOutputFile& out, AtomicOutputFile& spare,
                        std::string* error) {
  const auto channels = static_cast<size_t>(std::max(format.channels, 1));
  Mp3Encoder first;
  if (!first.start(format, error)) return false;
  const size_t middle = frames / kFrameSamples / 2;
  const size_t back = std::min(kReservoirFrames, options.warm_up);
  std::mutex progress_mutex;
  size_t frames_encoded = 0;
  size_t frames_to_encode = frames;
  EncodedFrames encoded = [&](size_t count) {
    if (!options.progress) return;
    std::lock_guard<std::mutex> lock(progress_mutex);
    frames_encoded += count;
    options.progress(static_cast<double>(frames_encoded) / static_cast<double>(frames_to_encode));
  };
  if (frames < options.min_frames || options.window == 0 || middle < 2 * (options.warm_up + options.window) + 16) {
    return encode_range(samples_path, channels, 0, frames, gain, first, out, encoded, error) &&
           finish_stream(first, out, error);
  }
  // The second encoder's frame i is the first's frame i + shift.
  const size_t shift = middle - options.warm_up;
  const size_t first_end = std::min(frames, (middle + options.window + kFirstLagFrames) * kFrameSamples);
  frames_to_encode = first_end + (frames - shift * kFrameSamples);
  Mp3Format second_format = format;
  second_format.info_frame = false;
  Mp3Encoder second;
  if (!second.start(second_format, error)) return false;

  bool first_ok = false;
  bool second_ok = false;
  std::string first_error;
  std::string second_error;
  run_side_by_side(
      [&] { first_ok = encode_range(samples_path, channels, 0, first_end, gain, first, out, encoded, &first_error); },
      [&] {
        second_ok = encode_range(samples_path, channels, shift * kFrameSamples, frames, gain, second, spare, encoded,
                                 &second_error) &&
                    finish_stream(second, spare, &second_error);
      });
  if (!first_ok || !second_ok) {
    *error = first_ok ? second_error : first_error;
    return false;
  }
  if (std::fflush(out.stream()) != 0) {
    *error = cannot_write_scratch(out.temp_path());
    return false;
  }
  const int64_t first_size = tell_file(out.stream());
  const int64_t second_size = tell_file(spare.stream());
  if (first_size < 0 || second_size < 0) {
    *error = cannot_read(out.temp_path());
    return false;
  }

  // Both lists start `back` frames before the middle: entry i is the same
  // stretch of sound in each.
  std::vector<FrameAt> first_frames;
  std::vector<FrameAt> second_frames;
  const size_t last = middle + options.window;
  if (!scan_frames(out.temp_path(), 1, middle - back, last, &first_frames, error) ||
      !scan_frames(spare.temp_path(), 0, middle - back - shift, last - shift, &second_frames, error)) {
    return false;
  }
  Join join;
  if (!find_join(first_frames, second_frames, back, back + options.window, static_cast<uint64_t>(first_size),
                 static_cast<uint64_t>(second_size), &join)) {
    // The first encoder goes on alone: the bytes of one encoding.
    // (Its progress past the whole is told as the whole.)
    return encode_range(samples_path, channels, first_end, frames, gain, first, out, encoded, error) &&
           finish_stream(first, out, error);
  }
  const uint64_t join_at = first_frames[join.index].offset;
  if (!splice(join, second_frames[join.index].offset, join_at, out, spare.temp_path(), error)) return false;

  // The Info frame the first encoder would write, made to tell of the whole.
  const uint64_t size = join_at + static_cast<uint64_t>(second_size) - second_frames[join.index].offset;
  Mp3StreamTotals totals;
  totals.padding = second.padding();
  size_t info_size = 0;
  std::vector<uint8_t> info;
  if (!stream_totals(out.temp_path(), size, &info_size, &totals, error) || !first.info_frame(&info, error)) {
    return false;
  }
  if (info.size() != info_size || !complete_info_frame(totals, &info)) {
    *error = kCannotJoin;
    return false;
  }
  if (!seek_file(out.stream(), 0, SEEK_SET) || !write_bytes(out.stream(), info.data(), info.size()) ||
      std::fflush(out.stream()) != 0) {
    *error = cannot_write_scratch(out.temp_path());
    return false;
  }
  return true;
}

}  // namespace onpu::audio
