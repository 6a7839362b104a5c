// A de-duplicating first-in-first-out set of path texts: the updating set
// (local changes waiting for the upload path) and the retry set (failed
// uploads). Monitor events add from the event thread, the sync thread takes.
// One suppressed path (the file the download path is writing) is refused.
// A waker event, when set, is signalled after every path that joins, so the
// sync thread's idle loop need not wait for its next tick. Thread safe.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace platform {
class Event;
}

namespace varnelo {

class PathQueue {
 public:
  // False when the path is suppressed or already queued.
  bool add(const std::string& path);
  std::optional<std::string> take();
  std::vector<std::string> takeAll();
  void clear();
  bool empty() const;
  size_t size() const;
  // True when `test` holds for a queued path, asked in queue order until it
  // does. Adds wait meanwhile, so `test` must be cheap (a stat).
  bool any(const std::function<bool(const std::string&)>& test) const;

  // Signalled after each add that queued a path (null: none). The event must
  // outlive the queue or be cleared before it goes.
  void setWaker(platform::Event* event) { waker_.store(event); }

  void setSuppressed(const std::string& path);
  void clearSuppressed();

 private:
  mutable std::mutex mutex_;  // guards everything below
  std::unordered_set<std::string> members_;
  std::deque<std::string> order_;
  std::string suppressed_;
  std::atomic<platform::Event*> waker_{nullptr};
};

}  // namespace varnelo
