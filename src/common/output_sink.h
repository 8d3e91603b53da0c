// Where the beatmap text goes. The writer formats into a buffer of its own
// and hands the sink large blocks; a sink remembers whether any write failed,
// so a full disk is found and reported instead of leaving a short file.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace onpu {

class OutputSink {
 public:
  virtual ~OutputSink() = default;
  // Writes all n bytes or records a failure.
  virtual void write(const char* data, size_t n) = 0;
  // False once any write failed.
  virtual bool ok() const = 0;
  // Waits for whatever the sink still does in the background and returns
  // ok(). Nothing may be written after it.
  virtual bool finish() { return ok(); }
};

// Collects the text in memory (tests).
class StringSink : public OutputSink {
 public:
  void write(const char* data, size_t n) override { text.append(data, n); }
  bool ok() const override { return true; }
  std::string text;
};

// Counts the bytes and drops them (fuzzing).
class NullSink : public OutputSink {
 public:
  void write(const char*, size_t n) override { bytes += n; }
  bool ok() const override { return true; }
  uint64_t bytes = 0;
};

// Writes to an open stream that it does not own. On Linux it asks the kernel
// to start writing each few megabytes to disk as it goes, and a thread of its
// own syncs what was written each few megabytes while the beatmap is still
// being made. A sync waits for the disk to store everything written since the
// last one, so the sync before the file is put in place then has little left
// to wait for. finish(), or the destructor when the file is given up, must
// come before the stream is closed.
class FileSink : public OutputSink {
 public:
  explicit FileSink(std::FILE* file) : file_(file) {}
  ~FileSink() override;
  FileSink(const FileSink&) = delete;
  FileSink& operator=(const FileSink&) = delete;
  void write(const char* data, size_t n) override;
  bool ok() const override { return ok_ && !sync_failed_; }
  bool finish() override;

 private:
  void request_sync();
  void sync_loop(int descriptor);
  void stop_syncer();

  std::FILE* file_;
  bool ok_ = true;
  uint64_t written_ = 0;
  uint64_t handed_to_disk_ = 0;
  uint64_t sync_requested_at_ = 0;
  // The syncing thread, started at the first sync.
  std::thread syncer_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool sync_pending_ = false;
  bool stopping_ = false;
  std::atomic<bool> sync_failed_{false};
};

// A buffer in front of a sink. Text is appended with the append_* calls and
// reaches the sink in blocks; flush() hands over what is left.
class TextBuffer {
 public:
  explicit TextBuffer(OutputSink& sink);
  ~TextBuffer();
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  void append(std::string_view text) {
    if (text.size() > kCapacity - used_) {
      flush();
      if (text.size() > kCapacity) {
        sink_.write(text.data(), text.size());
        return;
      }
    }
    for (size_t i = 0; i < text.size(); ++i) data_[used_ + i] = text[i];
    used_ += text.size();
  }
  void append_char(char c) {
    if (used_ == kCapacity) flush();
    data_[used_++] = c;
  }
  // Plain decimal, a minus sign when negative, no leading zeros.
  void append_int(int64_t value);
  // Makes room for at least n bytes and returns where they go; commit(n)
  // then accepts them. n must be at most kReserveMax.
  char* reserve(size_t n) {
    if (kCapacity - used_ < n) flush();
    return data_ + used_;
  }
  void commit(size_t n) { used_ += n; }
  void flush();

  static constexpr size_t kReserveMax = 4096;

 private:
  static constexpr size_t kCapacity = 1 << 18;
  OutputSink& sink_;
  char* data_;
  size_t used_ = 0;
};

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the decimal form of value at out (at most 20 bytes) and returns the
// end of it. Most numbers of a beatmap line are short, so this is written
// for them: the digit count first, then two digits at a time from a table.
inline char* write_decimal(char* out, int64_t value) {
  uint64_t magnitude = static_cast<uint64_t>(value);
  if (value < 0) {
    *out++ = '-';
    magnitude = 0 - magnitude;
  }
  // Playfield coordinates have at most three digits.
  if (magnitude < 1000) {
    if (magnitude < 10) {
      *out = static_cast<char>('0' + magnitude);
      return out + 1;
    }
    if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
    const size_t pair = static_cast<size_t>(magnitude % 100) * 2;
    out[0] = kDigitPairs[pair];
    out[1] = kDigitPairs[pair + 1];
    return out + 2;
  }
  int count = 4;
  for (uint64_t bound = 10000; count < 20 && magnitude >= bound; bound *= 10) ++count;
  char* const end = out + count;
  char* p = end;
  while (magnitude >= 100) {
    const size_t pair = static_cast<size_t>(magnitude % 100) * 2;
    magnitude /= 100;
    p -= 2;
    p[0] = kDigitPairs[pair];
    p[1] = kDigitPairs[pair + 1];
  }
  if (magnitude >= 10) {
    const size_t pair = static_cast<size_t>(magnitude) * 2;
    p[-2] = kDigitPairs[pair];
    p[-1] = kDigitPairs[pair + 1];
  } else {
    p[-1] = static_cast<char>('0' + magnitude);
  }
  return end;
}

}  // namespace onpu
