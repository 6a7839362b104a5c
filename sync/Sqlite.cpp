#include "Sqlite.h"

#include "Log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace varnelo::sqlite {

Statement& Statement::bind(int index, std::string_view text) {
  sqlite3_bind_text(stmt_.get(), index, text.data(), static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::bind(int index, int value) {
  sqlite3_bind_int(stmt_.get(), index, value);
  return *this;
}

Statement& Statement::bind(int index, int64_t value) {
  sqlite3_bind_int64(stmt_.get(), index, value);
  return *this;
}

Statement& Statement::bindBlob(int index, const void* data, size_t size) {
  sqlite3_bind_blob(stmt_.get(), index, data, static_cast<int>(size), SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::bindNull(int index) {
  sqlite3_bind_null(stmt_.get(), index);
  return *this;
}

int Statement::step() {
  return sqlite3_step(stmt_.get());
}

bool Statement::run() {
  int rc;
  while ((rc = step()) == SQLITE_ROW) {
  }
  return rc == SQLITE_DONE;
}

void Statement::reset() {
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
}

std::string Statement::columnText(int column) const {
  const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_.get(), column));
  const int n = sqlite3_column_bytes(stmt_.get(), column);
  return p ? std::string(p, static_cast<size_t>(n)) : std::string();
}

int Database::open(const std::string& path, unsigned mode) {
  return openWithFlags(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, mode);
}

int Database::openWithFlags(const std::string& path, int flags, unsigned mode) {
  close();
  // Create the file ourselves so that it gets the requested permissions
  // before SQLite writes anything into it.
  if (flags & SQLITE_OPEN_CREATE) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, mode);
    if (fd >= 0) ::close(fd);
  }
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK) {
    db_.reset();
    return rc;
  }
  sqlite3_busy_timeout(raw, 5000);
  return SQLITE_OK;
}

int Database::exec(const char* sql) {
  return sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr);
}

Statement Database::prepare(std::string_view sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_.get(), sql.data(), static_cast<int>(sql.size()), &s, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(s);
    return Statement();
  }
  return Statement(s);
}

int Database::useWal() {
  const int rc = exec("PRAGMA journal_mode=WAL;");
  if (rc != SQLITE_OK) return rc;
  return exec("PRAGMA synchronous=NORMAL;");
}

Transaction::Transaction(Database& db)
    : db_(db), nested_(db.isOpen() && !sqlite3_get_autocommit(db.get())) {
  began_ = db_.exec(nested_ ? "SAVEPOINT nested;" : "BEGIN;") == SQLITE_OK;
}

Transaction::~Transaction() {
  if (began_ && !done_) db_.exec(nested_ ? "ROLLBACK TO nested; RELEASE nested;" : "ROLLBACK;");
}

bool Transaction::commit() {
  if (!began_ || done_) return false;
  done_ = db_.exec(nested_ ? "RELEASE nested;" : "COMMIT;") == SQLITE_OK;
  return done_;
}

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
