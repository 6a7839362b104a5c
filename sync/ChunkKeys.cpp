#include "ChunkKeys.h"

#include <algorithm>
#include <memory>

#include "TransferCodes.h"
#include "platform/file.h"
#include "platform/files.h"

namespace varnelo {

int computeChunkKeys(const std::string& path, uint64_t fileSize, uint64_t chunkSize,
                     std::vector<ChunkKey>& keys, const std::function<bool()>& stopping) {
  keys.clear();
  if (chunkSize == 0) return codes::kLocalFailure;
  platform::File file;
  if (file.open(path, platform::File::Mode::Read)) return codes::kLocalFailure;
  // Sized to the file as well: a buffer of a full read block for a file of a
  // few kilobytes cost more to allocate and clear than hashing the file.
  constexpr uint64_t kReadSize = 1 << 20;
  const size_t bufferSize =
      static_cast<size_t>(std::min({kReadSize, chunkSize, std::max<uint64_t>(fileSize, 1)}));
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bufferSize]);
  const uint64_t count = chunkCountOf(fileSize, chunkSize);
  keys.reserve(count);
  Sha1 sha;
  uint64_t offset = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t end = offset + chunkLengthOf(i, fileSize, chunkSize);
    sha.reset();
    while (offset < end) {
      if (stopping && stopping()) return codes::kStopped;
      const size_t want = static_cast<size_t>(std::min<uint64_t>(bufferSize, end - offset));
      size_t got = 0;
      if (file.readAt(offset, buffer.get(), want, got) || got != want) return codes::kLocalFailure;
      sha.update(buffer.get(), got);
      offset += got;
    }
    keys.push_back(sha.finish());
  }
  return codes::kOk;
}

int computeVersionKeys(const std::string& path, uint64_t fileSize, uint64_t lastWrite,
                       uint64_t chunkSize, std::vector<ChunkKey>& keys,
                       const std::function<bool()>& stopping) {
  const int rc = computeChunkKeys(path, fileSize, chunkSize, keys, stopping);
  if (rc != codes::kOk && rc != codes::kLocalFailure) return rc;
  // Also after a short read: a file cut short meanwhile has changed, and is
  // tried again rather than reported as unreadable.
  platform::files::EntryInfo now;
  if (platform::files::stat(path, now)) return codes::kLocalFailure;
  if (now.size != fileSize || now.lastWrite != lastWrite) {
    keys.clear();
    return codes::kFileChanged;
  }
  return rc;
}

}  // namespace varnelo
