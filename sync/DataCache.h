// The chunk cache's data cache database, ".cache.db" in the cache folder:
// the data_journal table and four size counters (used, total, count, next
// id) read and written as one record. Owned by chunkcache::ChunkCache, which
// opens and closes it with the chunk index. Thread safe: every use holds the
// object's own lock.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "sqlite/Sqlite.h"

namespace chunkcache {

struct CacheCounters {
  int64_t usedSize = 0;
  int64_t totalSize = 1073741824;  // 1 GiB
  int64_t count = 0;
  int64_t nextId = 0;
};

class DataCache {
 public:
  static constexpr const char* kFileName = ".cache.db";

  DataCache() = default;
  DataCache(const DataCache&) = delete;
  DataCache& operator=(const DataCache&) = delete;

  // Opens `directory` + ".cache.db" (a "/" is added to a directory that
  // lacks one), creating the tables, and loads the counters; when any is
  // missing all four start over at their initial values. 0 or the first
  // failing SQLite code (the database is then closed).
  int open(const std::string& directory);
  void close();
  bool isOpen() const;

  std::string directory() const;  // ends in "/"
  CacheCounters counters() const;
  int writeCounters(const CacheCounters& counters);

 private:
  enum Stmt {
    kInsertConfig,
    kUpdateConfig,
    kSelectConfig,
    kInsertData,
    kSelectDataById,
    kSelectDataFrom,
    kDeleteData,
    kStatementCount
  };
  void closeLocked();
  int readCounters(CacheCounters& out);
  int writeCountersLocked(const CacheCounters& counters);

  mutable std::mutex mutex_;  // guards db_, stmts_, directory_ and counters_
  varnelo::sqlite::Database db_;
  std::array<varnelo::sqlite::Statement, kStatementCount> stmts_;
  std::string directory_;
  CacheCounters counters_;
};

}  // namespace chunkcache
