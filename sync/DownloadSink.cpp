#include "DownloadSink.h"

#include <algorithm>

#include "platform/time.h"

namespace varnelo {

size_t DownloadSink::write(const char* data, size_t size) {
  const uint64_t now = platform::currentFileTime();
  if (callback_) callback_->progress(now, 0);
  if (callback_ && callback_->isStopping()) {
    ok_ = false;
    return 0;
  }
  if (!ok_ || written_ >= expected_) return size;
  const size_t take = static_cast<size_t>(std::min<uint64_t>(size, expected_ - written_));
  if (target_.writeAt(offset_ + written_, data, take)) {
    ok_ = false;
    return size;
  }
  sha_.update(data, take);
  written_ += take;
  if (callback_) callback_->progress(timeSamples_ ? now : 0, static_cast<int64_t>(take));
  return size;
}

}  // namespace varnelo
