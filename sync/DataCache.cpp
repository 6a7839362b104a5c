#include "DataCache.h"

#include "EngineSqlite.h"
#include "Log.h"
#include "platform/files.h"

namespace chunkcache {
namespace {

constexpr const char* kStatementTexts[] = {
    "INSERT INTO config VALUES(?, ?)",
    "UPDATE config SET value=? WHERE key=?",
    "SELECT value FROM config WHERE key=?",
    "INSERT INTO data_journal VALUES(?, ?, ?)",
    "SELECT pathName, fileSize FROM data_journal WHERE id==?",
    "SELECT * FROM data_journal WHERE id>=? ORDER BY id",
    "DELETE FROM data_journal WHERE id==?",
};

constexpr const char* kKeys[] = {"usedSize", "totalSize", "count", "nextId"};

std::array<int64_t*, 4> fieldsOf(CacheCounters& c) {
  return {&c.usedSize, &c.totalSize, &c.count, &c.nextId};
}

}  // namespace

int DataCache::open(const std::string& directory) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (db_.isOpen()) return static_cast<int>(0x80070005u);
  std::string dir = directory;
  if (dir.empty() || dir.back() != '/') dir += '/';
  platform::files::createDirectories(dir, 0700);  // a failure shows in the open below

  const std::string path = dir + kFileName;
  auto openTables = [&] {
    int rc = db_.open(path, 0600);
    if (rc == SQLITE_OK) {
      db_.useWal();
      rc = db_.exec(
          "CREATE TABLE IF NOT EXISTS config(key TEXT NOT NULL PRIMARY KEY,value INTEGER)");
    }
    if (rc == SQLITE_OK) {
      rc = db_.exec(
          "CREATE TABLE IF NOT EXISTS data_journal(id INTEGER PRIMARY KEY,pathName TEXT NOT "
          "NULL,fileSize INTEGER,UNIQUE(pathName))");
    }
    for (int i = 0; rc == SQLITE_OK && i < kStatementCount; ++i) {
      stmts_[i] = db_.prepare(kStatementTexts[i]);
      if (!stmts_[i].valid()) rc = sqlite3_errcode(db_.get()) ? sqlite3_errcode(db_.get()) : 1;
    }
    return rc;
  };
  // Holds counters only: a damaged file is set aside and started over,
  // instead of leaving the engine without its chunk cache for good.
  int rc = varnelo::sqlite::openSettingDamagedAside(path, openTables, [this] { closeLocked(); });
  if (rc == SQLITE_OK) {
    directory_ = dir;
    CacheCounters loaded;
    if (readCounters(loaded) == SQLITE_OK) {
      counters_ = loaded;
    } else {
      counters_ = CacheCounters{};
      rc = writeCountersLocked(counters_);
    }
  }
  if (rc != SQLITE_OK) {
    varnelo::log_write(varnelo::kLogError, varnelo::kModuleSync,
                       "failed to open data cache:[%s%s], sqlite error:[%d]", dir.c_str(),
                       kFileName, rc);
    log_location();
    closeLocked();
  }
  return rc;
}

void DataCache::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closeLocked();
}

void DataCache::closeLocked() {
  for (auto& st : stmts_) st = varnelo::sqlite::Statement();
  db_.close();
}

bool DataCache::isOpen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return db_.isOpen();
}

std::string DataCache::directory() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return directory_;
}

CacheCounters DataCache::counters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return counters_;
}

int DataCache::writeCounters(const CacheCounters& counters) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!db_.isOpen()) return SQLITE_MISUSE;
  const int rc = writeCountersLocked(counters);
  if (rc == SQLITE_OK) counters_ = counters;
  return rc;
}

// SQLITE_NOTFOUND when any of the four is missing.
int DataCache::readCounters(CacheCounters& out) {
  auto& st = stmts_[kSelectConfig];
  auto fields = fieldsOf(out);
  for (size_t i = 0; i < fields.size(); ++i) {
    varnelo::sqlite::ResetGuard guard(st);
    st.bind(1, kKeys[i]);
    const int rc = st.step();
    if (rc == SQLITE_DONE) return SQLITE_NOTFOUND;
    if (rc != SQLITE_ROW) return rc;
    *fields[i] = st.columnInt64(0);
  }
  return SQLITE_OK;
}

// The four values go in together or not at all.
int DataCache::writeCountersLocked(const CacheCounters& counters) {
  varnelo::sqlite::Transaction tx(db_);
  CacheCounters copy = counters;
  auto fields = fieldsOf(copy);
  for (size_t i = 0; i < fields.size(); ++i) {
    auto& insert = stmts_[kInsertConfig];
    {
      varnelo::sqlite::ResetGuard guard(insert);
      insert.bind(1, kKeys[i]).bind(2, *fields[i]);
      if (insert.step() == SQLITE_DONE) continue;
    }
    auto& update = stmts_[kUpdateConfig];
    varnelo::sqlite::ResetGuard guard(update);
    update.bind(1, *fields[i]).bind(2, kKeys[i]);
    if (const int rc = update.step(); rc != SQLITE_DONE) return rc;
  }
  return tx.commit() ? SQLITE_OK : sqlite3_errcode(db_.get());
}

}  // namespace chunkcache
