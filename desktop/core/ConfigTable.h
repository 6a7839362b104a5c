// The key/value table "config" that appconfig.db and statecache.db share:
// text values under unique text keys. Get answers 200 or 404; Set answers
// 200 or -4. Used through its owner (SettingsStore, FileStateCache), which
// serialises the calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/sync_primitives.h"
#include "sqlite/Sqlite.h"

namespace varnelo::desktop {

// How often a statement is tried in all while another process holds the
// database (SQLITE_BUSY), how long to wait in between, and an event that
// ends the waiting early (a stopping worker).
struct BusyRetry {
  int attempts = 1;
  std::chrono::milliseconds pause{0};
  platform::Event* cancel = nullptr;
};

// Steps `s` once, again while it answers SQLITE_BUSY, up to the policy's
// attempts; the last answer.
int stepRetrying(sqlite::Statement& s, const BusyRetry& retry);
// The same for a statement without values.
int execRetrying(sqlite::Database& db, const char* sql, const BusyRetry& retry);

class ConfigTable {
 public:
  static constexpr const char* kCreateSql =
      "CREATE TABLE IF NOT EXISTS config (id INTEGER PRIMARY KEY,key TEXT NOT NULL UNIQUE,"
      "value TEXT);";

  // Prepares the statements; the table must exist. False when it cannot.
  bool prepare(sqlite::Database& db, BusyRetry writeRetry = {});

  // 200 and the value's bytes when the key exists; 404 otherwise.
  int32_t get(const std::string& key, std::string& value);
  // 200 and the decimal value of the text (0 for a text without digits).
  int32_t getInt(const std::string& key, int64_t& value);
  // 200, or -4 when the statement fails.
  int32_t set(const std::string& key, const std::string& value);
  int32_t setInt(const std::string& key, int64_t value) { return set(key, std::to_string(value)); }

 private:
  BusyRetry retry_;
  sqlite::Statement select_;
  sqlite::Statement upsert_;
};

}  // namespace varnelo::desktop
