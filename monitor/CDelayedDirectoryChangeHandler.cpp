#include "CDelayedDirectoryChangeHandler.h"

#include <exception>

#include "CDelayedNotificationThread.h"
#include "FilterOptions.h"
#include "Log.h"

namespace varnelo::monitor {

CChangeNotification::CChangeNotification(CDelayedDirectoryChangeHandler* maker,
                                         ChangeKind changeKind, std::string changedName,
                                         std::string changedNewName, std::error_code code,
                                         size_t offset)
    : handler(maker),
      kind(changeKind),
      name(std::move(changedName)),
      newName(std::move(changedNewName)),
      error(code),
      relativeOffset(offset) {
  handler->AddRef();
}

CChangeNotification::~CChangeNotification() {
  handler->Release();
}

CDelayedDirectoryChangeHandler::CDelayedDirectoryChangeHandler(
    CDirectoryChangeHandler* realHandler, std::unique_ptr<CDelayedNotifier> notifier,
    std::string_view includePatterns, std::string_view excludePatterns, uint32_t filterOptions)
    : realHandler_(realHandler),
      notifier_(std::move(notifier)),
      options_(normalizedFilterOptions(filterOptions)),
      includes_(PatternList::parse(includePatterns)),
      excludes_(PatternList::parse(excludePatterns)) {
  realHandler_->AddRef();
}

void CDelayedDirectoryChangeHandler::SetPartialPathOffset(const std::string& watchedDirectory) {
  offset_ = 0;
  if (options_ & WF_RELATIVE_PATH) {
    offset_ = watchedDirectory.size();
    if (watchedDirectory.empty() || watchedDirectory.back() != '/') ++offset_;
  }
}

CDirectoryChangeHandler* CDelayedDirectoryChangeHandler::TakeOutRealHandler() {
  std::lock_guard lock(dispatchMutex_);
  CDirectoryChangeHandler* real = realHandler_;
  realHandler_ = nullptr;
  return real;
}

void CDelayedDirectoryChangeHandler::post(ChangeKind kind, const std::string& name,
                                          const std::string& newName, std::error_code error) {
  notifier_->Post(std::make_unique<CChangeNotification>(this, kind, name, newName, error, offset_));
}

void CDelayedDirectoryChangeHandler::NotifyAdded(const std::string& path) {
  post(ChangeKind::Added, path, {}, {});
}
void CDelayedDirectoryChangeHandler::NotifyRemoved(const std::string& path) {
  post(ChangeKind::Removed, path, {}, {});
}
void CDelayedDirectoryChangeHandler::NotifyModified(const std::string& path) {
  post(ChangeKind::Modified, path, {}, {});
}
void CDelayedDirectoryChangeHandler::NotifyRenamed(const std::string& oldPath,
                                                   const std::string& newPath) {
  post(ChangeKind::Renamed, oldPath, newPath, {});
}
void CDelayedDirectoryChangeHandler::NotifyReadError(std::error_code error,
                                                     const std::string& directory) {
  post(ChangeKind::ReadError, directory, {}, error);
}
void CDelayedDirectoryChangeHandler::NotifyRemounted(const std::string& path) {
  post(ChangeKind::Remounted, path, {}, {});
}
void CDelayedDirectoryChangeHandler::NotifyWatchStarted(std::error_code error,
                                                        const std::string& directory) {
  if (!(options_ & WF_NO_START_NOTICE)) post(ChangeKind::WatchStarted, directory, {}, error);
}

void CDelayedDirectoryChangeHandler::NotifyWatchStopped(const std::string& directory) {
  if (options_ & WF_NO_STOP_NOTICE) return;
  stopDispatched_.reset();
  if (!notifier_->Post(std::make_unique<CChangeNotification>(
          this, ChangeKind::WatchStopped, directory, std::string(), std::error_code(), offset_))) {
    return;  // nothing will be dispatched
  }
  CDelayedNotificationThread::DispatchUntil(stopDispatched_);
}

bool CDelayedDirectoryChangeHandler::passes(std::string_view path) const {
  return (includes_.empty() || includes_.matchesAny(path)) && !excludes_.matchesAny(path);
}

bool CDelayedDirectoryChangeHandler::Accepts(const CChangeNotification& n,
                                             CDirectoryChangeHandler& real) const {
  if ((options_ & WF_NO_PATTERNS) && (options_ & WF_NO_HANDLER_TEST)) return true;
  // Notices about the watch itself; a remount says that changes may have
  // been missed below a folder, which no pattern makes less true.
  if (n.kind == ChangeKind::ReadError || n.kind == ChangeKind::WatchStarted ||
      n.kind == ChangeKind::WatchStopped || n.kind == ChangeKind::Remounted) {
    return true;
  }
  const bool rename = n.kind == ChangeKind::Renamed;
  const std::string* newName = rename ? &n.newName : nullptr;
  const bool askHandler = !(options_ & WF_NO_HANDLER_TEST);
  if ((options_ & WF_HANDLER_FIRST) && askHandler && !real.AcceptChange(n.kind, n.name, newName)) {
    return false;
  }
  if (!(options_ & WF_NO_PATTERNS)) {
    auto tested = [&](const std::string& path) -> std::string_view {
      size_t offset = 0;
      if (options_ & WF_NAME_ONLY) {
        const size_t slash = path.rfind('/');
        offset = slash == std::string::npos ? 0 : slash + 1;
      } else if (options_ & WF_RELATIVE_PATH) {
        offset = n.relativeOffset;
      }
      return std::string_view(path).substr(std::min(offset, path.size()));
    };
    // A rename is reported when either of its names passes.
    if (!passes(tested(n.name)) && !(rename && passes(tested(n.newName)))) return false;
  }
  if (options_ & (WF_HANDLER_FIRST | WF_NO_HANDLER_TEST)) return true;
  return real.AcceptChange(n.kind, n.name, newName);
}

void CDelayedDirectoryChangeHandler::deliver(const CChangeNotification& n) {
  std::lock_guard lock(dispatchMutex_);
  CDirectoryChangeHandler* real = realHandler_;
  if (!real) return;  // the watch ended before this was dispatched
  if (!Accepts(n, *real)) return;
  switch (n.kind) {
    case ChangeKind::Added:
      real->NotifyAdded(n.name);
      break;
    case ChangeKind::Removed:
      real->NotifyRemoved(n.name);
      break;
    case ChangeKind::Modified:
      real->NotifyModified(n.name);
      break;
    case ChangeKind::Renamed:
      real->NotifyRenamed(n.name, n.newName);
      break;
    case ChangeKind::ReadError:
      real->NotifyReadError(n.error, n.name);
      break;
    case ChangeKind::WatchStarted:
      real->NotifyWatchStarted(n.error, n.name);
      break;
    case ChangeKind::WatchStopped:
      real->NotifyWatchStopped(n.name);
      break;
    case ChangeKind::Remounted:
      real->NotifyRemounted(n.name);
      break;
  }
}

void CDelayedDirectoryChangeHandler::Dispatch(NotificationPtr notification) {
  CDelayedDirectoryChangeHandler& handler = *notification->handler;
  try {
    handler.deliver(*notification);
  } catch (const std::exception& e) {
    // A receiver's failure costs that one notification, never the thread.
    log_write(kLogError, "monitor", "change notification for [%s] failed: %s",
              notification->name.c_str(), e.what());
  } catch (...) {
    log_write(kLogError, "monitor", "change notification for [%s] failed",
              notification->name.c_str());
  }
  // The stop waits for this whatever the receiver did with it.
  if (notification->kind == ChangeKind::WatchStopped) handler.stopDispatched_.set();
}

}  // namespace varnelo::monitor
