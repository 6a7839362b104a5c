#include "Sqlite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace varnelo::desktop::sqlite {

Statement& Statement::bind(int index, std::string_view text) {
  sqlite3_bind_text(stmt_.get(), index, text.data(), static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::bind(int index, int64_t value) {
  sqlite3_bind_int64(stmt_.get(), index, value);
  return *this;
}

int Statement::step() {
  return sqlite3_step(stmt_.get());
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

int Database::openPrivate(const std::string& path) {
  close();
  // Create the file ourselves so that it is owner-only before SQLite writes
  // anything (appconfig.db holds the proxy password); an older file made
  // with wider permissions is narrowed.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::fchmod(fd, 0600);
    ::close(fd);
  }
  sqlite3* raw = nullptr;
  const int rc =
      sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  db_.reset(raw);
  if (rc != SQLITE_OK) db_.reset();
  return rc;
}

int Database::exec(const char* sql) {
  if (!db_) return SQLITE_MISUSE;
  return sqlite3_exec(db_.get(), sql, nullptr, nullptr, nullptr);
}

Statement Database::prepare(std::string_view sql) {
  if (!db_) return Statement();
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_.get(), sql.data(), static_cast<int>(sql.size()), &s, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(s);
    return Statement();
  }
  return Statement(s);
}

}  // namespace varnelo::desktop::sqlite
