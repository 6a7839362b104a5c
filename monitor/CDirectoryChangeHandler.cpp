#include "CDirectoryChangeHandler.h"

#include "CDirectoryChangeWatcher.h"

namespace varnelo::monitor {

long CDirectoryChangeHandler::Release() noexcept {
  const long left = --refs_;
  if (left == 0) delete this;
  return left;
}

CDirectoryChangeHandler::~CDirectoryChangeHandler() {
  CDirectoryChangeWatcher* watcher = nullptr;
  {
    std::lock_guard lock(linkMutex_);
    watcher = watcher_;
  }
  // Only reachable when an owner deletes a handler that still has watches;
  // the watch records hold references otherwise.
  if (watcher) watcher->StopWatchesOf(this);
}

CDirectoryChangeWatcher* CDirectoryChangeHandler::attachTo(CDirectoryChangeWatcher* watcher) {
  std::lock_guard lock(linkMutex_);
  if (watcher_ && watcher_ != watcher) return watcher_;
  watcher_ = watcher;
  ++watchCount_;
  return nullptr;
}

void CDirectoryChangeHandler::detachFrom(CDirectoryChangeWatcher* watcher) {
  std::lock_guard lock(linkMutex_);
  if (watcher_ != watcher) return;
  if (--watchCount_ <= 0) {
    watchCount_ = 0;
    watcher_ = nullptr;
  }
}

}  // namespace varnelo::monitor
