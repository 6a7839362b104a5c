#include "StateReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <platform/text.h>

namespace varnelo::shellproc {

std::string StateReader::normalise(const std::string& path, bool folder) {
  std::string n = platform::asciiLower(path);
  if (folder && (n.empty() || n.back() != '/')) n += '/';
  return n;
}

bool StateReader::running() {
  std::lock_guard lock(mutex_);
  refreshLocked(std::chrono::steady_clock::now());
  return running_;
}

std::vector<std::string> StateReader::roots() {
  std::lock_guard lock(mutex_);
  refreshLocked(std::chrono::steady_clock::now());
  return roots_;
}

std::optional<int> StateReader::state(const std::string& normalised) {
  std::lock_guard lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  refreshLocked(now);
  return stateLocked(normalised, now);
}

std::optional<int> StateReader::shownState(const std::string& normalised) {
  std::lock_guard lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  refreshLocked(now);
  if (!running_) return std::nullopt;
  return stateLocked(normalised, now);
}

std::optional<int> StateReader::stateLocked(const std::string& normalised,
                                            std::chrono::steady_clock::time_point now) {
  if (auto hit = cache_.find(normalised); hit != cache_.end()) return hit->second;
  if (!stateQuery_ || now < busyUntil_) return std::nullopt;
  std::optional<int> found;
  sqlite3_stmt* s = stateQuery_.get();
  sqlite3_bind_text(s, 1, normalised.data(), static_cast<int>(normalised.size()), SQLITE_TRANSIENT);
  stepDeadline_ = now + kStepBudget;
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) found = sqlite3_column_int(s, 0);
  sqlite3_reset(s);
  sqlite3_clear_bindings(s);
  // A busy (or cut short) answer is not remembered: a later call asks again.
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED || rc == SQLITE_INTERRUPT)
    busyUntil_ = now + kCheckInterval;
  if (rc == SQLITE_ROW || rc == SQLITE_DONE) {
    if (cache_.size() >= kMaxCached) cache_.clear();
    cache_.emplace(normalised, found);
  }
  return found;
}

void StateReader::refreshLocked(std::chrono::steady_clock::time_point now) {
  if (haveSnapshot_ && now - checked_ < kCheckInterval) return;
  checked_ = now;

  // A file that appeared, vanished or was replaced needs a new connection:
  // the old one would go on reading the old file.
  struct stat st;
  const bool exists = ::stat(path_.c_str(), &st) == 0;
  if (!exists || static_cast<uint64_t>(st.st_dev) != device_ ||
      static_cast<uint64_t>(st.st_ino) != inode_) {
    closeLocked();
    if (exists) {
      device_ = st.st_dev;
      inode_ = st.st_ino;
    }
  }
  if (!db_ && (!exists || !openLocked())) {
    haveSnapshot_ = true;  // nothing to show until the file is there
    running_ = false;
    roots_.clear();
    cache_.clear();
    return;
  }

  // One budget for the whole refresh: its three statements together.
  stepDeadline_ = now + kStepBudget;
  int64_t version = -1;
  if (sqlite3_step(versionQuery_.get()) == SQLITE_ROW)
    version = sqlite3_column_int64(versionQuery_.get(), 0);
  sqlite3_reset(versionQuery_.get());
  if (haveSnapshot_ && version == dataVersion_ && version != -1) return;

  // Tables that were missing at open (a file still being created) may be
  // there now.
  if (!stateQuery_ || !runningQuery_ || !rootsQuery_) prepareQueriesLocked();
  bool running = false;
  std::vector<std::string> roots;
  bool complete = true;
  sqlite3_stmt* r = runningQuery_.get();
  int rc = r ? sqlite3_step(r) : SQLITE_ERROR;
  if (rc == SQLITE_ROW) {
    const auto* text = sqlite3_column_text(r, 0);
    running = text && std::string(reinterpret_cast<const char*>(text)) == "1";
  } else if (rc != SQLITE_DONE) {
    complete = false;
  }
  if (r) sqlite3_reset(r);
  sqlite3_stmt* q = rootsQuery_.get();
  while (q && (rc = sqlite3_step(q)) == SQLITE_ROW) {
    const auto* text = sqlite3_column_text(q, 0);
    if (text) roots.emplace_back(reinterpret_cast<const char*>(text), sqlite3_column_bytes(q, 0));
  }
  if (!q || rc != SQLITE_DONE) complete = false;
  if (q) sqlite3_reset(q);

  haveSnapshot_ = true;
  if (!complete || version == -1) {
    // Busy (or not readable yet): what was known stays, for one more check
    // interval, rather than every emblem going and coming back.
    busyUntil_ = now + kCheckInterval;
    return;
  }
  cache_.clear();
  running_ = running;
  roots_ = std::move(roots);
  dataVersion_ = version;
}

namespace {

bool regularFile(const struct stat& st) {
  return S_ISREG(st.st_mode);
}

// Whether SQLite may open `path`: it opens with a plain blocking open(), so
// a FIFO would hang the file manager until some writer came, and a device
// (a link to /dev/zero, say) never ends. Only a regular file is handed
// over, and only when nothing SQLite opens beside it is anything else.
bool safeToOpen(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !regularFile(st)) return false;
  // Confirmed on the opened file, without waiting for a writer: the name
  // may have changed since stat.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool regular = ::fstat(fd, &st) == 0 && regularFile(st);
  ::close(fd);
  if (!regular) return false;
  for (const char* suffix : {"-journal", "-wal", "-shm"}) {
    if (::lstat((path + suffix).c_str(), &st) == 0 && !regularFile(st)) return false;
  }
  return true;
}

}  // namespace

int StateReader::progress(void* self) {
  auto* reader = static_cast<StateReader*>(self);
  return std::chrono::steady_clock::now() > reader->stepDeadline_ ? 1 : 0;
}

bool StateReader::openLocked() {
  if (!safeToOpen(path_)) return false;
  sqlite3* db = nullptr;
  const int rc =
      sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  db_.reset(db);
  if (rc != SQLITE_OK) {
    db_.reset();
    return false;
  }
  sqlite3_busy_timeout(db, static_cast<int>(kBusyTimeout.count()));
  // Every statement gets kStepBudget: a damaged or enormous file makes an
  // answer "nothing known", never a file manager that waits.
  sqlite3_progress_handler(db, 1000, &StateReader::progress, this);
  stepDeadline_ = std::chrono::steady_clock::now() + kStepBudget;  // reading the schema
  versionQuery_ = prepareLocked("PRAGMA data_version;");
  prepareQueriesLocked();
  if (!versionQuery_) {
    closeLocked();
    return false;
  }
  dataVersion_ = -1;
  return true;
}

void StateReader::prepareQueriesLocked() {
  // Missing tables leave a statement empty: nothing is shown for it.
  stateQuery_ = prepareLocked("SELECT sync_state FROM file_state_cache WHERE local_path = ?;");
  runningQuery_ = prepareLocked("SELECT value FROM config WHERE key = 'running';");
  rootsQuery_ = prepareLocked("SELECT local_path FROM file_state_cache WHERE parent_id = 0;");
}

void StateReader::closeLocked() {
  stateQuery_.reset();
  runningQuery_.reset();
  rootsQuery_.reset();
  versionQuery_.reset();
  db_.reset();
  device_ = inode_ = 0;
  dataVersion_ = -1;
}

StateReader::Statement StateReader::prepareLocked(const char* sql) {
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db_.get(), sql, -1, &s, nullptr) != SQLITE_OK) {
    sqlite3_finalize(s);
    return Statement();
  }
  return Statement(s);
}

}  // namespace varnelo::shellproc
