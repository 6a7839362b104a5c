#include "RecentUploads.h"

#include "ChunkKeys.h"
#include "Log.h"
#include "TransferCodes.h"

namespace varnelo {

void RecentUploads::uploaded(const std::string& path, uint64_t fileSize,
                             platform::FileTime lastWrite, uint64_t chunkSize,
                             platform::FileTime readAt, const std::vector<ChunkKey>& keys) {
  // A time in the future counts as recent until the clock has passed it.
  if (lastWrite + kWindow <= readAt) {
    sent_.erase(path);
    return;
  }
  if (sent_.size() >= kLimit) expire(platform::currentFileTime());
  // Past the bound only with thousands of files dated ahead of the clock:
  // the oldest memory of this kind is not worth more than the newest.
  if (sent_.size() >= kLimit) sent_.clear();
  sent_[path] = Sent{fileSize, lastWrite, chunkSize, keys};
}

bool RecentUploads::mayDiffer(const std::string& path, uint64_t fileSize,
                              platform::FileTime lastWrite) {
  auto it = sent_.find(path);
  if (it == sent_.end()) return false;
  const Sent& sent = it->second;
  if (sent.fileSize != fileSize || sent.lastWrite != lastWrite) return false;
  std::vector<ChunkKey> now;
  if (computeChunkKeys(path, fileSize, sent.chunkSize, now) != codes::kOk) return true;
  if (now == sent.keys) {
    if (lastWrite + kWindow <= platform::currentFileTime()) sent_.erase(it);
    return false;
  }
  log_write(kLogInfo, kModuleSync, "written again without a new size or time:[%s]", path.c_str());
  return true;
}

void RecentUploads::expire(platform::FileTime now) {
  std::erase_if(sent_,
                [now](const auto& entry) { return entry.second.lastWrite + kWindow <= now; });
}

}  // namespace varnelo
