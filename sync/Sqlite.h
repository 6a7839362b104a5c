// Thin RAII ownership of SQLite connections and prepared statements, shared
// by the engine's databases (configuration, journals, chunk index). Values
// are always bound as parameters. A Database and its Statements belong to one
// thread at a time; callers that share them hold their own lock.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace varnelo::sqlite {

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
  Statement& bindNull(int index);

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step();
  // Steps to completion; true when the statement ended with SQLITE_DONE.
  bool run();
  // Clears bindings and rewinds for the next use.
  void reset();

  std::string columnText(int column) const;  // raw bytes of the reported length
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
  explicit Statement(sqlite3_stmt* s) : stmt_(s) {}
  std::unique_ptr<sqlite3_stmt, Finalizer> stmt_;
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
  int openWithFlags(const std::string& path, int flags, unsigned mode = 0644);
  void close() noexcept { db_.reset(); }
  bool isOpen() const noexcept { return db_ != nullptr; }
  sqlite3* get() const noexcept { return db_.get(); }

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
  std::unique_ptr<sqlite3, Closer> db_;
};

// Begins a transaction and rolls it back unless commit() succeeded. Inside
// a transaction already open (a Batch) it is a savepoint of that one, and
// its rollback undoes only its own statements.
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

// Groups the statements of one step (say, a file's completion) into one
// write transaction, so that they take the database's locks once instead
// of once each. Every statement keeps its own result, as it would without
// the batch, and whatever they did is committed when the batch ends. Inside
// an open transaction it adds nothing. A batch of reads only (`writes`
// false) shares one read snapshot and takes no write lock.
class Batch {
 public:
  explicit Batch(Database& db, bool writes = true);
  ~Batch();
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  // True while this batch's transaction is open: it began here and no
  // failure has ended it (SQLite rolls a transaction back by itself on
  // some errors, and what follows then commits statement by statement).
  bool active() const noexcept;
  // Undoes everything since the batch began; the batch then adds nothing.
  void rollBack() noexcept;

 private:
  Database& db_;
  bool began_ = false;
};

// Opens one of the engine's database files through `open` (which returns an
// SQLite result). A file that SQLite finds is not a database, or damaged
// (SQLITE_NOTADB, SQLITE_CORRUPT: written over by something else, or a
// failing disk; a crash alone never does this), would otherwise refuse
// every start for good: it is closed with `close`, renamed with its -wal and
// -shm files to "<path>.damaged-<UTC time>" (kept, never deleted), and
// `open` runs once more on a fresh file. Logs what it did; returns the
// result of the last `open`.
int openSettingDamagedAside(const std::string& path, const std::function<int()>& open,
                            const std::function<void()>& close);

}  // namespace varnelo::sqlite
