#include "common/output_sink.h"

#ifdef __linux__
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstring>
#include <system_error>

namespace onpu {

void FileSink::write(const char* data, size_t n) {
  if (!ok_ || n == 0) return;
  if (std::fwrite(data, 1, n, file_) != n) {
    ok_ = false;
    return;
  }
  written_ += n;
#ifdef __linux__
  constexpr uint64_t kWritebackStep = uint64_t{4} << 20;
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
    // Syncs come at every step at first, so that a beatmap of a few tens of
    // megabytes has little left for the last sync too, and then less often:
    // each one costs the disk a commit.
    constexpr uint64_t kSyncStep = uint64_t{16} << 20;
    const uint64_t step = handed_to_disk_ <= 4 * kSyncStep ? kWritebackStep : kSyncStep;
    if (handed_to_disk_ - sync_requested_at_ >= step) request_sync();
  }
#endif
}

FileSink::~FileSink() { stop_syncer(); }

bool FileSink::finish() {
#ifdef __linux__
  if (syncer_.joinable()) {
    // The last sync runs while the thread may still be in its own, so the
    // two waits overlap; the one before the rename then finds nothing to do.
    if (std::fflush(file_) != 0) {
      ok_ = false;
    } else if (fsync(fileno(file_)) != 0) {
      sync_failed_ = true;
    }
  }
#endif
  stop_syncer();
  return ok();
}

void FileSink::stop_syncer() {
  if (!syncer_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  syncer_.join();
}

void FileSink::request_sync() {
  sync_requested_at_ = handed_to_disk_;
  if (!syncer_.joinable()) {
    // Without a thread the sync before the file is put in place does it all.
    try {
      syncer_ = std::thread(&FileSink::sync_loop, this, fileno(file_));
    } catch (const std::system_error&) {
      return;
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sync_pending_ = true;
  }
  wake_.notify_one();
}

void FileSink::sync_loop(int descriptor) {
#ifdef __linux__
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return sync_pending_ || stopping_; });
    // A sync still asked for is left to the one before the file is closed.
    if (stopping_) return;
    sync_pending_ = false;
    lock.unlock();
    // An error here may be reported to this call alone, not to the final
    // sync, so it is kept.
    if (fdatasync(descriptor) != 0) sync_failed_ = true;
    lock.lock();
  }
#else
  (void)descriptor;
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
