#include "EngineSqlite.h"

#include "Log.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace varnelo::sqlite {

Batch::Batch(Database& db, bool writes) : db_(db) {
  // IMMEDIATE: the write lock is taken now, so a statement that writes
  // after others have read never meets a snapshot another writer moved on.
  began_ = db.isOpen() && sqlite3_get_autocommit(db.get()) &&
           db_.exec(writes ? "BEGIN IMMEDIATE;" : "BEGIN;") == SQLITE_OK;
}

bool Batch::active() const noexcept {
  return began_ && !sqlite3_get_autocommit(db_.get());
}

void Batch::rollBack() noexcept {
  if (active()) db_.exec("ROLLBACK;");
  began_ = false;
}

int Batch::commit() noexcept {
  if (!active()) return SQLITE_OK;
  const int rc = db_.exec("COMMIT;");
  if (rc != SQLITE_OK) db_.exec("ROLLBACK;");
  began_ = false;
  return rc;
}

Batch::~Batch() {
  if (!active()) return;  // ended by a failure, or rolled back
  if (const int rc = db_.exec("COMMIT;"); rc != SQLITE_OK) {
    varnelo::log_write(varnelo::kLogError, varnelo::kModuleSync,
                       "batch commit failed, sqlite error:[%d] %s", rc, db_.errorMessage());
    // The statements are lost with it, as after a crash right before them;
    // what the journal then lacks is found again by the next comparison.
    db_.exec("ROLLBACK;");
  }
}

int openSettingDamagedAside(const std::string& path, const std::function<int()>& open,
                            const std::function<void()>& close) {
  int rc = open();
  const int primary = rc & 0xff;  // extended codes keep the primary one in the low byte
  if (primary != SQLITE_NOTADB && primary != SQLITE_CORRUPT) return rc;
  close();
  char stamp[32] = "";
  const time_t now = time(nullptr);
  struct tm utc {};
  gmtime_r(&now, &utc);
  strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
  std::string aside = path + ".damaged-" + stamp;
  // One kept earlier in the same second is never replaced.
  for (int n = 2; ::access(aside.c_str(), F_OK) == 0; ++n)
    aside = path + ".damaged-" + stamp + "-" + std::to_string(n);
  if (::rename(path.c_str(), aside.c_str()) != 0) {
    log_write(kLogError, kModuleSync,
              "database [%s] is damaged (sqlite error:[%d]) and cannot be set aside: %s",
              path.c_str(), rc, strerror(errno));
    return rc;
  }
  for (const char* suffix : {"-wal", "-shm"}) {
    const std::string from = path + suffix;
    if (::access(from.c_str(), F_OK) == 0) ::rename(from.c_str(), (aside + suffix).c_str());
  }
  log_write(kLogError, kModuleSync,
            "database [%s] is damaged (sqlite error:[%d]); kept as [%s], starting a new one",
            path.c_str(), rc, aside.c_str());
  return open();
}

}  // namespace varnelo::sqlite
