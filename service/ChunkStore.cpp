#include "ChunkStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <system_error>
#include <thread>

#include "Database.h"
#include "Log.h"
#include "Store.h"

namespace varnelo::service {
namespace {
// Bytes gathered before one write to the temporary file: request bodies
// arrive in small blocks, and one write per block would cost a system call
// (and a file-change notification) every few kilobytes. Small enough that
// the block is still in the core's cache when it is hashed and copied into
// the file (a 1 MiB block cost the service about 7% more CPU per upload).
constexpr size_t kWriteBlock = 256 << 10;

// Present in the chunk folder while a process has the store open.
constexpr const char* kOpenMarker = "open";

bool makeDir(const std::string& path) {
  return mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// fsync of an open descriptor, retried on EINTR.
bool syncFd(int fd, bool dataOnly) {
  int rc;
  do {
    rc = dataOnly ? fdatasync(fd) : fsync(fd);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

bool syncPath(const std::string& path, bool directory) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (directory ? O_DIRECTORY : 0));
  if (fd < 0) return false;
  bool ok = syncFd(fd, !directory);
  // errno stays the sync's (close() may change it).
  const int error = errno;
  ::close(fd);
  errno = error;
  return ok;
}

// Threads that sync the files of one commit at once, at most: enough for the
// file system to gather their flushes into one, few enough to stay cheap.
constexpr size_t kSyncThreads = 8;

// Runs sync(i) for every i below count on up to kSyncThreads threads (the
// caller's among them), each taking the next index; every thread is joined
// before it returns. True when every call returned true; after a false one
// no further index is started.
bool syncInParallel(size_t count, const std::function<bool(size_t)>& sync) {
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&] {
    while (!failed.load()) {
      const size_t i = next.fetch_add(1);
      if (i >= count) break;
      if (!sync(i)) failed.store(true);
    }
  };
  std::vector<std::thread> helpers;
  for (size_t t = 1; t < std::min(count, kSyncThreads); ++t) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads do the same syncs
    }
  }
  work();
  for (auto& t : helpers) t.join();
  return !failed.load();
}
}  // namespace

bool ChunkStore::open(const std::string& dataDir, Store* database, bool syncEarly) {
  database_ = database;
  root_ = dataDir + "/chunks";
  if (!makeDir(root_) || !makeDir(root_ + "/tmp")) {
    logLine(LogLevel::kError, "cannot create the chunk store in %s: %s", root_.c_str(),
            strerror(errno));
    return false;
  }
  // The marker stays while the store is open. Found at open, it means an
  // earlier run ended without close(), perhaps leaving chunks it stored but
  // never made durable; the commits of this run take every chunk they did
  // not store themselves to be on disk, so the file system is flushed first.
  const std::string marker = root_ + "/" + kOpenMarker;
  if (access(marker.c_str(), F_OK) == 0) {
    int fd = ::open(root_.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
    bool synced = fd >= 0 && syncfs(fd) == 0;
    if (fd >= 0) ::close(fd);
    if (!synced) {
      logLine(LogLevel::kError, "cannot flush the chunk store in %s: %s", root_.c_str(),
              strerror(errno));
      return false;
    }
  }
  int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    logLine(LogLevel::kError, "cannot mark the chunk store open in %s: %s", root_.c_str(),
            strerror(errno));
    return false;
  }
  ::close(fd);
  if (syncEarly && !syncer_.joinable()) {
    try {
      syncer_ = std::thread([this] { runSyncer(); });
    } catch (const std::system_error&) {
      // Without it every chunk is synced by its commit, as before.
      logLine(LogLevel::kWarning, "no thread for early chunk syncs");
    }
  }
  return true;
}

ChunkStore::~ChunkStore() {
  stopSyncer();
}

void ChunkStore::stopSyncer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  queuedChanged_.notify_all();
  if (syncer_.joinable()) syncer_.join();
}

void ChunkStore::queueSync(const std::string& key) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!syncer_.joinable() || stopping_) return;  // left to makeDurable()
    queued_.push_back(key);
  }
  queuedChanged_.notify_one();
}

