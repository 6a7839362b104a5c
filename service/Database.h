// RAII ownership of the service's SQLite connection and its prepared
// statements, with a cache so hot statements are prepared once. A Database
// belongs to one thread at a time: the Store (Store.h) holds the lock that
// serialises every use.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace varnelo::service {

class Statement {
 public:
  explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  Statement& bind(int index, std::string_view text);
  Statement& bind(int index, int64_t value);
  Statement& bindBlob(int index, std::string_view bytes);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step();
  // Steps to the end; true on SQLITE_DONE.
  bool run();
  void reset();
  std::string text(int column) const;
  // Set while the statement was handed out since the last resetAll().
  bool handedOut = false;
  std::string blob(int column) const;
  int64_t int64(int column) const { return sqlite3_column_int64(stmt_.get(), column); }
  bool isNull(int column) const { return sqlite3_column_type(stmt_.get(), column) == SQLITE_NULL; }

 private:
  struct Finalize {
    void operator()(sqlite3_stmt* s) const noexcept { sqlite3_finalize(s); }
  };
  std::unique_ptr<sqlite3_stmt, Finalize> stmt_;
};

class Database {
 public:
  // Opens (creating) the file in WAL mode with a busy timeout, so the
  // add-user command can write while the service runs. Null on failure.
  static std::unique_ptr<Database> open(const std::string& path);

  // A cached statement, reset and with cleared bindings; the SQL text must
  // outlive the database (string literals). Aborts on a malformed statement,
  // which is a programming error.
  Statement& query(const char* sql);
  bool exec(const char* sql);
  // Rewinds every statement handed out since the last call, so none keeps
  // a read snapshot open after the caller is done (another process may be
  // writing), and then copies the write-ahead log back into the database
  // once it holds enough pages.
  void resetAll();
  int64_t lastInsertId() const { return sqlite3_last_insert_rowid(db_.get()); }
  int changes() const { return sqlite3_changes(db_.get()); }
  const char* lastError() const { return sqlite3_errmsg(db_.get()); }

 private:
  struct Close {
    void operator()(sqlite3* db) const noexcept { sqlite3_close(db); }
  };
  explicit Database(sqlite3* db) : db_(db) {}
  static int onWalCommit(void* self, sqlite3* db, const char* name, int pages);
  std::unique_ptr<sqlite3, Close> db_;
  // Set by a commit that left the log long enough to copy back. SQLite's own
  // checkpoint after a commit gives up while any statement still holds a
  // read, as one usually does here until resetAll(), and the log would grow
  // without end.
  bool checkpointDue_ = false;
  std::unordered_map<const char*, std::unique_ptr<Statement>> cache_;
  std::vector<Statement*> handedOut_;  // what resetAll() rewinds
};

// BEGIN IMMEDIATE on construction; ROLLBACK on destruction unless committed.
class Transaction {
 public:
  explicit Transaction(Database& db);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;
  // False when BEGIN failed: nothing may run then, or each statement would
  // commit on its own.
  bool active() const { return open_; }
  bool commit();

 private:
  Database& db_;
  bool open_ = false;
};

}  // namespace varnelo::service
