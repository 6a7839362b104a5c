// IdleTask: the sync thread's loop. Every pass runs, in this order: a local
// scan when one is asked for, the queued local changes, a flush of the retry
// set when the retry interval has passed, and a remote pass when the poll
// interval has passed. A full local scan runs every local scan interval (and
// once every poll interval when the local folder cannot be watched). While
// the sync folder is missing or replaced (unmounted) a pass does nothing.
//
// The first pass runs at once. Between passes the loop sleeps until the next
// of those deadlines, a path joining the updating set, a resume, a rescan
// notice or a stop wakes it, and never longer than kMaxSleepMs; so a change
// reaches the service without waiting for a tick, and an idle engine does
// not wake twice a second for nothing.
//
// run() belongs to the sync thread. stop(), the pause/resume hooks and the
// counters may be used from any thread: flags and ticks are atomics.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "Context.h"
#include "DeletionHold.h"
#include "SmallUploads.h"
#include "platform/sync_primitives.h"

namespace varnelo::sync {

class IdleTask {
 public:
  // The longest sleep between two passes when nothing is due (a folder that
  // can no longer be watched is noticed within it).
  static constexpr uint32_t kMaxSleepMs = 5000;
  // Queued changes that include a deletion (a queued path gone here) are
  // taken once none came for kQuietMs (at most kGatherMs), so a folder
  // deleted at once is handed over as one batch, the batch whose deletions
  // the deletion guard weighs. Edits, new files and renames inside the
  // synced folder go at once.
  static constexpr uint32_t kQuietMs = 80;
  static constexpr uint32_t kGatherMs = 2000;

  struct Intervals {
    uint32_t remotePollMs = 60000;
    uint32_t retryMs = 120000;
    // A full local scan at least this often, for changes the monitor missed
    // or suppressed (0: only after starts, resumes and overflows).
    uint32_t localScanMs = 600000;
  };
  // True while the sync folder is watched; false makes every poll interval
  // bring a local scan. May be empty (always watched).
  using WatchProbe = std::function<bool()>;

  // Registers itself as the waker of the context's updating set.
  IdleTask(Context& context, Intervals intervals, WatchProbe probe);
  ~IdleTask();
  IdleTask(const IdleTask&) = delete;
  IdleTask& operator=(const IdleTask&) = delete;

  // Passes until stop() (sync thread).
  void run();
  // Ends the loop within one pass; safe before run() starts.
  void stop() {
    stopping_ = true;
    wake_.set();
  }

  // Application thread, under the file syncer's lock.
  void paused() { rescanLocal_ = false; }
  void resumed(bool recheckAll);
  // Changes were lost (monitor overflow): the next pass scans the folder.
  void requestRescan() {
    rescanLocal_ = true;
    wake_.set();
  }
  // A change the service reports brings a remote pass once no further one
  // came for kRemoteQuietMs (at most kRemoteGatherMs after the first): a
  // burst from another computer (a folder renamed: the old name taken away,
  // the new one filled) is then listed once it is whole, not half-way.
  static constexpr uint32_t kRemoteQuietMs = 500;
  static constexpr uint32_t kRemoteGatherMs = 1500;

  // The service reported a change of the remote tree (any thread): a remote
  // pass runs as said above, whatever the poll interval says. Kept until a
  // remote pass starts, so a change reported during one brings another.
  void remoteChanged();
  // Held deletions were confirmed: both sides look again at the next pass.
  void deletionsConfirmed() {
    rescanLocal_ = true;
    lastRemoteTick_ = 0;
    wake_.set();
  }
  // Held deletions are to be brought back (DeletionHold::restore): the next
  // pass does that first, then looks at both sides again. A paused engine
  // does it once resumed.
  void deletionsKept() { wake_.set(); }
  // True while a scan or a remote pass is due at the next pass regardless of
  // the intervals, a remote deletion is still to be finished, or kept
  // deletions wait to be brought back (the engine has not caught up yet).
  bool workPending() const {
    const sync::DeletionHold* hold = context_.deletions();
    return rescanLocal_ || holdsPending_ || (hold && hold->restorePending()) ||
           ((context_.mode() & kSyncRemoteChanges) && (lastRemoteTick_ == 0 || remoteChanged_));
  }

  uint64_t localScans() const { return localScans_.load(); }
  uint64_t remotePasses() const { return remotePasses_.load(); }
  // True while a pass is doing work (between passes it is false).
  bool busy() const { return busy_.load(); }

 private:
  void pass();
  // Brings back what the user chose to keep; both sides are looked at again.
  void keepHeldDeletions();
  void scanLocal(uint64_t now);
  // `afterScan`: the queue holds what a local scan just found.
  void uploadQueued(bool afterScan);
  // Paths queued (by new folders going up) after which the rest of a batch
  // waits until they are handled.
  static constexpr size_t kQueuedBeforeDeeper = 4096;
  void flushRetries(uint64_t now);
  void remotePass(uint64_t now);
  void checkWatch(uint64_t now);
  // False while the sync folder is missing or not the one synced before:
  // then the pass does nothing at all. Asked every pass while it holds, and
  // once per poll interval while it does not.
  bool rootHolds(uint64_t now);
  // Milliseconds from `now` until the reported changes are due (0: now).
  uint64_t untilRemoteSettled(uint64_t now) const;
  // Milliseconds from `now` until the next pass has something due.
  uint32_t sleepMs(uint64_t now) const;
  // While a queued deletion is among the queued paths: waits for the burst
  // to end.
  void gather();

  Context& context_;
  const Intervals intervals_;
  const WatchProbe probe_;
  // Set by stop(), resumes, rescan notices and every path queued for upload;
  // a pass consumes what was set before it started.
  platform::Event wake_{platform::Event::Reset::Auto};
  std::atomic<bool> stopping_{false};

  std::atomic<bool> rescanLocal_{true};  // the first pass of a run scans
  std::atomic<bool> recheckAll_{false};
  std::atomic<uint64_t> recheckDeadline_{0};
  std::atomic<uint64_t> lastRemoteTick_{0};     // 0: due at the next pass
  std::atomic<bool> remoteChanged_{false};      // a reported change awaits a remote pass
  std::atomic<uint64_t> firstRemoteChange_{0};  // tick of the first of them, 0: none
  std::atomic<uint64_t> lastRemoteChange_{0};   // tick of the latest
  std::atomic<uint64_t> lastRetryTick_;         // 0: due at the next pass
  uint64_t lastWatchCheck_ = 0;                 // sync thread only
  uint64_t lastLocalScan_ = 0;                  // sync thread only: start of the last scan
  bool periodicScan_ = false;                   // sync thread only: the pending scan is periodic
  bool watchReported_ = false;                  // sync thread only: logged once per run
  bool rootHeld_ = true;                        // sync thread only: the last root check
  int rootCode_ = 200;                          // sync thread only: its code
  uint64_t lastRootCheck_ = 0;                  // sync thread only
  bool unwatched_ = false;                      // sync thread only: the last probe said so
  std::atomic<uint64_t> localScans_{0};
  std::atomic<uint64_t> remotePasses_{0};
  std::atomic<bool> busy_{false};
  // Remote files taken aside whose deletion is still to be finished.
  std::atomic<bool> holdsPending_{false};
  uploader::SmallUploads uploads_;  // sync thread only; empty between passes
};

}  // namespace varnelo::sync