void ChunkStore::runSyncer() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    queuedChanged_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
    if (stopping_) return;
    std::vector<std::string> batch;
    batch.swap(queued_);
    lock.unlock();
    // A chunk that cannot be synced here stays unsynced: the commit that
    // needs it syncs it again and reports the failure.
    if (makeDurable(batch) != kOk) {
      logLine(LogLevel::kWarning, "early sync of %zu chunks failed; left to their commit",
              batch.size());
    }
    lock.lock();
  }
}

bool ChunkStore::awaitingSync(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return unsynced_.count(key) != 0;
}

void ChunkStore::close() {
  if (root_.empty()) return;
  stopSyncer();
  std::vector<std::string> keys;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    keys.assign(unsynced_.begin(), unsynced_.end());
  }
  // Stored but never committed: flushed too, since the next run takes every
  // chunk it finds to be on disk.
  if (makeDurable(keys) == kOk) unlink((root_ + "/" + kOpenMarker).c_str());
}

std::string ChunkStore::pathFor(const std::string& key) const {
  std::string hex = toHex(key);
  return root_ + "/" + hex.substr(0, 2) + "/" + hex;
}

namespace {
int64_t fileLength(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}
}  // namespace

int64_t ChunkStore::lengthLocked(Database& db, const std::string& key) const {
  if (key.size() != 20) return -1;
  if (database_ != nullptr) {
    Statement& q = db.query("SELECT length(data) FROM chunk_bytes WHERE key = ?").bindBlob(1, key);
    if (q.step() == SQLITE_ROW) return q.columnInt64(0);
  }
  return fileLength(pathFor(key));
}

int64_t ChunkStore::length(const std::string& key) const {
  if (key.size() != 20) return -1;
  if (database_ == nullptr) return fileLength(pathFor(key));
  StoreLock lock(*database_);
  return lengthLocked(database_->db(), key);
}

bool ChunkStore::wholeOnDisk(const std::string& key, int64_t expected) const {
  return expected > 0 && length(key) == expected;
}

bool ChunkStore::wholeOnDiskLocked(Database& db, const std::string& key, int64_t expected) const {
  return expected > 0 && lengthLocked(db, key) == expected;
}

bool ChunkStore::putLocked(Database& db, const std::string& key, std::string_view bytes) const {
  if (database_ == nullptr || key.size() != 20) return false;
  return db.query("INSERT OR IGNORE INTO chunk_bytes(key, data) VALUES(?, ?)")
      .bindBlob(1, key)
      .bindBlob(2, bytes)
      .run();
}

bool ChunkStore::databaseBytes(const std::string& key, std::string* out) const {
  if (database_ == nullptr || key.size() != 20) return false;
  StoreLock lock(*database_);
  Statement& q =
      database_->db().query("SELECT data FROM chunk_bytes WHERE key = ?").bindBlob(1, key);
  if (q.step() != SQLITE_ROW) return false;
  *out = q.columnBlob(0);
  return true;
}

Status ChunkStore::makeDurable(const std::vector<std::string>& keys) {
  std::vector<std::string> pending;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& key : keys) {
      if (unsynced_.count(key)) pending.push_back(key);
    }
  }
  if (pending.empty()) return kOk;
  std::vector<std::string> paths(pending.size());
  std::vector<char> stored(pending.size(), 0);
  for (size_t i = 0; i < pending.size(); ++i) paths[i] = pathFor(pending[i]);
  // The syncs of one commit run side by side: each waits for its own file's
  // data, and the file system then makes them durable with a shared journal
  // commit and cache flush instead of one after another.
  bool ok = syncInParallel(paths.size(), [&](size_t i) {
    if (syncPath(paths[i], false)) {
      stored[i] = 1;
      return true;
    }
    if (errno == ENOENT) return true;  // not stored: the commit's own checks refuse it
    logLine(LogLevel::kError, "chunk sync failed: %s", strerror(errno));
    return false;
  });
  if (!ok) return kServerError;
  std::set<std::string> folderSet;
  for (size_t i = 0; i < paths.size(); ++i) {
    if (stored[i]) folderSet.insert(paths[i].substr(0, paths[i].rfind('/')));
  }
  const std::vector<std::string> folders(folderSet.begin(), folderSet.end());
  ok = syncInParallel(folders.size(), [&](size_t i) {
    if (syncPath(folders[i], true)) return true;
    logLine(LogLevel::kError, "chunk folder sync failed: %s", strerror(errno));
    return false;
  });
  if (!ok) return kServerError;
  // Taken out only now: a commit running beside this one that needs the same
  // chunk syncs it too rather than relying on a sync still under way.
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& key : pending) unsynced_.erase(key);
  return kOk;
}

