// Random-access reading of the MIDI file's bytes. The converter never holds
// the whole file: each track reader fills a small buffer of its own through
// read_at, so memory does not depend on the file's size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#ifdef _WIN32
#include <mutex>
#endif

namespace onpu {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // The number of bytes in the source.
  virtual uint64_t size() const = 0;
  // Copies up to n bytes starting at offset into dst and returns how many were
  // copied: fewer than n only at the end of the source or on a read error.
  // Several threads may read at once.
  virtual size_t read_at(uint64_t offset, uint8_t* dst, size_t n) const = 0;
};

// Bytes held by the caller, who keeps them alive while the source is used.
class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t size() const override { return size_; }
  size_t read_at(uint64_t offset, uint8_t* dst, size_t n) const override;

 private:
  const uint8_t* data_;
  size_t size_;
};

// An open binary stream. The source does not own or close it. On POSIX
// systems it reads by offset from the stream's file descriptor; elsewhere
// the stream is positioned and read under a lock.
class FileSource : public ByteSource {
 public:
  explicit FileSource(std::FILE* file);
  uint64_t size() const override { return size_; }
  size_t read_at(uint64_t offset, uint8_t* dst, size_t n) const override;

 private:
  std::FILE* file_;
  uint64_t size_ = 0;
#ifdef _WIN32
  mutable std::mutex mutex_;
#endif
};

}  // namespace onpu
