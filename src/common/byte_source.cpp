#include "common/byte_source.h"

#include <cstring>

#ifndef _WIN32
#include <cerrno>
#include <unistd.h>
#endif

namespace onpu {

size_t MemorySource::read_at(uint64_t offset, uint8_t* dst, size_t n) const {
  if (offset >= size_) return 0;
  size_t available = size_ - static_cast<size_t>(offset);
  if (n > available) n = available;
  if (n > 0) std::memcpy(dst, data_ + offset, n);
  return n;
}

FileSource::FileSource(std::FILE* file) : file_(file) {
  // Readers ask for whole buffers of their own; a stream buffer in between
  // would only copy every byte once more.
  if (file_) std::setvbuf(file_, nullptr, _IONBF, 0);
  // The size is taken once: the converter reads a file that is not being
  // written meanwhile, and every bound it checks is against this number.
  if (file_ && std::fseek(file_, 0, SEEK_END) == 0) {
#ifdef _WIN32
    long long end = _ftelli64(file_);
#else
    off_t end = ftello(file_);
#endif
    if (end > 0) size_ = static_cast<uint64_t>(end);
  }
}

size_t FileSource::read_at(uint64_t offset, uint8_t* dst, size_t n) const {
  if (!file_ || offset >= size_) return 0;
  if (n > size_ - offset) n = static_cast<size_t>(size_ - offset);
#ifdef _WIN32
  std::lock_guard<std::mutex> lock(mutex_);
  if (_fseeki64(file_, static_cast<long long>(offset), SEEK_SET) != 0) return 0;
  return std::fread(dst, 1, n, file_);
#else
  const int descriptor = fileno(file_);
  size_t got = 0;
  while (got < n) {
    ssize_t read = pread(descriptor, dst + got, n - got, static_cast<off_t>(offset + got));
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) break;
    got += static_cast<size_t>(read);
  }
  return got;
#endif
}

}  // namespace onpu
