// Thin RAII ownership of SQLite connections and prepared statements: the one
// layer under the engine's databases (configuration, journals, chunk index),
// the application's (appconfig.db, statecache.db) and the reference
// service's. Values are always bound as parameters. A Database and its
// Statements belong to one thread at a time; callers that share them hold
// their own lock. Depends on nothing but SQLite, so that every program can
// link it.
//
//   varnelo::sqlite::Database db;
//   if (db.openPrivate(path) != SQLITE_OK) return ...;
//   auto st = db.prepare("SELECT value FROM config WHERE key = ?");
//   st.bind(1, key);
//   if (st.step() == SQLITE_ROW) value = st.columnText(0);
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace varnelo::sqlite {

// Where a connection reports failures that its callers do not check one by
// one (the service writes every failed statement to its log). One line,
// without a trailing newline.
using FailureLog = void (*)(const char* line);

class Statement {
 public:
  Statement() = default;
  Statement(Statement&&) noexcept = default;
  Statement& operator=(Statement&&) noexcept = default;

  bool valid() const noexcept { return stmt_ != nullptr; }
  sqlite3_stmt* get() const noexcept { return stmt_.get(); }

  // Binding uses 1-based parameter indexes; texts and blobs are copied.
  Statement& bind(int index, std::string_view text);
  Statement& bind(int index, const char* text) { return bind(index, std::string_view(text)); }
  Statement& bind(int index, int value);
  Statement& bind(int index, int64_t value);
  Statement& bind(int index, uint64_t value) { return bind(index, static_cast<int64_t>(value)); }
  Statement& bindBlob(int index, const void* data, size_t size);
  // An empty view binds an empty blob, never NULL.
  Statement& bindBlob(int index, std::string_view bytes);
  Statement& bindNull(int index);

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step();
  // Steps to completion; true when the statement ended with SQLITE_DONE.
  // A failure goes to the connection's FailureLog, when it has one.
  bool run();
  // Clears bindings and rewinds for the next use.
  void reset();

  std::string columnText(int column) const;  // raw bytes of the reported length
  std::string columnBlob(int column) const { return columnText(column); }
  int columnInt(int column) const { return sqlite3_column_int(stmt_.get(), column); }
  int64_t columnInt64(int column) const { return sqlite3_column_int64(stmt_.get(), column); }
  bool columnIsNull(int column) const {
    return sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL;
  }

 private:
  friend class Database;
  struct Finalizer {
    void operator()(sqlite3_stmt* s) const noexcept { sqlite3_finalize(s); }
  };
  Statement(sqlite3_stmt* s, FailureLog log) : stmt_(s), log_(log) {}
  std::unique_ptr<sqlite3_stmt, Finalizer> stmt_;
  FailureLog log_ = nullptr;
};

// Resets a statement when the scope ends, so a kept statement never holds a
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
  Database() = default;
  Database(Database&&) noexcept = default;
  Database& operator=(Database&&) noexcept = default;

  // Opens read-write, creating the file when missing. A new file is created
  // with `mode` (SQLite gives its journal files the same permissions).
  int open(const std::string& path, unsigned mode = 0644);
  // Opens with explicit SQLite open flags; without SQLITE_OPEN_CREATE a
  // missing file is an error (SQLITE_CANTOPEN) and nothing is created.
  // Both wait up to 5 s for another connection's lock.
  int openWithFlags(const std::string& path, int flags, unsigned mode = 0644);
  // Opens read-write, creating the file when missing, for files that hold
  // passwords or tokens: the file is made owner-only (0600) whether new or
  // not (an older one made with wider permissions is narrowed), and SQLite
  // gives its journal the same permissions. The connection is serialized
  // and does not wait for locks, as the application's own files have been
  // opened.
  int openPrivate(const std::string& path);
  void close() noexcept { db_.reset(); }
  bool isOpen() const noexcept { return db_ != nullptr; }
  sqlite3* get() const noexcept { return db_.get(); }

  // How long a statement waits for another connection's lock before it
  // fails with SQLITE_BUSY.
  int setBusyTimeout(int milliseconds);
  // Failures of exec() and of run() on the statements prepared afterwards
  // go to `log`; none is logged without one.
  void setFailureLog(FailureLog log) noexcept { log_ = log; }

  // Runs SQL without values (schema, pragmas, transactions); SQLITE_OK on success.
  int exec(const char* sql);
  // Prepares a statement kept by the caller; invalid on failure.
  Statement prepare(std::string_view sql);
  // WAL journal with synchronous=NORMAL: a crash loses at most the last
  // transactions, never the database.
  int useWal();
  int changes() const noexcept { return sqlite3_changes(db_.get()); }
  int64_t lastInsertRowid() const noexcept { return sqlite3_last_insert_rowid(db_.get()); }
  const char* errorMessage() const noexcept { return db_ ? sqlite3_errmsg(db_.get()) : "not open"; }

 private:
  struct Closer {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
  };
  int openRaw(const std::string& path, int flags);
  std::unique_ptr<sqlite3, Closer> db_;
  FailureLog log_ = nullptr;
};

// Begins a transaction and rolls it back unless commit() succeeded. Inside
// a transaction already open (the engine's Batch) it is a savepoint of that
// one, and its rollback undoes only its own statements.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  bool began() const noexcept { return began_; }
  bool commit();

 private:
  Database& db_;
  bool nested_ = false;
  bool began_ = false;
  bool done_ = false;
};

}  // namespace varnelo::sqlite
