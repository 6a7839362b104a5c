// The shared counters of one file's chunk tasks: how many are still pending,
// how many failed, and the wait for the last one. Owned by the file-level
// operation (upload or download), which outlives the wait; the tasks change
// the counters from the I/O threads. The last task to finish wakes the
// waiter while holding the group's lock, so the waiter can only return (and
// destroy the group) after that task has let go of it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "IoCallback.h"
#include "platform/time.h"
#include "varnelo/meta.h"

namespace chunkcache {
class ChunkCache;
}

namespace varnelo {

struct TransferGroup {
  IoCallback* callback = nullptr;
  uint32_t timeoutMs = 3600000;  // per request
  uint32_t attempts = 3;         // per chunk
  std::atomic<int32_t> failures{0};

  // Uploads: the file's last-write time when the upload was planned, and for
  // a small file its size and the entry that receives the new version.
  platform::FileTime lastWrite = 0;
  uint64_t smallFileSize = 0;
  varnelo_meta_entry* entry = nullptr;

  // Downloads: the chunk size and the index that finds chunks on disk.
  uint64_t chunkSize = 0;
  chunkcache::ChunkCache* cache = nullptr;
  // Downloads: taken around each write into the file the tasks share, so a
  // writer that waits sleeps instead of spinning on the file's inode lock
  // (the file system lets one buffered write into a file run at a time).
  std::mutex writeLock;
  // Downloads: set while one task syncs the file (the others go on).
  std::atomic<bool> syncing{false};

  // One more task will run (call before posting it).
  void addPending() {
    std::lock_guard lock(mutex_);
    ++pending_;
  }
  // A task's last act: count its failure, then its end.
  void taskFinished(bool ok) {
    if (!ok) failures.fetch_add(1);
    std::lock_guard lock(mutex_);
    if (--pending_ == 0) done_.notify_all();
  }
  // Waits until every added task has finished.
  void wait() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
  }
  // As wait(), for at most `ms`; true when every task has finished.
  bool waitFor(uint32_t ms) {
    std::unique_lock lock(mutex_);
    return done_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return pending_ == 0; });
  }
  int32_t pending() const {
    std::lock_guard lock(mutex_);
    return pending_;
  }

 private:
  mutable std::mutex mutex_;  // guards pending_; held while notifying done_
  std::condition_variable done_;
  int32_t pending_ = 0;
};

}  // namespace varnelo
