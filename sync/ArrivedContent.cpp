#include "ArrivedContent.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "ChunkCache.h"
#include "ChunkKeys.h"
#include "SyncPaths.h"
#include "TransferCodes.h"
#include "platform/files.h"

namespace varnelo {

namespace files = platform::files;

ArrivedContent::Fingerprint ArrivedContent::fingerprint(uint64_t size, uint64_t chunkSize,
                                                        std::span<const ChunkKey> keys) {
  // A file of one chunk (or none) has the same keys whatever size its
  // chunks were cut at.
  if (size <= chunkSize) chunkSize = 0;
  Sha1 digest;
  digest.update(keys.data(), keys.size_bytes());
  const ChunkKey keysDigest = digest.finish();
  Fingerprint out{};
  std::memcpy(out.data(), &size, sizeof size);
  std::memcpy(out.data() + sizeof size, &chunkSize, sizeof chunkSize);
  std::memcpy(out.data() + sizeof size + sizeof chunkSize, keysDigest.data(), keysDigest.size());
  return out;
}

void ArrivedContent::add(uint64_t size, uint64_t chunkSize, std::span<const ChunkKey> keys) {
  if (size > 0 && (chunkSize == 0 || keys.size() != chunkCountOf(size, chunkSize))) return;
  ++arrivals_[fingerprint(size, chunkSize, keys)];
  chunkSizes_[size].insert(chunkSize);
}

bool ArrivedContent::coversAll(const std::string& localPath, const JournalNode& node,
                               chunkcache::ChunkCache* cache) {
  if (arrivals_.empty()) return false;
  std::map<Fingerprint, uint32_t> wanted;
  if (!gather(localPath, node, cache, wanted) || wanted.empty()) return false;
  for (const auto& [print, count] : wanted) {
    auto it = arrivals_.find(print);
    if (it == arrivals_.end() || it->second < count) return false;
  }
  for (const auto& [print, count] : wanted) {
    auto it = arrivals_.find(print);
    if ((it->second -= count) == 0) arrivals_.erase(it);
  }
  return true;
}

bool ArrivedContent::gather(const std::string& localPath, const JournalNode& node,
                            chunkcache::ChunkCache* cache,
                            std::map<Fingerprint, uint32_t>& wanted) const {
  files::EntryInfo info;
  // Gone already, or changed since the last sync (the removal keeps it):
  // nothing of it leaves.
  if (files::stat(localPath, info) || !matchesRow(info, node.row)) return true;
  if (info.type == files::EntryType::File) return gatherFile(localPath, info.size, cache, wanted);
  std::vector<files::DirEntry> entries;
  if (files::listDirectory(localPath, entries)) return false;
  for (const auto& e : entries) {
    const std::string key = nameKey(e.name);
    auto it = std::find_if(node.children.begin(), node.children.end(),
                           [&](const JournalNode& n) { return n.row.name == key; });
    // Entries the journal does not know are new local work, which the
    // removal keeps.
    if (it == node.children.end()) continue;
    if (!gather(files::joinPath(localPath, e.name), *it, cache, wanted)) return false;
  }
  return true;
}

bool ArrivedContent::gatherFile(const std::string& localPath, uint64_t size,
                                chunkcache::ChunkCache* cache,
                                std::map<Fingerprint, uint32_t>& wanted) const {
  auto sizes = chunkSizes_.find(size);
  if (sizes == chunkSizes_.end()) return false;  // nothing of that size arrived
  std::vector<ChunkKey> keys;
  for (const uint64_t chunkSize : sizes->second) {
    if (size > 0 && !(cache && cache->keysOf(localPath, size, chunkSize, keys)) &&
        computeChunkKeys(localPath, size, chunkSize, keys) != codes::kOk) {
      return false;
    }
    const Fingerprint print = fingerprint(size, chunkSize, keys);
    if (arrivals_.count(print)) {
      ++wanted[print];
      return true;
    }
  }
  return false;
}

}  // namespace varnelo
