// CDirectoryChangeWatcher: watches folder trees for changes and reports each
// change, in the order the kernel reported it, to a receiver through a
// CDelayedDirectoryChangeHandler (so receivers run on the dispatch thread).
// One worker thread reads every watch of a watcher; it exists from the
// first StartWatch until StopAllWatches or destruction.
//
// Thread safety: every public operation may be called from any thread,
// including the dispatch thread from inside a receiver's callback. No
// thread waits for another while holding the watcher's lock; a stop waits
// for the worker (which never waits for anyone) and then for the
// watch-stopped notification to be dispatched, so receivers that call back
// into the watcher cannot deadlock it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "CDirectoryChangeHandler.h"
#include "platform/dir_watch.h"

namespace varnelo::monitor {

class CDirectoryChangeWatcher {
 public:
  // `filterOptions`: WF_* bits for the watches it starts (0: WF_NAME_ONLY).
  explicit CDirectoryChangeWatcher(uint32_t filterOptions = 0);
  // Runs Shutdown.
  virtual ~CDirectoryChangeWatcher();
  CDirectoryChangeWatcher(const CDirectoryChangeWatcher&) = delete;
  CDirectoryChangeWatcher& operator=(const CDirectoryChangeWatcher&) = delete;

  // Watches `directory` (with `subtree`, everything below it) for the
  // platform::kWatch* changes in `changeFilter`, reporting to `handler`,
  // which gains a reference while watched. Patterns are ";"-separated texts
  // or null. A directory already watched (same path) is stopped first.
  // Errors: EINVAL for an empty path, a filter of 0 or no handler; ENOTDIR
  // when the path is not a folder; the kernel's error when the tree cannot
  // be watched (ENOSPC: the user's watch limit). No watch remains then.
  std::error_code StartWatch(const std::string& directory, uint32_t changeFilter,
                             CDirectoryChangeHandler* handler, bool watchSubtree,
                             const char* includePatterns, const char* excludePatterns);
  // Stops the watch of `directory`; false when there was none. Notifications
  // already queued for it are delivered before it returns.
  bool StopWatch(const std::string& directory);
  // Stops every watch reporting to `handler`; false when there was none.
  bool StopWatchesOf(CDirectoryChangeHandler* handler);
  // Stops every watch and ends the worker; false when there was no worker.
  bool StopAllWatches();
  // Stops every watch and waits until no other thread is inside an operation
  // of this watcher (a receiver may be stopping or restarting a watch on the
  // dispatch thread), so that the watcher can be destroyed. Not to be called
  // from inside one of its own operations.
  void Shutdown();
  // Whether a watch of exactly this path exists (paths are case-sensitive
  // here; no other normalisation).
  bool IsWatched(const std::string& directory) const;
  // Returns the previous options; 0 becomes WF_NAME_ONLY. Used by watches
  // started afterwards.
  uint32_t SetFilterOptions(uint32_t filterOptions);

  // Test seam: makes the watch of `directory` run into `fault` (see
  // platform::DirWatch). False when it is not watched.
  bool InjectFault(const std::string& directory, platform::DirWatchFault fault);

 protected:
  // Run first and last on the worker thread. A class that overrides them
  // calls Shutdown in its own destructor, while it is still whole.
  virtual void OnWorkerStart() {}
  virtual void OnWorkerExit() {}

 private:
  struct WatchRecord;
  struct Worker;
  class BusyScope;
  using RecordMatch = bool (*)(const WatchRecord&, const void*);

  bool stopMatching(RecordMatch match, const void* key);
  std::vector<WatchRecord*> takeOutLocked(RecordMatch match, const void* key);
  void stopRecord(WatchRecord* record);
  void destroyRecord(WatchRecord* record);
  void runWorker(Worker* worker);
  void readChanges(WatchRecord& record, std::vector<platform::DirChange>& changes);

  // The watcher lock: guards records_, worker_, filterOptions_ and busy_.
  // Never held while waiting for another thread.
  mutable std::mutex mutex_;
  std::condition_variable idle_;       // signalled when busy_ drops to 0
  int busy_ = 0;                       // operations under way (they wait outside the lock)
  std::vector<WatchRecord*> records_;  // a stopped watch leaves a null slot for the next one
  std::unique_ptr<Worker> worker_;
  uint32_t filterOptions_;
};

}  // namespace varnelo::monitor
