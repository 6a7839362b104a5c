// Files uploaded so soon after their last write that a second write may not
// show. A file system stamps writes with a clock that advances in ticks (a
// few milliseconds on Linux, two seconds on FAT): a write of the same size
// that lands in the tick after the upload read the file leaves size and
// last-write time as the journal recorded them, and would pass for
// unchanged. For a while after such an upload, a path whose size and time
// still match its row is compared by content with what was sent. In memory
// for one sync run; bounded. Sync thread only.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "Digest.h"
#include "platform/time.h"

namespace varnelo {

class RecentUploads {
 public:
  // How long after a file's last write it may be written again without a
  // new time: FAT's two-second tick, and a margin.
  static constexpr platform::FileTime kWindow = 3 * 10'000'000ULL;

  // Remembers what was sent for `path` (its keys, of `chunkSize` chunks),
  // whose size and last-write time were read as `fileSize` and `lastWrite`
  // before its content was read at `readAt`; only while that read fell in
  // the window.
  void uploaded(const std::string& path, uint64_t fileSize, platform::FileTime lastWrite,
                uint64_t chunkSize, platform::FileTime readAt, const std::vector<ChunkKey>& keys);

  // True when `path`, at `fileSize` and `lastWrite` (the row's), may hold
  // other bytes than the upload remembered for it: its content differs, or
  // cannot be read. False when nothing is remembered at that size and
  // time, or the content is the same.
  bool mayDiffer(const std::string& path, uint64_t fileSize, platform::FileTime lastWrite);

  void forget(const std::string& path) { sent_.erase(path); }

 private:
  struct Sent {
    uint64_t fileSize = 0;
    platform::FileTime lastWrite = 0;
    uint64_t chunkSize = 0;
    std::vector<ChunkKey> keys;
  };
  // Drops what no write can follow unseen any more.
  void expire(platform::FileTime now);

  static constexpr size_t kLimit = 4096;
  std::unordered_map<std::string, Sent> sent_;
};

}  // namespace varnelo
