#include "sqlite/Sqlite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

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

Statement& Statement::bindBlob(int index, std::string_view bytes) {
  // SQLite binds NULL for a null pointer, whatever the size.
  static const char kEmpty = 0;
  return bindBlob(index, bytes.empty() ? &kEmpty : bytes.data(), bytes.size());
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
  if (rc != SQLITE_DONE && log_) {
    char line[512];
    snprintf(line, sizeof line, "sqlite step failed (%d): %s", rc,
             sqlite3_errmsg(sqlite3_db_handle(stmt_.get())));
    log_(line);
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
  const int rc = openRaw(path, flags | SQLITE_OPEN_NOMUTEX);
  if (rc != SQLITE_OK) return rc;
  return setBusyTimeout(5000);
}

int Database::openPrivate(const std::string& path) {
  close();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::fchmod(fd, 0600);
    ::close(fd);
  }
  return openRaw(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

int Database::openRaw(const std::string& path, int flags) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK) db_.reset();
  return rc;
}

int Database::setBusyTimeout(int milliseconds) {
  if (!db_) return SQLITE_MISUSE;
  return sqlite3_busy_timeout(db_.get(), milliseconds);
}

int Database::exec(const char* sql) {
  if (!db_) return SQLITE_MISUSE;
  const int rc = sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK && log_) {
    char line[512];
    snprintf(line, sizeof line, "sqlite exec [%.80s] failed: %s", sql, sqlite3_errmsg(db_.get()));
    log_(line);
  }
  return rc;
}

Statement Database::prepare(std::string_view sql) {
  if (!db_) return Statement();
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_.get(), sql.data(), static_cast<int>(sql.size()), &s, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(s);
    return Statement();
  }
  return Statement(s, log_);
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

}  // namespace varnelo::sqlite
