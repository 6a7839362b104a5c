// CDirectoryChangeHandler: the base of every receiver of directory-watcher
// callbacks, and of the delayed handler that stands in front of each
// receiver. Receivers override the Notify* slots they care about; the
// watcher calls them only on the monitor's dispatch thread (through a
// CDelayedDirectoryChangeHandler), never on its worker.
//
// Thread safety: AddRef/Release are atomic; the watcher link is guarded by
// its own lock. A handler belongs to at most one watcher at a time:
// starting a watch with it on another watcher first stops its watches on
// the one it belongs to.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <system_error>

namespace varnelo::monitor {

class CDirectoryChangeWatcher;

// What a change notification reports.
enum class ChangeKind : uint32_t {
  Added = 1,
  Removed = 2,
  Modified = 3,
  Renamed = 4,
  ReadError = 5,
  WatchStarted = 6,
  WatchStopped = 7,
  Remounted = 8,
};

class CDirectoryChangeHandler {
 public:
  CDirectoryChangeHandler() = default;
  CDirectoryChangeHandler(const CDirectoryChangeHandler&) = delete;
  CDirectoryChangeHandler& operator=(const CDirectoryChangeHandler&) = delete;

  // Starts with one reference, its creator's; the last Release destroys it.
  long AddRef() noexcept { return ++refs_; }
  long Release() noexcept;

  // Destroying a handler that is still attached stops its watches.
  virtual ~CDirectoryChangeHandler();

  // Paths are full paths (the watched folder, "/", the name below it).
  virtual void NotifyAdded(const std::string& path) { (void)path; }
  virtual void NotifyRemoved(const std::string& path) { (void)path; }
  virtual void NotifyRenamed(const std::string& oldPath, const std::string& newPath) {
    (void)oldPath;
    (void)newPath;
  }
  virtual void NotifyModified(const std::string& path) { (void)path; }
  // The watch of `directory` ended because reading its changes failed;
  // changes may have been lost.
  virtual void NotifyReadError(std::error_code error, const std::string& directory) {
    (void)error;
    (void)directory;
  }
  virtual void NotifyWatchStarted(std::error_code error, const std::string& directory) {
    (void)error;
    (void)directory;
  }
  virtual void NotifyWatchStopped(const std::string& directory) { (void)directory; }
  // A file system was mounted on the folder `path` below a watched one, or
  // unmounted from it: it is watched anew, but what it holds now (and what
  // changed in it while the watch looked elsewhere) was never reported.
  virtual void NotifyRemounted(const std::string& path) { (void)path; }
  // Asked at dispatch (unless the options say otherwise) whether a change is
  // wanted; `newName` is set for renames only.
  virtual bool AcceptChange(ChangeKind kind, const std::string& name, const std::string* newName) {
    (void)kind;
    (void)name;
    (void)newName;
    return true;
  }

 private:
  friend class CDirectoryChangeWatcher;
  // Links the handler to `watcher` for one more watch. When it is linked to
  // another watcher, nothing changes and that watcher is returned.
  CDirectoryChangeWatcher* attachTo(CDirectoryChangeWatcher* watcher);
  // One watch on `watcher` fewer; at none the link goes.
  void detachFrom(CDirectoryChangeWatcher* watcher);

  std::atomic<long> refs_{1};
  std::mutex linkMutex_;  // guards watcher_ and watchCount_
  CDirectoryChangeWatcher* watcher_ = nullptr;
  int watchCount_ = 0;
};

}  // namespace varnelo::monitor
