#include "Store.h"

#include <fcntl.h>
#include <unistd.h>

#include "Log.h"

namespace varnelo::service {
namespace {
const char* const kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS settings(name TEXT PRIMARY KEY, value BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS users(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  name_key TEXT NOT NULL,
  provider TEXT NOT NULL,
  email TEXT NOT NULL,
  salt BLOB NOT NULL,
  password BLOB NOT NULL,
  state TEXT NOT NULL,
  quota INTEGER NOT NULL,
  used INTEGER NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX IF NOT EXISTS users_name ON users(provider, name_key);
CREATE TABLE IF NOT EXISTS consumers(key TEXT PRIMARY KEY, secret TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS tokens(
  token TEXT PRIMARY KEY,
  secret TEXT NOT NULL,
  consumer TEXT NOT NULL,
  kind INTEGER NOT NULL,
  user INTEGER NOT NULL DEFAULT 0,
  verifier TEXT NOT NULL DEFAULT '',
  created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS devices(
  user INTEGER NOT NULL, dev_id TEXT NOT NULL, dev_name TEXT NOT NULL,
  PRIMARY KEY(user, dev_id));
CREATE TABLE IF NOT EXISTS log_uploads(
  id INTEGER PRIMARY KEY, time INTEGER NOT NULL, remote TEXT NOT NULL, body BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS entries(
  id INTEGER PRIMARY KEY,
  account INTEGER NOT NULL,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL,
  name_key TEXT NOT NULL,
  type INTEGER NOT NULL,
  ver BLOB NOT NULL,
  size INTEGER NOT NULL DEFAULT 0,
  chunk_size INTEGER NOT NULL DEFAULT 0,
  keys BLOB NOT NULL DEFAULT x'',
  edit_time TEXT NOT NULL DEFAULT '',
  mime TEXT NOT NULL DEFAULT '',
  trashed INTEGER NOT NULL DEFAULT 0,
  trash_path TEXT NOT NULL DEFAULT '',
  trash_key TEXT NOT NULL DEFAULT '');
CREATE UNIQUE INDEX IF NOT EXISTS entries_live ON entries(account, parent, name_key)
  WHERE trashed = 0;
CREATE INDEX IF NOT EXISTS entries_parent ON entries(parent);
CREATE INDEX IF NOT EXISTS entries_trash ON entries(account, trash_key) WHERE trashed <> 0;
CREATE TABLE IF NOT EXISTS account_chunks(
  account INTEGER NOT NULL, key BLOB NOT NULL, PRIMARY KEY(account, key)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS chunk_bytes(key BLOB PRIMARY KEY, data BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS key_lists(hash BLOB PRIMARY KEY, keys BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS pending_uploads(
  account INTEGER NOT NULL, path_key TEXT NOT NULL, path TEXT NOT NULL,
  chunk_size INTEGER NOT NULL, file_size INTEGER NOT NULL, keys BLOB NOT NULL,
  created INTEGER NOT NULL,
  PRIMARY KEY(account, path_key));
CREATE TABLE IF NOT EXISTS nonces(key TEXT PRIMARY KEY, time INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS links(
  id TEXT PRIMARY KEY, account INTEGER NOT NULL, path TEXT NOT NULL, created INTEGER NOT NULL);
)SQL";
}  // namespace

std::unique_ptr<Store> Store::open(const std::string& dataDir) {
  // Password hashes and token secrets live here: owner-only from the start.
  std::string path = dataDir + "/meta.db";
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) close(fd);
  auto db = Database::open(path);
  if (!db) return nullptr;
  // One transaction: a fresh folder is ready after one sync instead of twenty.
  if (!db->exec("BEGIN") || !db->exec(kSchema) || !db->exec("COMMIT")) {
    logLine(LogLevel::kError, "cannot create the metadata schema");
    return nullptr;
  }
  return std::unique_ptr<Store>(new Store(std::move(db)));
}

std::string Store::setting(const std::string& name, const std::string& initial) {
  StoreLock lock(*this);
  db_->query("INSERT OR IGNORE INTO settings(name, value) VALUES(?, ?)")
      .bind(1, name)
      .bindBlob(2, initial)
      .run();
  Statement& st = db_->query("SELECT value FROM settings WHERE name = ?");
  st.bind(1, name);
  return st.step() == SQLITE_ROW ? st.columnBlob(0) : initial;
}

}  // namespace varnelo::service
