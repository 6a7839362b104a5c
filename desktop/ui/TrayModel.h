// The process-wide data behind the tray: the requested and displayed states,
// the codes of failed files, the per-pass file counters, the account's usage
// and the shut-down-after-sync option. Written by the engine's event sink on
// engine threads and read by the UI thread and the tray watcher.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <utility>

namespace varnelo::desktop {

struct Quota {
  int64_t used = 0;
  int64_t total = 0;
};

class TrayModel {
 public:
  // The state the listener last reported and the one the tray shows. The
  // watcher reads both without a lock; each is one atomic integer.
  std::atomic<int> requestedState{-1};
  std::atomic<int> displayedState{-1};
  // When the displayed state became 0 (ms on the tray's clock), -1 when not 0.
  std::atomic<int64_t> idleSinceMs{-1};
  std::atomic<bool> shutdownAfterSync{false};

  void clearErrors();
  void addError(int code);
  std::set<int> errors() const;
  bool hasErrors() const;

  void countDownloaded();
  void countUploaded();
  // The counters (uploaded, downloaded) since the last completion; reset.
  std::pair<int, int> takeCounts();

  // The usage record; all zero = not fetched.
  Quota quota() const;
  void setQuota(const Quota& quota);
  void forgetQuota();

  // After an unlink: counters and usage start again.
  void resetForUnlink();

 private:
  mutable std::mutex mutex_;  // guards everything below
  std::set<int> errors_;
  int uploaded_ = 0;
  int downloaded_ = 0;
  Quota quota_;
};

}  // namespace varnelo::desktop
