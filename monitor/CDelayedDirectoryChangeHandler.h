// CDelayedDirectoryChangeHandler: stands in front of a receiver for one
// watch. The watcher's worker calls its Notify* slots; each becomes a
// CChangeNotification posted to the dispatch thread, where the patterns and
// filter options are applied and the receiver (the "real handler") is
// called. So receivers run on one known thread, in the order the changes
// were reported, and the worker never waits for them.
//
// Thread safety: Notify* are called by the worker (NotifyWatchStopped by the
// thread that stops the watch); Dispatch runs on the dispatch thread;
// TakeOutRealHandler may be called from any thread and waits for a delivery
// in progress, so that none is under way once it returns.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "CChangeNotification.h"
#include "CDelayedNotifier.h"
#include "CDirectoryChangeHandler.h"
#include "PatternList.h"
#include "platform/sync_primitives.h"

namespace varnelo::monitor {

class CDelayedDirectoryChangeHandler final : public CDirectoryChangeHandler {
 public:
  // Takes a reference on `realHandler`, released by TakeOutRealHandler's
  // caller. Pattern texts are ";"-separated (empty: none).
  CDelayedDirectoryChangeHandler(CDirectoryChangeHandler* realHandler,
                                 std::unique_ptr<CDelayedNotifier> notifier,
                                 std::string_view includePatterns, std::string_view excludePatterns,
                                 uint32_t filterOptions);

  // With WF_RELATIVE_PATH, patterns are tested from this offset on: the
  // length of the watched folder's path plus its separator.
  void SetPartialPathOffset(const std::string& watchedDirectory);
  size_t PartialPathOffset() const { return offset_; }

  // Ends delivery: returns the real handler (the caller owns its reference)
  // and leaves null, so notifications still queued are dropped.
  CDirectoryChangeHandler* TakeOutRealHandler();

  void NotifyAdded(const std::string& path) override;
  void NotifyRemoved(const std::string& path) override;
  void NotifyRenamed(const std::string& oldPath, const std::string& newPath) override;
  void NotifyModified(const std::string& path) override;
  void NotifyReadError(std::error_code error, const std::string& directory) override;
  void NotifyWatchStarted(std::error_code error, const std::string& directory) override;
  void NotifyRemounted(const std::string& path) override;
  // Posts the watch-stopped notification and returns once it has been
  // dispatched, that is, after everything posted before it.
  void NotifyWatchStopped(const std::string& directory) override;

  // Delivers one notification (dispatch thread) and frees it.
  static void Dispatch(NotificationPtr notification);

  // The filter test at dispatch: whether `notification` reaches `real`.
  bool Accepts(const CChangeNotification& notification, CDirectoryChangeHandler& real) const;

 private:
  ~CDelayedDirectoryChangeHandler() override = default;
  void post(ChangeKind kind, const std::string& name, const std::string& newName,
            std::error_code error);
  void deliver(const CChangeNotification& notification);
  bool passes(std::string_view path) const;

  // Held while a notification is delivered to the real handler and while the
  // real handler is taken out. Recursive: a receiver may stop its own watch
  // from inside a callback.
  std::recursive_mutex dispatchMutex_;
  CDirectoryChangeHandler* realHandler_;  // guarded by dispatchMutex_; counted reference
  const std::unique_ptr<CDelayedNotifier> notifier_;
  const uint32_t options_;
  size_t offset_ = 0;  // set before the watch reports anything
  const PatternList includes_;
  const PatternList excludes_;
  platform::Event stopDispatched_{platform::Event::Reset::Manual};
};

}  // namespace varnelo::monitor
