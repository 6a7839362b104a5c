// ArrivedContent: what one remote pass brought down, by content. The pass
// weighs its removals after its downloads; a removal whose files all have
// their content among what just arrived under other names (a folder renamed
// or moved on another computer) takes nothing off this computer that it does
// not still hold, and so is no deletion for the big-delete guard to ask
// about. It is still carried out as any removal is: only what is unchanged
// since the last sync goes.
//
// Content is told by size and chunk keys, the keys of a file that leaves
// read from the chunk index where it has them and from the file otherwise.
// Each arrival stands for one file only. Sync thread only.
//
//   ArrivedContent arrived;
//   arrived.add(size, chunkSize, keys);              // each download placed
//   if (arrived.coversAll(localPath, node, cache)) { /* a move, not a loss */ }
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

#include "Digest.h"
#include "LocalRemoval.h"

namespace chunkcache {
class ChunkCache;
}

namespace varnelo {

class ArrivedContent {
 public:
  // A file of `size` bytes whose chunks, cut at `chunkSize`, have `keys`.
  void add(uint64_t size, uint64_t chunkSize, std::span<const ChunkKey> keys);
  bool empty() const { return arrivals_.empty(); }

  // True when every file below (or at) `localPath` that still matches its
  // row in `node` has an arrival of the same content that no earlier call
  // used; those arrivals are then used up. Files changed since the last
  // sync need none: the removal keeps them. `cache` may be null.
  bool coversAll(const std::string& localPath, const JournalNode& node,
                 chunkcache::ChunkCache* cache);

 private:
  // Size, chunk size and a digest of the keys, side by side: fixed-size, so
  // that a pass placing many files keeps no string of its own per file.
  using Fingerprint = std::array<uint8_t, 2 * sizeof(uint64_t) + sizeof(ChunkKey)>;
  struct FingerprintHash {
    size_t operator()(const Fingerprint& print) const noexcept {
      return std::hash<std::string_view>{}(
          std::string_view(reinterpret_cast<const char*>(print.data()), print.size()));
    }
  };
  static Fingerprint fingerprint(uint64_t size, uint64_t chunkSize, std::span<const ChunkKey> keys);
  // Adds to `wanted` the arrival each file below `localPath` needs; false as
  // soon as one has none.
  bool gather(const std::string& localPath, const JournalNode& node, chunkcache::ChunkCache* cache,
              std::map<Fingerprint, uint32_t>& wanted) const;
  bool gatherFile(const std::string& localPath, uint64_t size, chunkcache::ChunkCache* cache,
                  std::map<Fingerprint, uint32_t>& wanted) const;

  std::unordered_map<Fingerprint, uint32_t, FingerprintHash> arrivals_;  // not yet used up
  std::unordered_map<uint64_t, std::set<uint64_t>> chunkSizes_;          // by file size
};

}  // namespace varnelo
