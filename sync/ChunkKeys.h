// Chunk arithmetic and the keys of a local file's chunks (SHA-1 of each
// chunk), read in one pass through bounded buffers; a file of several chunks
// is hashed on up to as many threads as the machine has cores (at most four,
// one 1 MiB buffer each), all joined before the call returns. Used on the
// sync thread by the upload path (keys to send), the download path (resuming
// a part file, conflict checks) and the chunk index. Thread safe.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Digest.h"

namespace varnelo {

// Number of chunks of a file: its size divided by the chunk size, rounded up.
inline uint64_t chunkCountOf(uint64_t fileSize, uint64_t chunkSize) {
  return chunkSize == 0 ? 0 : (fileSize + chunkSize - 1) / chunkSize;
}

// Length of chunk `index` (the last one is shorter).
inline uint64_t chunkLengthOf(uint64_t index, uint64_t fileSize, uint64_t chunkSize) {
  const uint64_t start = index * chunkSize;
  return start >= fileSize ? 0 : (fileSize - start < chunkSize ? fileSize - start : chunkSize);
}

// Keys of the chunks of the first `fileSize` bytes of `path`. 200; -4 when
// the file cannot be read to that size; -103 when `stopping` answers true
// before a read (it is asked before every read, from whichever hashing
// thread reads next, never from two at once). On failure `keys` is empty.
int computeChunkKeys(const std::string& path, uint64_t fileSize, uint64_t chunkSize,
                     std::vector<ChunkKey>& keys, const std::function<bool()>& stopping = {});

// The keys of one version of a file, the one whose size and last-write time
// were read as `fileSize` and `lastWrite`: as computeChunkKeys, and -109
// when, once every byte is read, the file no longer has that size or time
// (it was written to before or while it was read, so the keys may mix two
// versions and describe neither).
int computeVersionKeys(const std::string& path, uint64_t fileSize, uint64_t lastWrite,
                       uint64_t chunkSize, std::vector<ChunkKey>& keys,
                       const std::function<bool()>& stopping = {});

}  // namespace varnelo
