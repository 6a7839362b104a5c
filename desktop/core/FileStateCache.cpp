#include "FileStateCache.h"

#include <QtGlobal>

#include "platform/files.h"
#include "platform/text.h"

namespace varnelo::desktop {
namespace {

// The creation statements, in this order (readers built against this file
// know its tables by these texts; the second config statement is the older
// layout's and changes nothing).
constexpr const char* kCreateStatements[] = {
    ConfigTable::kCreateSql,
    "CREATE TABLE IF NOT EXISTS file_state_cache ( \t\t\t\t\t   id INTEGER PRIMARY KEY, "
    "\t\t\t\t\t   parent_id INTEGER, \t\t\t\t\t   local_path TEXT  NOT NULL UNIQUE, "
    "\t\t\t\t\t   sync_state INTEGER);",
    "CREATE TABLE IF NOT EXISTS config ( \t\t\t\t\t\t id INTEGER PRIMARY KEY, \t\t\t\t\t\t key "
    "TEXT NOT NULL UNIQUE, \t\t\t\t\t\t value TEXT);",
    // Deriving a folder's state reads its children; without this index that
    // is a scan of the whole table per report.
    "CREATE INDEX IF NOT EXISTS file_state_cache_parent ON file_state_cache(parent_id);",
};

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The first text that sorts after every text beginning with `prefix`
// (which ends in "/"): rows below a folder are the range [prefix, end).
std::string prefixEnd(std::string prefix) {
  prefix.back() = static_cast<char>('/' + 1);
  return prefix;
}

}  // namespace

std::string FileStateCache::normalise(const std::string& path) {
  std::string out = path;
  if (!out.empty() && out.back() != '/' && platform::files::isDirectory(path)) out += '/';
  return platform::asciiLower(out);
}

std::string FileStateCache::parentOf(const std::string& normalised) {
  if (normalised.empty()) return "";
  size_t end = normalised.size() - 1;  // a trailing "/" of the path itself does not count
  size_t slash = end == 0 ? std::string::npos : normalised.rfind('/', end - 1);
  return slash == std::string::npos ? "" : normalised.substr(0, slash + 1);
}

bool FileStateCache::open(const std::string& path, BusyRetry retry) {
  std::lock_guard lock(mutex_);
  retry_ = retry;
  retry_.cancel = &cancel_;
  if (int rc = db_.openPrivate(path); rc != SQLITE_OK) {
    qWarning("state cache: cannot open %s (SQLite %d)", path.c_str(), rc);
    return false;
  }
  for (const char* sql : kCreateStatements) {
    if (int rc = execRetrying(db_, sql, retry_); rc != SQLITE_OK) {
      qWarning("state cache: cannot create the tables of %s: %s", path.c_str(), db_.errorMessage());
      db_.close();
      return false;
    }
  }
  lookup_ =
      db_.prepare("select id, parent_id, sync_state from file_state_cache where local_path = ?1;");
  insert_ = db_.prepare("insert into file_state_cache values(NULL, ?1, ?2, ?3);");
  setState_ = db_.prepare("UPDATE file_state_cache SET sync_state = ?1 WHERE local_path = ?2;");
  deleteOne_ = db_.prepare("DELETE from file_state_cache WHERE local_path = ?1;");
  deleteBelow_ =
      db_.prepare("DELETE from file_state_cache WHERE local_path >= ?1 AND local_path < ?2;");
  children_ = db_.prepare(
      "select sync_state from file_state_cache where parent_id = ?1 and (sync_state & 3) != 0 "
      "limit 1;");
  roots_ = db_.prepare("select local_path from file_state_cache where parent_id = 0 limit 1;");
  selectBelow_ = db_.prepare(
      "select id, local_path from file_state_cache where local_path = ?1 or (local_path >= ?2 "
      "AND local_path < ?3);");
  movePath_ = db_.prepare("UPDATE OR REPLACE file_state_cache SET local_path = ?1 WHERE id = ?2;");
  if (!config_.prepare(db_, retry_) || !lookup_.valid() || !insert_.valid() || !setState_.valid() ||
      !deleteOne_.valid() || !deleteBelow_.valid() || !children_.valid() || !roots_.valid() ||
      !selectBelow_.valid() || !movePath_.valid()) {
    qWarning("state cache: cannot prepare the statements of %s: %s", path.c_str(),
             db_.errorMessage());
    close();
    return false;
  }
  return true;
}

void FileStateCache::close() {
  std::lock_guard lock(mutex_);
  config_ = ConfigTable();
  for (auto* s : {&lookup_, &insert_, &setState_, &deleteOne_, &deleteBelow_, &children_, &roots_,
                  &selectBelow_, &movePath_}) {
    *s = sqlite::Statement();
  }
  db_.close();
}

bool FileStateCache::isOpen() {
  std::lock_guard lock(mutex_);
  return db_.isOpen();
}

int FileStateCache::step(sqlite::Statement& s) {
  if (!s.valid()) return SQLITE_MISUSE;
  return stepRetrying(s, retry_);
}

int FileStateCache::exec(const char* sql) {
  return execRetrying(db_, sql, retry_);
}

void FileStateCache::clear() {
  std::lock_guard lock(mutex_);
  exec("DELETE FROM config;");
  exec("DELETE FROM file_state_cache;");
}

void FileStateCache::addRoot(const std::string& path) {
  // A root is a folder even while it is missing (an unmounted disk).
  std::string root = normalise(path);
  if (root.empty()) return;
  if (root.back() != '/') root += '/';
  std::lock_guard lock(mutex_);
  Row row;
  if (!lookupLocked(root, row)) insert(root, 0, 0);
}

bool FileStateCache::isRunning() {
  std::lock_guard lock(mutex_);
  std::string value;
  return config_.get("running", value) == 200 && value == "1";
}

void FileStateCache::setRunning(bool running) {
  std::lock_guard lock(mutex_);
  if (config_.set("running", running ? "1" : "0") != 200) {
    qWarning("state cache: cannot store the running flag");
  }
}

bool FileStateCache::isUnderRoot(const std::string& path) {
  std::lock_guard lock(mutex_);
  if (!roots_.valid()) return false;
  sqlite::ResetGuard guard(roots_);
  if (step(roots_) != SQLITE_ROW) return false;
  const std::string root = roots_.columnText(0);
  return path.size() >= root.size() &&
         platform::equalsIgnoreCase(path.substr(0, root.size()), root);
}

bool FileStateCache::lookup(const std::string& normalised, Row& row) {
  std::lock_guard lock(mutex_);
  return lookupLocked(normalised, row);
}

bool FileStateCache::lookupLocked(const std::string& normalised, Row& row) {
  if (!lookup_.valid()) return false;
  sqlite::ResetGuard guard(lookup_);
  lookup_.bind(1, normalised);
  if (step(lookup_) != SQLITE_ROW) return false;
  row.id = lookup_.columnInt64(0);
  row.parentId = lookup_.columnInt64(1);
  row.state = static_cast<int>(lookup_.columnInt64(2));
  return true;
}

int64_t FileStateCache::ensureParent(const std::string& normalised) {
  const std::string parent = parentOf(normalised);
  if (parent.empty()) return -1;
  Row row;
  if (lookupLocked(parent, row)) return row.id;
  const int64_t above = ensureParent(parent);
  if (above < 0) return -1;
  if (!insert(parent, above, 0) || !lookupLocked(parent, row)) return -1;
  return row.id;
}

bool FileStateCache::insert(const std::string& normalised, int64_t parentId, int state) {
  if (!insert_.valid()) return false;
  sqlite::ResetGuard guard(insert_);
  insert_.bind(1, parentId).bind(2, normalised).bind(3, state);
  return step(insert_) == SQLITE_DONE;
}

bool FileStateCache::setState(const std::string& normalised, int state) {
  if (!setState_.valid()) return false;
  sqlite::ResetGuard guard(setState_);
  setState_.bind(1, state).bind(2, normalised);
  return step(setState_) == SQLITE_DONE;
}

void FileStateCache::propagateUp(const std::string& normalised) {
  // Iterative: each folder takes the state of its first child that is
  // transferring (a state with bit 0 or 1 set), else 0; roots end the walk.
  std::string p = parentOf(normalised);
  while (!p.empty()) {
    Row folder;
    if (!lookupLocked(p, folder)) return;
    int derived = 0;
    {
      sqlite::ResetGuard guard(children_);
      children_.bind(1, folder.id);
      if (step(children_) == SQLITE_ROW) derived = static_cast<int>(children_.columnInt64(0));
    }
    if (derived == folder.state) return;
    if (!setState(p, derived) || folder.parentId == 0) return;
    p = parentOf(p);
  }
}

void FileStateCache::apply(const std::string& path, int state) {
  std::lock_guard lock(mutex_);
  const std::string normalised = normalise(path);
  if (!platform::files::exists(path)) {
    removeLocked(normalised);
    return;
  }
  Row row;
  if (lookupLocked(normalised, row)) {
    if (row.state != state && setState(normalised, state)) propagateUp(normalised);
    return;
  }
  const int64_t parent = ensureParent(normalised);
  if (parent >= 0 && insert(normalised, parent, state)) propagateUp(normalised);
}

void FileStateCache::remove(const std::string& path) {
  std::lock_guard lock(mutex_);
  removeLocked(normalise(path));
}

void FileStateCache::removeLocked(const std::string& normalised) {
  if (!deleteOne_.valid() || normalised.empty()) return;
  {
    sqlite::ResetGuard guard(deleteOne_);
    deleteOne_.bind(1, normalised);
    step(deleteOne_);
  }
  // A path that is gone has no trailing "/" any more, yet may have been a
  // folder: everything below "<path>/" goes too, and nothing beside it
  // ("<path>x" is another name).
  const std::string below = normalised.back() == '/' ? normalised : normalised + '/';
  {
    sqlite::ResetGuard guard(deleteBelow_);
    deleteBelow_.bind(1, below).bind(2, prefixEnd(below));
    step(deleteBelow_);
  }
  propagateUp(normalised);
}

void FileStateCache::rename(const std::string& oldPath, const std::string& newPath) {
  std::lock_guard lock(mutex_);
  const std::string from = withoutTrailingSlash(normalise(oldPath));
  const std::string to = withoutTrailingSlash(normalise(newPath));
  if (from.empty() || to.empty() || from == to || !selectBelow_.valid()) return;
  std::vector<std::pair<int64_t, std::string>> rows;
  {
    sqlite::ResetGuard guard(selectBelow_);
    const std::string below = from + '/';
    selectBelow_.bind(1, from).bind(2, below).bind(3, prefixEnd(below));
    while (step(selectBelow_) == SQLITE_ROW) {
      rows.emplace_back(selectBelow_.columnInt64(0), selectBelow_.columnText(1));
    }
  }
  for (const auto& [id, local] : rows) {
    sqlite::ResetGuard guard(movePath_);
    movePath_.bind(1, to + local.substr(from.size())).bind(2, id);
    step(movePath_);
  }
}

FileStateCache::Batch::Batch(FileStateCache& cache)
    : cache_(cache),
      lock_(cache.mutex_),
      began_(cache.db_.isOpen() && cache.exec("BEGIN IMMEDIATE;") == SQLITE_OK) {}

FileStateCache::Batch::~Batch() {
  if (!began_) return;
  if (cache_.exec("COMMIT;") != SQLITE_OK) {
    qWarning("state cache: cannot commit a batch of states: %s", cache_.db_.errorMessage());
    cache_.db_.exec("ROLLBACK;");
  }
}

}  // namespace varnelo::desktop
