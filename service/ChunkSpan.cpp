#include "ChunkSpan.h"

#include <algorithm>

namespace varnelo::service {

bool ChunkSpan::read(uint64_t offset, char* out, size_t size) {
  while (size > 0) {
    uint64_t index = offset / chunkSize_;
    uint64_t within = offset % chunkSize_;
    if ((index + 1) * 20 > keys_.size()) return false;
    if (index != openIndex_) {
      reader_ = std::make_unique<ChunkReader>(chunks_, keys_.substr(index * 20, 20));
      openIndex_ = index;
    }
    size_t n = static_cast<size_t>(std::min<uint64_t>(size, chunkSize_ - within));
    if (!reader_->ok() || !reader_->readAt(within, out, n)) return false;
    out += n;
    offset += n;
    size -= n;
  }
  return true;
}

}  // namespace varnelo::service
