#include "ChunkKeys.h"

#include <algorithm>

#include "TransferCodes.h"
#include "platform/file.h"

namespace varnelo {

int computeChunkKeys(const std::string& path, uint64_t fileSize, uint64_t chunkSize,
                     std::vector<ChunkKey>& keys, const std::function<bool()>& stopping) {
  keys.clear();
  if (chunkSize == 0) return codes::kLocalFailure;
  platform::File file;
  if (file.open(path, platform::File::Mode::Read)) return codes::kLocalFailure;
  constexpr size_t kReadSize = 1 << 20;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(kReadSize, chunkSize)));
  const uint64_t count = chunkCountOf(fileSize, chunkSize);
  keys.reserve(count);
  Sha1 sha;
  uint64_t offset = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t end = offset + chunkLengthOf(i, fileSize, chunkSize);
    sha.reset();
    while (offset < end) {
      if (stopping && stopping()) return codes::kStopped;
      const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), end - offset));
      size_t got = 0;
      if (file.readAt(offset, buffer.data(), want, got) || got != want) return codes::kLocalFailure;
      sha.update(buffer.data(), got);
      offset += got;
    }
    keys.push_back(sha.finish());
  }
  return codes::kOk;
}

}  // namespace varnelo
