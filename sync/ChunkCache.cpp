#include "ChunkCache.h"

#include <algorithm>
#include <cstring>

#include "CasePath.h"
#include "EngineSqlite.h"
#include "Log.h"
#include "platform/text.h"

namespace chunkcache {
namespace {

constexpr const char* kCreateIndex =
    "CREATE TABLE IF NOT EXISTS index_journal(id INTEGER PRIMARY KEY,key BLOB,path TEXT NOT "
    "NULL,offset INTEGER,length INTEGER,UNIQUE(path, offset, length))";

constexpr const char* kStatementTexts[] = {
    "INSERT INTO index_journal VALUES(NULL, ?, ?, ?, ?)",
    "UPDATE index_journal SET path=? WHERE path=?",
    "DELETE FROM index_journal WHERE path=?",
    "SELECT path, offset, length FROM index_journal WHERE key==?",
    "SELECT path FROM index_journal WHERE path like ?",
    "SELECT id FROM index_journal WHERE path==?",
    "SELECT key, offset, length FROM index_journal WHERE path==? ORDER BY offset",
};

using varnelo::kLogError;
using varnelo::kModuleSync;
using varnelo::log_write;
using varnelo::sqlite::ResetGuard;
using varnelo::sqlite::Transaction;

}  // namespace

int ChunkCache::open(const std::string& indexPath, const std::string& cacheDirectory) {
  std::lock_guard<std::mutex> lock(indexMutex_);
  if (index_.isOpen()) return kAccessDenied;
  auto openIndex = [&] {
    int rc = index_.open(indexPath, 0600);
    if (rc == SQLITE_OK) {
      index_.useWal();
      rc = index_.exec(kCreateIndex);
    }
    for (int i = 0; rc == SQLITE_OK && i < kStatementCount; ++i) {
      stmts_[i] = index_.prepare(kStatementTexts[i]);
      if (!stmts_[i].valid())
        rc = sqlite3_errcode(index_.get()) ? sqlite3_errcode(index_.get()) : 1;
    }
    return rc;
  };
  // Only a cache: a damaged index is set aside and filled again.
  int rc =
      varnelo::sqlite::openSettingDamagedAside(indexPath, openIndex, [&] { closeIndexLocked(); });
  if (rc != SQLITE_OK) {
    log_write(kLogError, kModuleSync, "failed to open chunk index:[%s], sqlite error:[%d]",
              indexPath.c_str(), rc);
    log_location();
    closeIndexLocked();
    return rc;
  }
  rc = data_.open(cacheDirectory);
  if (rc != SQLITE_OK) closeIndexLocked();
  return rc;
}

void ChunkCache::closeIndexLocked() {
  for (auto& st : stmts_) st = varnelo::sqlite::Statement();
  index_.close();
}

void ChunkCache::close() {
  std::lock_guard<std::mutex> lock(indexMutex_);
  closeIndexLocked();
  data_.close();
}

bool ChunkCache::isOpen() const {
  std::lock_guard<std::mutex> lock(indexMutex_);
  return index_.isOpen();
}

int ChunkCache::deleteRowsLocked(const std::string& lowerPath) {
  auto& st = stmts_[kDeletePath];
  ResetGuard guard(st);
  st.bind(1, lowerPath);
  const int rc = st.step();
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int ChunkCache::recordFile(std::string_view path, uint64_t fileSize, uint64_t chunkSize,
                           std::span<const ChunkKey> keys) {
  if (chunkSize == 0) {
    log_write(kLogError, kModuleSync, "chunk size 0 for:[%.*s], nothing indexed",
              static_cast<int>(path.size()), path.data());
    return SQLITE_MISUSE;
  }
  const std::string lower = platform::asciiLower(path);
  const uint64_t chunkCount = fileSize / chunkSize + (fileSize % chunkSize ? 1 : 0);

  std::lock_guard<std::mutex> lock(indexMutex_);
  if (!index_.isOpen()) return SQLITE_MISUSE;
  // One transaction: a crash or a failed insert never leaves half a file's
  // rows, and the file costs one commit instead of one per chunk.
  Transaction tx(index_);
  int rc = deleteRowsLocked(lower);
  auto& insert = stmts_[kInsertChunk];
  for (uint64_t i = 0; rc == SQLITE_OK && i < chunkCount && i < keys.size(); ++i) {
    const uint64_t offset = i * chunkSize;
    const uint64_t length = i + 1 == chunkCount ? fileSize - offset : chunkSize;
    ResetGuard guard(insert);
    insert.bindBlob(1, keys[i].data(), keys[i].size()).bind(2, lower);
    insert.bind(3, offset).bind(4, length);
    rc = insert.step();
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
  }
  if (rc == SQLITE_OK && !tx.commit()) rc = sqlite3_errcode(index_.get());
  if (rc != SQLITE_OK) {
    log_write(kLogError, kModuleSync, "failed to index chunks of:[%s], sqlite error:[%d]",
              lower.c_str(), rc);
    log_location();
  }
  return rc;
}

int ChunkCache::findChunk(const ChunkKey& key, std::vector<ChunkLocation>& out, int limit) {
  out.clear();
  {
    std::lock_guard<std::mutex> lock(indexMutex_);
    if (!index_.isOpen()) return 0;
    auto& st = stmts_[kSelectByKey];
    ResetGuard guard(st);
    st.bindBlob(1, key.data(), key.size());
    while ((limit < 1 || out.size() < static_cast<size_t>(limit)) && st.step() == SQLITE_ROW) {
      out.push_back({st.columnText(0), static_cast<uint64_t>(st.columnInt64(1)),
                     static_cast<uint64_t>(st.columnInt64(2))});
    }
  }
  // Stored paths are lower-cased; on a case-sensitive disk the reader needs
  // the real name. Done outside the lock: it touches the disk.
  for (auto& location : out) {
    std::string actual = resolvePathIgnoringCase(location.path);
    if (!actual.empty()) location.path = std::move(actual);
  }
  return static_cast<int>(out.size());
}

bool ChunkCache::holdsChunk(const ChunkKey& key) {
  std::lock_guard<std::mutex> lock(indexMutex_);
  if (!index_.isOpen()) return false;
  auto& st = stmts_[kSelectByKey];
  ResetGuard guard(st);
  st.bindBlob(1, key.data(), key.size());
  return st.step() == SQLITE_ROW;
}

bool ChunkCache::keysOf(std::string_view path, uint64_t fileSize, uint64_t chunkSize,
                        std::vector<ChunkKey>& out) {
  out.clear();
  if (chunkSize == 0) return false;
  const uint64_t chunkCount = fileSize / chunkSize + (fileSize % chunkSize ? 1 : 0);
  std::lock_guard<std::mutex> lock(indexMutex_);
  if (!index_.isOpen()) return false;
  auto& st = stmts_[kSelectByPath];
  ResetGuard guard(st);
  st.bind(1, platform::asciiLower(path));
  while (st.step() == SQLITE_ROW) {
    const uint64_t i = out.size();
    const uint64_t offset = i * chunkSize;
    const uint64_t length = i + 1 == chunkCount ? fileSize - offset : chunkSize;
    const std::string key = st.columnText(0);
    if (i >= chunkCount || key.size() != ChunkKey{}.size() ||
        static_cast<uint64_t>(st.columnInt64(1)) != offset ||
        static_cast<uint64_t>(st.columnInt64(2)) != length) {
      out.clear();  // recorded with another size or chunk size
      return false;
    }
    std::memcpy(out.emplace_back().data(), key.data(), key.size());
  }
  if (out.size() == chunkCount) return true;
  out.clear();
  return false;
}

bool ChunkCache::hasFile(std::string_view path) {
  std::lock_guard<std::mutex> lock(indexMutex_);
  if (!index_.isOpen()) return false;
  auto& st = stmts_[kSelectIdByPath];
  ResetGuard guard(st);
  st.bind(1, platform::asciiLower(path));
  return st.step() == SQLITE_ROW;
}

int ChunkCache::pathsUnder(std::string_view folder, std::vector<std::string>& out) {
  out.clear();
  std::string prefix = platform::asciiLower(folder);
  if (prefix.empty() || prefix.back() != '/') prefix += '/';
  std::lock_guard<std::mutex> lock(indexMutex_);
  if (!index_.isOpen()) return SQLITE_MISUSE;
  auto& st = stmts_[kSelectLike];
  ResetGuard guard(st);
  st.bind(1, prefix + "%");
  int rc;
  while ((rc = st.step()) == SQLITE_ROW) {
    // "_" and "%" in a folder name are wildcards to LIKE: keep true prefixes.
    std::string path = st.columnText(0);
    if (path.starts_with(prefix)) out.push_back(std::move(path));
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());  // one entry per file
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

void ChunkCache::onRename(const std::string& oldPath, const std::string& newPath) {
  const std::string from = platform::asciiLower(oldPath);
  const std::string to = platform::asciiLower(newPath);
  if (from == to) return;  // only the letter case changed: the rows stay valid
  std::lock_guard<std::mutex> lock(indexMutex_);
  if (!index_.isOpen()) return;
  // Rows the target had belong to a file the rename replaced; left in place
  // they would also make the update fail on the (path, offset, length) key.
  Transaction tx(index_);
  int rc = deleteRowsLocked(to);
  if (rc == SQLITE_OK) {
    auto& st = stmts_[kRenamePath];
    ResetGuard guard(st);
    st.bind(1, to).bind(2, from);
    rc = st.step() == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(index_.get());
  }
  if (rc == SQLITE_OK && !tx.commit()) rc = sqlite3_errcode(index_.get());
  if (rc != SQLITE_OK) {
    log_write(kLogError, kModuleSync, "failed to move chunk rows from:[%s] to:[%s], error:[%d]",
              from.c_str(), to.c_str(), rc);
    log_location();
  }
}

void ChunkCache::onRemove(const std::string& path) {
  const std::string lower = platform::asciiLower(path);
  std::lock_guard<std::mutex> lock(indexMutex_);
  if (!index_.isOpen()) return;
  if (const int rc = deleteRowsLocked(lower); rc != SQLITE_OK) {
    log_write(kLogError, kModuleSync, "failed to drop chunk rows of:[%s], error:[%d]",
              lower.c_str(), rc);
    log_location();
  }
}

}  // namespace chunkcache
