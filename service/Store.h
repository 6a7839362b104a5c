// The service's metadata database: one SQLite connection, its schema, and the
// lock that serialises all use of it. Accounts, Tokens and Tree borrow it;
// every one of their public operations holds a StoreLock for its whole
// transaction, so they are safe to call from any request thread.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "Database.h"

namespace varnelo::service {

class Store {
 public:
  // Opens or creates "meta.db" in the data folder and its schema. Null on
  // failure (logged).
  static std::unique_ptr<Store> open(const std::string& dataDir);

  Database& db() { return *db_; }
  // Guards db_ and every statement cached in it.
  std::mutex& mutex() { return mutex_; }

  // A persistent service setting (the capability secret, ...), created with
  // the given value on first use.
  std::string setting(const std::string& name, const std::string& initial);

 private:
  explicit Store(std::unique_ptr<Database> db) : db_(std::move(db)) {}
  std::unique_ptr<Database> db_;
  std::mutex mutex_;
};

// Holds the store's lock and rewinds its statements on release.
class StoreLock {
 public:
  explicit StoreLock(Store& store) : store_(store), lock_(store.mutex()) {}
  ~StoreLock() { store_.db().resetAll(); }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

 private:
  Store& store_;
  std::lock_guard<std::mutex> lock_;
};

}  // namespace varnelo::service
