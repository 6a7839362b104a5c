// The service's SQLite connection: the shared layer's Database (sqlite/),
// opened in WAL mode with a busy timeout, plus a cache so hot statements are
// prepared once. A Database belongs to one thread at a time: the Store
// (Store.h) holds the lock that serialises every use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "sqlite/Sqlite.h"

namespace varnelo::service {

using sqlite::Statement;

class Database {
 public:
  // Opens (creating) the file in WAL mode with a busy timeout, so the
  // add-user command can write while the service runs. Every failed
  // statement is logged. Null on failure.
  static std::unique_ptr<Database> open(const std::string& path);

  // A cached statement, reset and with cleared bindings; the SQL text must
  // outlive the database (string literals). Aborts on a malformed statement,
  // which is a programming error.
  Statement& query(const char* sql);
  bool exec(const char* sql) { return db_.exec(sql) == SQLITE_OK; }
  // Rewinds every statement handed out since the last call, so none keeps
  // a read snapshot open after the caller is done (another process may be
  // writing), and then copies the write-ahead log back into the database
  // once it holds enough pages.
  void resetAll();
  int64_t lastInsertId() const { return db_.lastInsertRowid(); }
  int changes() const { return db_.changes(); }
  const char* lastError() const { return db_.errorMessage(); }

 private:
  struct Cached {
    Statement statement;
    bool handedOut = false;  // since the last resetAll()
  };
  Database() = default;
  static int onWalCommit(void* self, sqlite3* db, const char* name, int pages);
  sqlite::Database db_;
  // Set by a commit that left the log long enough to copy back. SQLite's own
  // checkpoint after a commit gives up while any statement still holds a
  // read, as one usually does here until resetAll(), and the log would grow
  // without end.
  bool checkpointDue_ = false;
  // Declared after db_: the statements are finalised before it closes.
  std::unordered_map<const char*, Cached> cache_;
  std::vector<Cached*> handedOut_;  // what resetAll() rewinds
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
