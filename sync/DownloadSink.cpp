#include "DownloadSink.h"

#include <algorithm>

#include "platform/time.h"

namespace varnelo {

namespace {
constexpr uint64_t kTicksPerSecond = 10000000ULL;  // file time counts 100 ns
}

size_t DownloadSink::write(const char* data, size_t size) {
  const uint64_t now = platform::currentFileTime();
  // A time-only sample keeps the speed meters moving through a stall; once a
  // second is as good for them as once a piece.
  const int64_t tick = static_cast<int64_t>(now / kTicksPerSecond);
  if (callback_ && tick != lastTick_) {
    lastTick_ = tick;
    callback_->progress(now, 0);
  }
  if (callback_ && callback_->isStopping()) {
    ok_ = false;
    return 0;
  }
  // A failed write ends the transfer: the rest could not be written either.
  if (writeError_) return 0;
  if (!ok_ || taken_ >= expected_) return size;
  const size_t take = static_cast<size_t>(std::min<uint64_t>(size, expected_ - taken_));
  taken_ += take;
  if (block_.empty() && take >= kBlockBytes) {
    // A whole block at once (a local copy): written as it is, not copied.
    writeOut(data, take);
    return size;
  }
  if (block_.capacity() == 0) {
    block_.reserve(static_cast<size_t>(std::min<uint64_t>(kBlockBytes, expected_)));
  }
  size_t done = 0;
  while (done < take) {
    const size_t n = std::min(take - done, kBlockBytes - block_.size());
    block_.insert(block_.end(), data + done, data + done + n);
    done += n;
    if (block_.size() == kBlockBytes) flush();
  }
  return size;
}

void DownloadSink::flush() {
  if (block_.empty()) return;
  writeOut(block_.data(), block_.size());
  block_.clear();
}

void DownloadSink::writeOut(const char* data, size_t size) {
  if (!ok_) return;
  // Hashed first: the block is still in this core's cache, and the hash
  // needs no lock. A block that is then not written fails the sink, so a
  // hash that went ahead of the file never counts.
  sha_.update(data, size);
  std::unique_lock<std::mutex> lock;
  if (writeLock_) lock = std::unique_lock<std::mutex>(*writeLock_);
  if (const std::error_code ec = target_.writeAt(offset_ + written_, data, size)) {
    writeError_ = ec;
    ok_ = false;
    return;
  }
  if (lock.owns_lock()) lock.unlock();
  written_ += size;
  if (callback_) {
    callback_->progress(timeSamples_ ? platform::currentFileTime() : 0, static_cast<int64_t>(size));
  }
}

}  // namespace varnelo
