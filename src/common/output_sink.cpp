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

}  // namespace onpu
