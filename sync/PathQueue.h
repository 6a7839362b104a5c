// A de-duplicating first-in-first-out set of path texts: the updating set
// (local changes waiting for the upload path) and the retry set (failed
// uploads). Monitor events add from the event thread, the sync thread takes.
// One suppressed path (the file the download path is writing) is refused.
// A path whose latest event was its rename to another synced name is marked:
// its absence is no deletion of content, so it needs no deletion gathering.
// A waker event, when set, is signalled after every path that joins, so the
// sync thread's idle loop need not wait for its next tick. Thread safe.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace platform {
class Event;
}

namespace varnelo {

class PathQueue {
 public:
  // False when the path is suppressed or already queued. Clears the mark
  // of a path renamed away: this event is its latest.
  bool add(const std::string& path);
  // Queues both names of a rename inside the synced set at once (one wake),
  // the old one marked as renamed away.
  void addRename(const std::string& oldPath, const std::string& newPath);
  std::optional<std::string> take();
  // Everything queued, in order; `renamedAway` (when given) receives the
  // paths of it marked as renamed away, each with the name it went to.
  std::vector<std::string> takeAll(
      std::unordered_map<std::string, std::string>* renamedAway = nullptr);
  void clear();
  bool empty() const;
  size_t size() const;
  // True when `test` holds for a queued path not marked as renamed away,
  // asked in queue order until it does. Adds wait meanwhile, so `test` must
  // be cheap (a stat).
  bool anyNotRenamedAway(const std::function<bool(const std::string&)>& test) const;

  // Signalled after each add that queued a path (null: none). The event must
  // outlive the queue or be cleared before it goes.
  void setWaker(platform::Event* event) { waker_.store(event); }

  // While a path is suppressed (the engine is placing a file there), adds
  // of it are refused.
  void setSuppressed(const std::string& path);
  void clearSuppressed();
  bool isSuppressed(const std::string& path) const;

 private:
  mutable std::mutex mutex_;  // guards everything below
  // Adds under the lock; false when suppressed or already queued.
  bool addLocked(const std::string& path);
  bool suppressesLocked(const std::string& path) const;
  void wake();

  // Each path is stored once, in `order_`; `members_` views its text there
  // (a deque keeps its elements in place when either end changes), and a
  // view goes before the path it shows is taken or cleared.
  std::deque<std::string> order_;
  std::unordered_set<std::string_view> members_;
  // Members marked as renamed away → the name each went to.
  std::unordered_map<std::string, std::string> renamedAway_;
  std::string suppressed_;
  std::atomic<platform::Event*> waker_{nullptr};
};

}  // namespace varnelo
