// chunkcache::ChunkCache: the local chunk index that lets a download copy a
// chunk from a file already on disk instead of fetching it. One row per
// chunk of every indexed file: key (SHA-1 of the chunk), lower-cased path,
// offset, length. Beside it the data cache database in the cache folder.
//
// The transfer paths record files on the sync thread, download tasks look
// keys up on the I/O workers, and rename/remove events arrive from the
// change monitor, all at once: thread safe, every statement runs under the
// index lock.
//
//   ChunkCache cache;
//   cache.open(dataDir + "chunks.db", dataDir + "cache");
//   cache.recordFile("/home/u/Sync/movie.mkv", size, 4194304, keys);
//   std::vector<ChunkLocation> found;
//   cache.findChunk(key, found, 0);  // every file that holds this chunk
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "DataCache.h"
#include "IDataCacheEvent.h"
#include "sqlite/Sqlite.h"

namespace chunkcache {

using ChunkKey = std::array<uint8_t, 20>;

struct ChunkLocation {
  std::string path;  // as found on disk when the file exists, else as stored
  uint64_t offset = 0;
  uint64_t length = 0;
};

class ChunkCache : public IDataCacheEvent {
 public:
  // E_ACCESSDENIED: open called while open.
  static constexpr int kAccessDenied = static_cast<int>(0x80070005u);

  ChunkCache() = default;
  virtual ~ChunkCache() { close(); }
  ChunkCache(const ChunkCache&) = delete;
  ChunkCache& operator=(const ChunkCache&) = delete;

  // Opens (creating) the index at `indexPath` and the data cache in
  // `cacheDirectory`. 0, kAccessDenied, or the first failing SQLite code,
  // in which case both stay closed.
  int open(const std::string& indexPath, const std::string& cacheDirectory);
  void close();
  bool isOpen() const;

  // Replaces the rows of `path` with one row per chunk: chunk i at
  // i × chunkSize, the last one shorter, for i below both the chunk count
  // and keys.size(). All or nothing: a failure keeps the previous rows.
  int recordFile(std::string_view path, uint64_t fileSize, uint64_t chunkSize,
                 std::span<const ChunkKey> keys);

  // The places that hold `key`, in row order; at most `limit` when limit ≥ 1.
  // Returns how many were found.
  int findChunk(const ChunkKey& key, std::vector<ChunkLocation>& out, int limit);
  // True when a row holds `key`: the index alone, with no look at the disk
  // for the file's real name.
  bool holdsChunk(const ChunkKey& key);

  // The keys recorded for `path` when they describe a file of `fileSize`
  // bytes cut into `chunkSize` chunks; false (and `out` empty) otherwise.
  bool keysOf(std::string_view path, uint64_t fileSize, uint64_t chunkSize,
              std::vector<ChunkKey>& out);
  // True when rows exist for `path`.
  bool hasFile(std::string_view path);
  // Indexed files below `folder` (lower-cased paths).
  int pathsUnder(std::string_view folder, std::vector<std::string>& out);

  // The rows of `oldPath` now belong to `newPath`; rows `newPath` had before
  // (a file replaced by the rename) are dropped.
  void onRename(const std::string& oldPath, const std::string& newPath) override;
  void onRemove(const std::string& path) override;

  CacheCounters counters() const { return data_.counters(); }
  std::string cacheDirectory() const { return data_.directory(); }

 private:
  enum Stmt {
    kInsertChunk,
    kRenamePath,
    kDeletePath,
    kSelectByKey,
    kSelectLike,
    kSelectIdByPath,
    kSelectByPath,
    kStatementCount
  };
  int deleteRowsLocked(const std::string& lowerPath);
  void closeIndexLocked();

  mutable std::mutex indexMutex_;  // guards index_ and stmts_ (every statement run)
  varnelo::sqlite::Database index_;
  std::array<varnelo::sqlite::Statement, kStatementCount> stmts_;
  DataCache data_;  // locks itself
};

}  // namespace chunkcache
