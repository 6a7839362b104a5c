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

// Failed statements are written to the service log, whether or not the
// caller looks at the result.
void logFailure(const char* line) {
  logLine(LogLevel::kError, "%s", line);
}
}  // namespace

std::unique_ptr<Database> Database::open(const std::string& path) {
  std::unique_ptr<Database> db(new Database());
  if (const int rc = db->db_.open(path); rc != SQLITE_OK) {
    logLine(LogLevel::kError, "cannot open database %s: %s", path.c_str(), sqlite3_errstr(rc));
    return nullptr;
  }
  db->db_.setFailureLog(&logFailure);
  db->db_.setBusyTimeout(10000);
  if (!db->exec("PRAGMA journal_mode=WAL") || !db->exec("PRAGMA synchronous=NORMAL") ||
      !db->exec("PRAGMA foreign_keys=OFF") || !db->exec(kLogSizeLimit)) {
    return nullptr;
  }
  // Replaces the checkpoint SQLite runs after each commit; resetAll() runs it.
  sqlite3_wal_hook(db->db_.get(), &Database::onWalCommit, db.get());
  return db;
}

Statement& Database::query(const char* sql) {
  Cached* cached;
  auto it = cache_.find(sql);
  if (it != cache_.end()) {
    cached = &it->second;
    cached->statement.reset();
  } else {
    Statement statement = db_.prepare(sql);
    if (!statement.valid()) {
      logLine(LogLevel::kError, "cannot prepare [%s]: %s", sql, lastError());
      abort();
    }
    // Map nodes stay where they are, so handedOut_ may point at them.
    cached = &cache_[sql];
    cached->statement = std::move(statement);
  }
  if (!cached->handedOut) {
    cached->handedOut = true;
    handedOut_.push_back(cached);
  }
  return cached->statement;
}

int Database::onWalCommit(void* self, sqlite3*, const char*, int pages) {
  if (pages >= kCheckpointPages) static_cast<Database*>(self)->checkpointDue_ = true;
  return SQLITE_OK;
}

void Database::resetAll() {
  for (Cached* cached : handedOut_) {
    cached->statement.reset();
    cached->handedOut = false;
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
    logLine(LogLevel::kWarning, "sqlite checkpoint failed (%d): %s", rc, lastError());
  }
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
