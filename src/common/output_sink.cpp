#include "common/output_sink.h"

#include <cstring>

namespace onpu {

void FileSink::write(const char* data, size_t n) {
  if (!ok_ || n == 0) return;
  if (std::fwrite(data, 1, n, file_) != n) ok_ = false;
}

TextBuffer::TextBuffer(OutputSink& sink) : sink_(sink), data_(new char[kCapacity]) {}

TextBuffer::~TextBuffer() { delete[] data_; }

void TextBuffer::flush() {
  if (used_ > 0) sink_.write(data_, used_);
  used_ = 0;
}

void TextBuffer::append_int(int64_t value) {
  char* out = reserve(24);
  commit(static_cast<size_t>(write_decimal(out, value) - out));
}

char* write_decimal(char* out, int64_t value) {
  uint64_t magnitude;
  if (value < 0) {
    *out++ = '-';
    magnitude = 0 - static_cast<uint64_t>(value);
  } else {
    magnitude = static_cast<uint64_t>(value);
  }
  char digits[20];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  while (count > 0) *out++ = digits[--count];
  return out;
}

}  // namespace onpu
