#include "common/output_sink.h"

#ifdef __linux__
#include <fcntl.h>
#endif

#include <cstring>

namespace onpu {

void FileSink::write(const char* data, size_t n) {
  if (!ok_ || n == 0) return;
  if (std::fwrite(data, 1, n, file_) != n) {
    ok_ = false;
    return;
  }
  written_ += n;
#ifdef __linux__
  constexpr uint64_t kWritebackStep = uint64_t{8} << 20;
  if (written_ - handed_to_disk_ >= kWritebackStep) {
    if (std::fflush(file_) != 0) {
      ok_ = false;
      return;
    }
    // Only starts the writeback; it neither waits nor reports errors, which
    // the sync at the end does.
    sync_file_range(fileno(file_), static_cast<off_t>(handed_to_disk_), static_cast<off_t>(written_ - handed_to_disk_),
                    SYNC_FILE_RANGE_WRITE);
    handed_to_disk_ = written_;
  }
#endif
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
