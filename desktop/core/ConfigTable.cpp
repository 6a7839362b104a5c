#include "ConfigTable.h"

#include <cstdlib>
#include <thread>

namespace varnelo::desktop {
namespace {

// False when the retries should end now.
bool pause(const BusyRetry& retry) {
  if (retry.cancel) return !retry.cancel->waitFor(retry.pause);
  std::this_thread::sleep_for(retry.pause);
  return true;
}

}  // namespace

int stepRetrying(sqlite::Statement& s, const BusyRetry& retry) {
  int rc = SQLITE_BUSY;
  for (int attempt = 0; attempt < retry.attempts; ++attempt) {
    // A statement that answered SQLITE_BUSY rewinds itself on the next
    // step and keeps its bindings.
    if (attempt > 0 && !pause(retry)) break;
    rc = s.step();
    if (rc != SQLITE_BUSY) break;
  }
  return rc;
}

int execRetrying(sqlite::Database& db, const char* sql, const BusyRetry& retry) {
  int rc = SQLITE_BUSY;
  for (int attempt = 0; attempt < retry.attempts; ++attempt) {
    if (attempt > 0 && !pause(retry)) break;
    rc = db.exec(sql);
    if (rc != SQLITE_BUSY) break;
  }
  return rc;
}

bool ConfigTable::prepare(sqlite::Database& db, BusyRetry writeRetry) {
  retry_ = writeRetry;
  select_ = db.prepare("select value from config where key = ?1;");
  // Same effect as "update when present, else insert" in one statement, so
  // another process cannot slip in between the two.
  upsert_ = db.prepare(
      "insert into config values(NULL, ?1, ?2) "
      "ON CONFLICT(key) DO UPDATE SET value = excluded.value;");
  return select_.valid() && upsert_.valid();
}

int32_t ConfigTable::get(const std::string& key, std::string& value) {
  if (!select_.valid()) return 404;
  sqlite::ResetGuard guard(select_);
  select_.bind(1, key);
  if (stepRetrying(select_, retry_) != SQLITE_ROW) return 404;
  value = select_.columnText(0);
  return 200;
}

int32_t ConfigTable::getInt(const std::string& key, int64_t& value) {
  std::string text;
  if (int32_t rc = get(key, text); rc != 200) return rc;
  value = std::strtoll(text.c_str(), nullptr, 10);
  return 200;
}

int32_t ConfigTable::set(const std::string& key, const std::string& value) {
  if (!upsert_.valid()) return -4;
  sqlite::ResetGuard guard(upsert_);
  upsert_.bind(1, key).bind(2, value);
  return stepRetrying(upsert_, retry_) == SQLITE_DONE ? 200 : -4;
}

}  // namespace varnelo::desktop