ChunkStore::Writer::Writer(ChunkStore& store, uint64_t maxLength)
    : store_(store), maxLength_(maxLength) {
  tempPath_ = store_.root_ + "/tmp/chunk-XXXXXX";
  fd_ = mkstemp(tempPath_.data());
  if (fd_ < 0) {
    logLine(LogLevel::kError, "cannot create a temporary chunk file: %s", strerror(errno));
    failed_ = true;
    tempPath_.clear();
  }
}

ChunkStore::Writer::~Writer() {
  if (fd_ >= 0) ::close(fd_);
  if (!tempPath_.empty()) unlink(tempPath_.c_str());
}

bool ChunkStore::Writer::flush() {
  hash_.update(buffer_.get(), used_);
  size_t done = 0;
  while (done < used_) {
    ssize_t n = ::write(fd_, buffer_.get() + done, used_ - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      logLine(LogLevel::kError, "chunk write failed: %s", strerror(errno));
      failed_ = true;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  used_ = 0;
  return true;
}

bool ChunkStore::Writer::write(const char* data, size_t size) {
  if (failed_ || tooLong_) return false;
  if (written_ + size > maxLength_) {
    tooLong_ = true;
    return false;
  }
  if (!buffer_) {
    // Not cleared: every byte is copied in before it is used.
    capacity_ =
        static_cast<size_t>(std::min<uint64_t>(kWriteBlock, std::max<uint64_t>(maxLength_, 1)));
    buffer_.reset(new char[capacity_]);
  }
  written_ += size;
  while (size > 0) {
    size_t n = std::min(size, capacity_ - used_);
    std::memcpy(buffer_.get() + used_, data, n);
    used_ += n;
    data += n;
    size -= n;
    if (used_ == capacity_ && !flush()) return false;
  }
  return true;
}

Status ChunkStore::Writer::finish(const std::string& key) {
  if (tooLong_) return kBadRequest;
  if (failed_ || (used_ > 0 && !flush())) return kServerError;
  if (key.size() != 20 || hash_.finish() != key) return kBadRequest;
  // Writeback starts now, while other chunks still arrive; the store's
  // syncer makes the chunk durable soon after it is in place, and
  // makeDurable() waits for what is left when a commit needs the chunk.
  sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
  ::close(fd_);
  fd_ = -1;
  // Another upload of the same bytes may have won the race; the rename then
  // replaces identical content, which is harmless.
  // The folder of a key prefix is made when its first chunk arrives.
  std::string target = store_.pathFor(key);
  mkdir(target.substr(0, target.rfind('/')).c_str(), 0700);
  {
    // Counted as unsynced before the name exists, so a commit never finds the
    // chunk stored without knowing it still has to be synced.
    std::lock_guard<std::mutex> lock(store_.mutex_);
    store_.unsynced_.insert(key);
  }
  if (rename(tempPath_.c_str(), target.c_str()) != 0) {
    logLine(LogLevel::kError, "chunk rename failed: %s", strerror(errno));
    return kServerError;
  }
  tempPath_.clear();
  store_.queueSync(key);
  return kOk;
}

ChunkReader::ChunkReader(const ChunkStore& store, const std::string& key) {
  if (store.databaseBytes(key, &bytes_)) {
    inMemory_ = true;
  } else if (key.size() == 20) {
    fd_ = ::open(store.pathFor(key).c_str(), O_RDONLY | O_CLOEXEC);
  }
}

ChunkReader::ChunkReader(const std::string& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}

ChunkReader::~ChunkReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool ChunkReader::readAt(uint64_t offset, char* out, size_t size) const {
  if (inMemory_) {
    if (offset > bytes_.size() || size > bytes_.size() - offset) return false;
    std::memcpy(out, bytes_.data() + offset, size);
    return true;
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace varnelo::service
