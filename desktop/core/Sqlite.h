// Small RAII ownership of a SQLite connection and its prepared statements
// for the application's own databases (appconfig.db, statecache.db). Values
// are always bound as parameters, never spliced into SQL text. A Database
// and its Statements are used by one thread at a time; callers that share
// them hold their own lock.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace varnelo::desktop::sqlite {

class Statement {
 public:
  Statement() = default;
  Statement(Statement&&) noexcept = default;
  Statement& operator=(Statement&&) noexcept = default;

  bool valid() const noexcept { return stmt_ != nullptr; }

  // 1-based parameter indexes; texts are copied.
  Statement& bind(int index, std::string_view text);
  Statement& bind(int index, int64_t value);
  Statement& bind(int index, int value) { return bind(index, static_cast<int64_t>(value)); }

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step();
  // Clears bindings and rewinds for the next use.
  void reset();

  std::string columnText(int column) const;  // raw bytes of the reported length
  int64_t columnInt64(int column) const { return sqlite3_column_int64(stmt_.get(), column); }

 private:
  friend class Database;
  struct Finalizer {
    void operator()(sqlite3_stmt* s) const noexcept { sqlite3_finalize(s); }
  };
  explicit Statement(sqlite3_stmt* s) : stmt_(s) {}
  std::unique_ptr<sqlite3_stmt, Finalizer> stmt_;
};

// Rewinds a kept statement when the scope ends, so that it never holds a
// read transaction open between calls.
class ResetGuard {
 public:
  explicit ResetGuard(Statement& s) : s_(s) {}
  ~ResetGuard() { s_.reset(); }
  ResetGuard(const ResetGuard&) = delete;
  ResetGuard& operator=(const ResetGuard&) = delete;

 private:
  Statement& s_;
};

class Database {
 public:
  // Opens read-write, creating the file when missing. The file is made
  // owner-only (0600) whether new or not, and SQLite gives its journal the
  // same permissions. SQLITE_OK or the open's code.
  int openPrivate(const std::string& path);
  void close() noexcept { db_.reset(); }
  bool isOpen() const noexcept { return db_ != nullptr; }

  // Runs SQL without values (schema, transactions); SQLITE_OK on success.
  int exec(const char* sql);
  // Prepares a statement kept by the caller; invalid on failure.
  Statement prepare(std::string_view sql);
  int changes() const noexcept { return sqlite3_changes(db_.get()); }
  int64_t lastInsertRowid() const noexcept { return sqlite3_last_insert_rowid(db_.get()); }
  const char* errorMessage() const noexcept { return db_ ? sqlite3_errmsg(db_.get()) : "not open"; }

 private:
  struct Closer {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
  };
  std::unique_ptr<sqlite3, Closer> db_;
};

}  // namespace varnelo::desktop::sqlite
