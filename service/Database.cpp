#include "Database.h"

#include <cstdlib>

#include "Log.h"

namespace varnelo::service {
namespace {
// Pages in the log before it is copied back: SQLite's own default.
constexpr int kCheckpointPages = 1000;
// Past this, a log that was copied back is cut down when it starts over,
// so a burst of writes does not keep its disk space for good.
constexpr const char* kLogSizeLimit = "PRAGMA journal_size_limit=16777216";
}  // namespace

Statement& Statement::bind(int index, std::string_view text) {
  sqlite3_bind_text(stmt_.get(), index, text.data(), static_cast<int>(text.size()),
                    SQLITE_TRANSIENT);
  return *this;
}

Statement& Statement::bind(int index, int64_t value) {
  sqlite3_bind_int64(stmt_.get(), index, value);
  return *this;
}

Statement& Statement::bindBlob(int index, std::string_view bytes) {
  // A zero-length blob must still be a blob, not NULL.
  static const char kEmpty = 0;
  sqlite3_bind_blob(stmt_.get(), index, bytes.empty() ? &kEmpty : bytes.data(),
                    static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
  return *this;
}

int Statement::step() {
  return sqlite3_step(stmt_.get());
}

bool Statement::run() {
  int rc;
  while ((rc = step()) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) {
    logLine(LogLevel::kError, "sqlite step failed (%d): %s", rc,
            sqlite3_errmsg(sqlite3_db_handle(stmt_.get())));
  }
  return rc == SQLITE_DONE;
}

void Statement::reset() {
  sqlite3_reset(stmt_.get());
  sqlite3_clear_bindings(stmt_.get());
}

std::string Statement::text(int column) const {
  const unsigned char* p = sqlite3_column_text(stmt_.get(), column);
  int n = sqlite3_column_bytes(stmt_.get(), column);
  return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

std::string Statement::blob(int column) const {
  const void* p = sqlite3_column_blob(stmt_.get(), column);
  int n = sqlite3_column_bytes(stmt_.get(), column);
  return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

std::unique_ptr<Database> Database::open(const std::string& path) {
  sqlite3* raw = nullptr;
  int rc =
      sqlite3_open_v2(path.c_str(), &raw,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  std::unique_ptr<Database> db(new Database(raw));
  if (rc != SQLITE_OK) {
    logLine(LogLevel::kError, "cannot open database %s: %s", path.c_str(),
            raw ? sqlite3_errmsg(raw) : "out of memory");
    return nullptr;
  }
  sqlite3_busy_timeout(raw, 10000);
  if (!db->exec("PRAGMA journal_mode=WAL") || !db->exec("PRAGMA synchronous=NORMAL") ||
      !db->exec("PRAGMA foreign_keys=OFF") || !db->exec(kLogSizeLimit)) {
    return nullptr;
  }
  // Replaces the checkpoint SQLite runs after each commit; resetAll() runs it.
  sqlite3_wal_hook(raw, &Database::onWalCommit, db.get());
  return db;
}

Statement& Database::query(const char* sql) {
  Statement* statement;
  auto it = cache_.find(sql);
  if (it != cache_.end()) {
    statement = it->second.get();
    statement->reset();
  } else {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr) != SQLITE_OK) {
      logLine(LogLevel::kError, "cannot prepare [%s]: %s", sql, sqlite3_errmsg(db_.get()));
      abort();
    }
    auto& slot = cache_[sql];
    slot = std::make_unique<Statement>(raw);
    statement = slot.get();
  }
  if (!statement->handedOut) {
    statement->handedOut = true;
    handedOut_.push_back(statement);
  }
  return *statement;
}

int Database::onWalCommit(void* self, sqlite3*, const char*, int pages) {
  if (pages >= kCheckpointPages) static_cast<Database*>(self)->checkpointDue_ = true;
  return SQLITE_OK;
}

void Database::resetAll() {
  for (Statement* statement : handedOut_) {
    statement->reset();
    statement->handedOut = false;
  }
  handedOut_.clear();
  if (!checkpointDue_) return;
  checkpointDue_ = false;
  // Passive: it waits for no reader (add-user, in another process, may hold
  // one); what such a reader still needs is copied back on a later round.
  int logPages = 0, copied = 0;
  int rc =
      sqlite3_wal_checkpoint_v2(db_.get(), nullptr, SQLITE_CHECKPOINT_PASSIVE, &logPages, &copied);
  if (rc != SQLITE_OK && rc != SQLITE_BUSY) {
    logLine(LogLevel::kWarning, "sqlite checkpoint failed (%d): %s", rc, sqlite3_errmsg(db_.get()));
  }
}

bool Database::exec(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, &error) != SQLITE_OK) {
    logLine(LogLevel::kError, "sqlite exec [%.80s] failed: %s", sql, error ? error : "?");
    sqlite3_free(error);
    return false;
  }
  return true;
}

// Prepared once, like every other statement: these run for every change.
Transaction::Transaction(Database& db) : db_(db) {
  open_ = db_.query("BEGIN IMMEDIATE").run();
}

Transaction::~Transaction() {
  if (open_) db_.query("ROLLBACK").run();
}

bool Transaction::commit() {
  if (!open_) return false;
  open_ = false;
  if (db_.query("COMMIT").run()) return true;
  // A failed commit leaves the transaction open: it is undone, not kept
  // for whatever runs next on this connection.
  db_.query("ROLLBACK").run();
  return false;
}

}  // namespace varnelo::service
