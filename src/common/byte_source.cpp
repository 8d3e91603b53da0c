#include "common/byte_source.h"

#include <cstring>

namespace onpu {
namespace {

bool seek_to(std::FILE* file, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

}  // namespace

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
  position_known_ = false;
}

size_t FileSource::read_at(uint64_t offset, uint8_t* dst, size_t n) const {
  if (!file_ || offset >= size_) return 0;
  if (n > size_ - offset) n = static_cast<size_t>(size_ - offset);
  if (!position_known_ || position_ != offset) {
    if (!seek_to(file_, offset)) {
      position_known_ = false;
      return 0;
    }
  }
  size_t got = std::fread(dst, 1, n, file_);
  position_ = offset + got;
  position_known_ = got == n;
  return got;
}

}  // namespace onpu
